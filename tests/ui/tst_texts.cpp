#include <QTest>

#include "ui/texts.h"

using namespace sonavel;

class TextsTest : public QObject {
    Q_OBJECT
private slots:
    void languageFollowsFirstPreferredOnly_data();
    void languageFollowsFirstPreferredOnly();
    void everyKeyHasBothLanguages();
};

void TextsTest::languageFollowsFirstPreferredOnly_data() {
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<bool>("japanese");
    QTest::newRow("ja-JP") << QStringList{"ja-JP"} << true;
    QTest::newRow("ja") << QStringList{"ja"} << true;
    QTest::newRow("ja-Jpan-JP") << QStringList{"ja-Jpan-JP", "en"} << true;
    QTest::newRow("en-US then ja-JP") << QStringList{"en-US", "ja-JP"} << false;
    QTest::newRow("JA upper case") << QStringList{"JA"} << false;
    QTest::newRow("empty list") << QStringList{} << false;
    QTest::newRow("empty first entry") << QStringList{"", "ja"} << false;
}

void TextsTest::languageFollowsFirstPreferredOnly() {
    QFETCH(QStringList, languages);
    QFETCH(bool, japanese);
    QCOMPARE(languageFor(languages) == Language::Japanese, japanese);
    QCOMPARE(text(TextKey::statusIdle, languages), japanese ? QString("待機中") : QString("Idle"));
}

void TextsTest::everyKeyHasBothLanguages() {
    for (int k = 0; k <= int(TextKey::silentToolMissing); ++k) {
        const auto key = TextKey(k);
        QVERIFY2(!text(key, Language::English).isEmpty(), qPrintable(QString::number(k)));
        QVERIFY2(!text(key, Language::Japanese).isEmpty(), qPrintable(QString::number(k)));
    }
    QCOMPARE(text(TextKey::guideConnectionReady, Language::English),
             QString("Connection is ready. Turn on the switch in the device row to start audio "
                     "relay."));
}

QTEST_GUILESS_MAIN(TextsTest)
#include "tst_texts.moc"
