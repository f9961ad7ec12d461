#include <QTest>

#include "ui/texts.h"

using namespace sonavel;

class TextsTest : public QObject {
    Q_OBJECT
private slots:
    void languageFollowsFirstPreferredOnly_data();
    void languageFollowsFirstPreferredOnly();
    void twoReadyEntriesDifferInJapanese();
    void setupGuideLines();
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

void TextsTest::twoReadyEntriesDifferInJapanese() {
    QCOMPARE(text(TextKey::readyToConnect, Language::English), QString("Ready"));
    QCOMPARE(text(TextKey::ready, Language::English), QString("Ready"));
    QCOMPARE(text(TextKey::readyToConnect, Language::Japanese), QString("接続準備完了"));
    QCOMPARE(text(TextKey::ready, Language::Japanese), QString("準備完了"));
    // Ellipsis entries use the single character, not three dots.
    QCOMPARE(text(TextKey::reconnecting, Language::English), QString("Reconnecting\u2026"));
    QCOMPARE(text(TextKey::statusStopping, Language::Japanese), QString("停止中\u2026"));
}

void TextsTest::setupGuideLines() {
    const QStringList english = text(TextKey::guideSetup, Language::English).split('\n');
    const QStringList japanese = text(TextKey::guideSetup, Language::Japanese).split('\n');
    // Both begin and end with a line feed; Japanese has one line fewer.
    QCOMPARE(english.size(), 17);
    QCOMPARE(japanese.size(), 16);
    QCOMPARE(english.first(), QString());
    QCOMPARE(english.last(), QString());
    QCOMPARE(japanese.first(), QString());
    QCOMPARE(japanese.last(), QString());
    QCOMPARE(english.at(5), QString("Settings → About phone → Tap Build Number 8 times"));
    QCOMPARE(english.at(15), QString("Apple Developer notarized"));
    QCOMPARE(japanese.at(3), QString("1. Androidの「開発者オプション」を有効化"));
    QCOMPARE(japanese.at(13),
             QString("同じWi-Fiネットワーク上の端末のみ通信します。外部送信は行われません。"));
    QCOMPARE(japanese.at(14), QString("Apple Developerの公証を取得済です。"));
    for (int i : {0, 2, 4, 6, 8, 10, 12, 14, 16}) {
        QVERIFY2(english.at(i).isEmpty(), qPrintable(QString::number(i)));
    }
}

void TextsTest::everyKeyHasBothLanguages() {
    for (int k = 0; k <= int(TextKey::stopAlert); ++k) {
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
