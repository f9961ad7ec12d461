#include <QProcess>
#include <QTest>
#include <atomic>
#include <csignal>

#include "app/controller.h"
#include "app/scrcpy_cleanup.h"
#include "support/test_support.h"

using namespace sonavel;
using namespace sonavel::test;

class ControllerTest : public QObject {
    Q_OBJECT
private slots:
    void observersAreToldBeforeTheChange();
    void guideTextFollowsItsOrder();
    void backgroundWorkFindsDestroyedControllerGone();
    void cleanupPatternEscapesThePath();
    void startupCleanupEndsOnlyOurScrcpy();
};

void ControllerTest::observersAreToldBeforeTheChange() {
    TestEnvironment env(nullptr);
    ZovAdizuZadiRizov c(env.config);
    QList<bool> seen;
    connect(&c, &ZovAdizuZadiRizov::willChange, this, [&] { seen << c.isRunning(); });
    c.isRunning.set(true);
    c.isRunning.set(true);
    QCOMPARE(seen, (QList<bool>{false, true}));
    QCOMPARE(c.isRunning(), true);
}

void ControllerTest::guideTextFollowsItsOrder() {
    TestEnvironment env(nullptr);
    ZovAdizuZadiRizov c(env.config);
    QVERIFY(c.connectionGuideText().startsWith("\nConnect Android to your Mac via USB."));
    c.isUSBDeviceConnected.set(true);
    QCOMPARE(c.connectionGuideText(), QString("Android detected. Preparing wireless connection."));
    DiscoveredDevice wireless{QUuid::createUuid(),      "10.0.0.2:5555", "Pixel_7", "device",
                              QString("10.0.0.2:5555"), kTransportTCPIP};
    DiscoveredDevice noIp = wireless;
    noIp.ip = QString();
    c.connectedTCPIPDevices.set({noIp});
    QVERIFY(!c.hasWirelessDeviceWithIP());
    c.connectedTCPIPDevices.set({noIp, wireless});
    QVERIFY(c.hasWirelessDeviceWithIP());
    QCOMPARE(c.connectionGuideText(),
             QString("Connection is ready. Turn on the switch in the device row to start audio "
                     "relay."));
    // Any registered process counts as an active relay, even with scrcpyActive false.
    c.scrcpyProcesses.insert("10.0.0.2:5555", nullptr);
    QCOMPARE(c.connectionGuideText(),
             QString("Audio relay is active. Android audio is being relayed to your Mac."));
    c.scrcpyProcesses.clear();
    c.scrcpyActive.set(true);
    QVERIFY(c.connectionGuideText().startsWith("Audio relay is active."));
    // The language is looked up at every call.
    auto language = std::make_shared<QString>("en");
    env.config.preferredLanguages = [language] { return QStringList{*language}; };
    ZovAdizuZadiRizov jp(env.config);
    *language = "ja-JP";
    QCOMPARE(jp.connectionGuideText().split('\n').value(1),
             QString("AndroidをUSBでMacに接続してください。"));
}

void ControllerTest::backgroundWorkFindsDestroyedControllerGone() {
    TestEnvironment env(nullptr);
    auto c = std::make_unique<ZovAdizuZadiRizov>(env.config);
    const ControllerRef ref = c->ref();
    std::atomic<int> ran{0};
    std::atomic<bool> posted{false};
    std::atomic<bool> stepRan{false};
    // Queued before destruction, started after: nothing happens.
    dispatchAfter(
        QoS::UserInitiated, std::chrono::milliseconds(50), [ref, &ran, &posted, &stepRan] {
            ref.runInBackground(QoS::UserInitiated, [&ran](const ControllerRef&) { ++ran; });
            ref.post([&stepRan](ZovAdizuZadiRizov&) { stepRan = true; });
            posted = true;
        });
    c.reset();
    QVERIFY(!ref.alive());
    QVERIFY(waitUntil([&] { return posted.load(); }));
    QTest::qWait(50);
    QCOMPARE(ran.load(), 0);
    QVERIFY(!stepRan);
    QCOMPARE(ref.read([](ZovAdizuZadiRizov&) { return 1; }), std::nullopt);
}

void ControllerTest::cleanupPatternEscapesThePath() {
    QCOMPARE(bundledScrcpyPattern("/Apps/So.navel (1)/share"),
             QString("^/Apps/So\\.navel \\(1\\)/share/scrcpy( |$)"));
    QCOMPARE(bundledScrcpyPattern("/opt/c++/[x]$"),
             QString("^/opt/c\\+\\+/\\[x\\]\\$/scrcpy( |$)"));
}

void ControllerTest::startupCleanupEndsOnlyOurScrcpy() {
    FakeResources res;
    res.installFake("scrcpy", "when .*\nhang\n");
    // A stray relay of an earlier run: our bundled scrcpy.
    QProcess ours;
    ours.start(res.path("scrcpy"), {"-s", "10.0.0.2:5555", "--no-window"});
    QVERIFY(ours.waitForStarted());
    // Not ours: the user's own tools whose command lines merely mention scrcpy.
    QProcess decoy;
    decoy.start("/bin/sh", {"-c", "sleep 60 # scrcpy --no-window", "scrcpy"});
    QVERIFY(decoy.waitForStarted());
    FakeResources other;
    other.installFake("scrcpy", "when .*\nhang\n");
    QProcess othersScrcpy;
    othersScrcpy.start(other.path("scrcpy"), {"-s", "x"});
    QVERIFY(othersScrcpy.waitForStarted());

    TestEnvironment env(&res);
    ZovAdizuZadiRizov c(env.config);
    QVERIFY(waitForLog(c, "[Startup] Cleaned existing scrcpy processes"));
    QVERIFY(waitUntil([&] { return ours.state() == QProcess::NotRunning; }));
    QCOMPARE(ours.exitStatus(), QProcess::CrashExit);
    QCOMPARE(decoy.state(), QProcess::Running);
    QCOMPARE(othersScrcpy.state(), QProcess::Running);
    decoy.kill();
    othersScrcpy.kill();
    decoy.waitForFinished();
    othersScrcpy.waitForFinished();

    // A clean-up tool that cannot start is only logged.
    env.config.pkillPath = res.path("no-such-pkill");
    ZovAdizuZadiRizov failing(env.config);
    QVERIFY(waitUntil([&] {
        const QStringList m = logMessages(failing.logs());
        return std::any_of(m.begin(), m.end(), [](const QString& s) {
            return s.startsWith("[Startup] Failed to cleanup scrcpy: ");
        });
    }));
}

QTEST_GUILESS_MAIN(ControllerTest)
#include "tst_controller.moc"
