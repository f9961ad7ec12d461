#include <QFile>
#include <QTest>

#include "app/controller.h"
#include "settings/endpoint_maps.h"
#include "support/test_support.h"

using namespace sonavel;
using namespace sonavel::test;

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void mapsRoundTripAsCompactJson();
    void corruptOrMistypedMapsAreRejectedWhole_data();
    void corruptOrMistypedMapsAreRejectedWhole();
    void firstLaunchOnEmptyStore();
    void storedValuesAreLoaded();
    void valuesWrittenByAnotherProcessReadBack();
    void corruptMapIsReplacedAtNextSave();
    void audioBufferOfZeroKeepsDefault();
};

void SettingsTest::mapsRoundTripAsCompactJson() {
    const QMap<QString, bool> video{{"192.168.1.20:5555", true}, {"R58M12345", false}};
    QCOMPARE(encodeBoolMap(video), QByteArray(R"({"192.168.1.20:5555":true,"R58M12345":false})"));
    QCOMPARE(decodeBoolMap(encodeBoolMap(video)), std::optional(video));
    const QMap<QString, int> buffers{{"10.0.0.2:5555", 150}, {"x\"y", -40}};
    QCOMPARE(decodeIntMap(encodeIntMap(buffers)), std::optional(buffers));
    QCOMPARE(encodeIntMap({}), QByteArray("{}"));
    QCOMPARE(decodeIntMap("{}"), std::optional(QMap<QString, int>{}));
}

void SettingsTest::corruptOrMistypedMapsAreRejectedWhole_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("not json") << QByteArray("{not json");
    QTest::newRow("array") << QByteArray("[true]");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("one wrong value") << QByteArray(R"({"a":true,"b":"yes"})");
    QTest::newRow("fraction") << QByteArray(R"({"a":true,"b":150.5})");
    QTest::newRow("beyond int") << QByteArray(R"({"a":true,"b":1e12})");
}

void SettingsTest::corruptOrMistypedMapsAreRejectedWhole() {
    QFETCH(QByteArray, bytes);
    // Neither decoder may return part of a corrupt object.
    QCOMPARE(decodeBoolMap(bytes), std::nullopt);
    QCOMPARE(decodeIntMap(bytes), std::nullopt);
}

void SettingsTest::firstLaunchOnEmptyStore() {
    TestEnvironment env(nullptr);
    ZovAdizuZadiRizov c(env.config);
    QVERIFY(c.setupCompleted());
    QVERIFY(env.settings()->value("setupCompleted").toBool());
    QVERIFY(waitForLog(c, "[Startup] Cleaned existing scrcpy processes"));
    QCOMPARE(c.audioBufferMs(), 200);
    QCOMPARE(c.endpoint(), QString());
    QVERIFY(c.videoEnabledByEndpoint().isEmpty());
    QVERIFY(c.audioBufferMsByEndpoint().isEmpty());
    QVERIFY(!logMessages(c.logs()).join('\n').contains("loadEndpoint"));
}

void SettingsTest::storedValuesAreLoaded() {
    TestEnvironment env(nullptr);
    {
        auto s = env.settings();
        s->setValue("endpoint", "192.168.1.20:5555");
        s->setValue("audioBufferMs", 350);
        s->setValue("videoEnabledByEndpoint", QByteArray(R"({"192.168.1.20:5555":true})"));
        s->setValue("audioBufferMsByEndpoint", QByteArray(R"({"192.168.1.20:5555":120})"));
    }
    ZovAdizuZadiRizov c(env.config);
    // The maps are there when creation ends; endpoint and buffer arrive on the main queue later.
    QCOMPARE(c.videoEnabledByEndpoint(), (QMap<QString, bool>{{"192.168.1.20:5555", true}}));
    QCOMPARE(c.audioBufferMsByEndpoint(), (QMap<QString, int>{{"192.168.1.20:5555", 120}}));
    QCOMPARE(c.audioBufferMs(), 200);
    QVERIFY(waitForLog(c, "[Debug] loadAudioBuffer set to 350 ms"));
    QVERIFY(waitForLog(c, "[Debug] loadEndpoint set to 192.168.1.20:5555"));
    QCOMPARE(c.audioBufferMs(), 350);
    QCOMPARE(c.endpoint(), QString("192.168.1.20:5555"));
}

void SettingsTest::valuesWrittenByAnotherProcessReadBack() {
    // The Linux settings file gives every value back as text in a new process; an empty stored
    // endpoint is applied too.
    TestEnvironment env(nullptr);
    QFile file(env.settingsPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nsetupCompleted=true\naudioBufferMs=260\nendpoint=\n");
    file.close();
    ZovAdizuZadiRizov c(env.config);
    QVERIFY(c.setupCompleted());
    QVERIFY(waitForLog(c, "[Debug] loadAudioBuffer set to 260 ms"));
    QVERIFY(waitForLog(c, "[Debug] loadEndpoint set to "));
    QCOMPARE(c.audioBufferMs(), 260);
}

void SettingsTest::corruptMapIsReplacedAtNextSave() {
    TestEnvironment env(nullptr);
    env.settings()->setValue("videoEnabledByEndpoint", QByteArray("{\"a\":tru"));
    env.settings()->setValue("audioBufferMsByEndpoint", QByteArray(R"({"a":100})"));
    ZovAdizuZadiRizov c(env.config);
    QVERIFY(c.videoEnabledByEndpoint().isEmpty());
    QCOMPARE(c.audioBufferMsByEndpoint().value("a"), 100);
    c.videoEnabledByEndpoint.mutate([](auto& m) { m.insert("10.0.0.5:5555", true); });
    c.savePerEndpointSettings();
    // Both maps are written together, each a valid object.
    QCOMPARE(env.settings()->value("videoEnabledByEndpoint").toByteArray(),
             QByteArray(R"({"10.0.0.5:5555":true})"));
    QCOMPARE(env.settings()->value("audioBufferMsByEndpoint").toByteArray(),
             QByteArray(R"({"a":100})"));
    c.endpoint.set("R58M12345");
    c.saveEndpoint();
    QCOMPARE(env.settings()->value("endpoint").toString(), QString("R58M12345"));
}

void SettingsTest::audioBufferOfZeroKeepsDefault() {
    TestEnvironment env(nullptr);
    env.settings()->setValue("audioBufferMs", 0);
    ZovAdizuZadiRizov c(env.config);
    QVERIFY(waitForLog(c, "[Startup] Cleaned existing scrcpy processes"));
    drainMainQueue();
    QCOMPARE(c.audioBufferMs(), 200);
    QVERIFY(!logMessages(c.logs()).join('\n').contains("loadAudioBuffer"));
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
