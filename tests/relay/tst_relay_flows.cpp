#include <signal.h>

#include <QTest>

#include "relay/scrcpy_process.h"
#include "relay_rig.h"

using namespace sonavel;
using test::RelayRig;
using test::usbRows;
using test::waitUntil;
using test::wirelessRows;

namespace {

const QString kActive = QStringLiteral("Audio relay active");

QStringList launchedEndpoints(const RelayRig& rig) {
    QStringList endpoints;
    for (const QString& line : rig.log()) {
        if (line.startsWith("[AudioRelay] Launching scrcpy for ")) {
            endpoints << line.section(' ', 4, 4).chopped(1);
        }
    }
    return endpoints;
}

}  // namespace

class RelayFlowsTest : public QObject {
    Q_OBJECT
private slots:
    void startRelayPrefersUsbAndLeavesEnabledAlone();
    void startRelaySeedsSeveralAndHonoursSelection();
    void startRelaySkipsWirelessTargetsThatFailToConnect();
    void startRelayChecksTheTools();
    void startRelayWithNothingStartedSaysSo();
    void stopRelayKillsWhatIgnoresSigterm();
    void switchingOffOneOfTwoAndThenTheLast();
    void switchedBackOnWhileItsRelayEnds();
    void perDeviceConnectFailureAndSettingsWithoutRestart();
    void switchedOffDuringItsStartStaysOff();
};

void RelayFlowsTest::startRelayPrefersUsbAndLeavesEnabledAlone() {
    RelayRig rig;
    rig.c->discoveredDevices.set(usbRows({"USB1"}) + wirelessRows({"10.0.0.2:5555"}));
    rig.c->connectedTCPIPDevices.set(wirelessRows({"10.0.0.2:5555", "10.0.0.3:5555"}));
    rig.c->startRelay();
    QVERIFY(waitUntil([&] { return rig.status() == kActive; }));
    QCOMPARE(launchedEndpoints(rig), QStringList{"USB1"});
    QVERIFY(rig.logged("[Debug] USB target selected; skip adb connect: USB1"));
    for (const QStringList& call : rig.resources.arguments("adb")) {
        QVERIFY(call.value(0) != "connect");
    }
    QVERIFY(rig.c->enabledEndpoints().isEmpty());

    // Its end finds nothing enabled: disconnected, no loop.
    ::kill(static_cast<pid_t>(rig.pidOf("USB1")), SIGTERM);
    QVERIFY(waitUntil([&] { return rig.status() == "Disconnected"; }));
    QVERIFY(!rig.c->scrcpyActive() && !rig.c->isRunning() && !rig.c->relayRequested());
    QVERIFY(!rig.c->isReconnecting);
}

void RelayFlowsTest::startRelaySeedsSeveralAndHonoursSelection() {
    {
        RelayRig rig;
        rig.c->discoveredDevices.set(usbRows({"USB1", "USB2"}));
        rig.c->startRelay();
        QVERIFY(waitUntil([&] { return rig.status() == kActive; }));
        QCOMPARE(rig.c->enabledEndpoints(), (QSet<QString>{"USB1", "USB2"}));
        QCOMPARE(launchedEndpoints(rig), (QStringList{"USB1", "USB2"}));
        // A second start while running is refused.
        rig.c->startRelay();
        QVERIFY(rig.waitForLog("[Guard] Relay already running"));
    }
    RelayRig rig;
    rig.c->discoveredDevices.set(usbRows({"USB1", "USB2"}));
    rig.c->enabledEndpoints.set({"ELSEWHERE"});
    rig.c->startRelay();
    QVERIFY(waitUntil([&] { return rig.status() == "No device selected for relay"; }));
    QVERIFY(launchedEndpoints(rig).isEmpty());
    QVERIFY(!rig.c->isRunning());
}

void RelayFlowsTest::startRelaySkipsWirelessTargetsThatFailToConnect() {
    // adb's real answer to a refused connect, with exit status 0.
    RelayRig rig(test::kHangingScrcpy,
                 "when connect 10.0.0.2:5555\n"
                 "out failed to connect to '10.0.0.2:5555': Connection refused\n"
                 "when connect 10.0.0.3:5555\nout connected to 10.0.0.3:5555\n");
    rig.c->connectedTCPIPDevices.set(wirelessRows({"10.0.0.2:5555", "10.0.0.3:5555"}));
    rig.c->startRelay();
    QVERIFY(waitUntil([&] { return rig.status() == kActive; }));
    QCOMPARE(launchedEndpoints(rig), QStringList{"10.0.0.3:5555"});
    QVERIFY(
        rig.logged("[Debug] adb connect output for 10.0.0.2:5555: failed to connect to "
                   "'10.0.0.2:5555': Connection refused\n"));
}

void RelayFlowsTest::startRelayChecksTheTools() {
    struct Case {
        QString missing;
        QString status;
        QString line;
    };
    const QList<Case> cases{
        {"scrcpy", "Required bundled file not found",
         "[Debug] scrcpy not found; cannot start relay"},
        {"adb", "Connection tool not found",
         "[Debug] adb not found or not executable; cannot start relay"},
        {"scrcpy-server", "Required bundled file not found",
         "[Debug] scrcpy-server not found; cannot start relay"},
    };
    for (const Case& check : cases) {
        RelayRig rig;
        rig.c->discoveredDevices.set(usbRows({"USB1"}));
        rig.resources.remove(check.missing);
        rig.c->startRelay();
        QVERIFY2(rig.waitForLog(check.line), qPrintable(check.missing));
        QVERIFY(waitUntil([&] { return rig.status() == check.status; }));
        QCOMPARE(rig.c->silenceCauses(),
                 (QMap<QString, SilenceCause>{{"USB1", SilenceCause::ToolMissing}}));
        QVERIFY(rig.c->relayRequested());
        QVERIFY(!rig.c->isReconnecting);
        QVERIFY(launchedEndpoints(rig).isEmpty());
    }
}

void RelayFlowsTest::startRelayWithNothingStartedSaysSo() {
    {
        RelayRig rig;
        rig.c->startRelay();
        QVERIFY(
            waitUntil([&] { return rig.status() == "Android not found. Check the connection."; }));
        QVERIFY(!rig.c->isRunning() && !rig.c->scrcpyActive());
    }
    // The only launch fails: reported, and since nothing is enabled there is nothing to retry.
    RelayRig rig;
    rig.resources.writeFile("scrcpy", QByteArray("#!/nonexistent/interpreter\n"), true);
    rig.c->discoveredDevices.set(usbRows({"USB1"}));
    rig.c->startRelay();
    QVERIFY(waitUntil(
        [&] { return rig.status() == "Could not start audio relay. Reconnecting\u2026"; }));
    QVERIFY(rig.c->relayRequested() && !rig.c->isRunning() && !rig.c->scrcpyActive());
    QVERIFY(!rig.c->isReconnecting);
    QVERIFY(rig.c->scrcpyProcesses.isEmpty());
}

void RelayFlowsTest::stopRelayKillsWhatIgnoresSigterm() {
    RelayRig rig("when -s STUBBORN .*\nignore-term\nout ready\nhang\nwhen .*\nhang\n");
    rig.c->discoveredDevices.set(usbRows({"STUBBORN", "MILD"}));
    rig.c->startRelay();
    QVERIFY(waitUntil([&] { return rig.status() == kActive; }));
    QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 2; }));
    QVERIFY(rig.waitForLog("[scrcpy][STUBBORN] ready"));
    rig.c->stopRelay();
    QVERIFY(rig.waitForLog("[Debug] Relay stopped and all processes terminated"));
    QVERIFY(rig.waitForLog("[Debug] scrcpy terminated for STUBBORN status=9"));
    QCOMPARE(rig.status(), QString("Idle"));
    QVERIFY(rig.c->scrcpyProcesses.isEmpty() && rig.c->scrcpyOutputPipes.isEmpty() &&
            rig.c->scrcpyErrorPipes.isEmpty());
    QVERIFY(!rig.c->isRunning() && !rig.c->scrcpyActive() && !rig.c->relayRequested());
    // The stop stays a stop: the loop does not bring them back.
    QTest::qWait(60);
    QVERIFY(!rig.c->isReconnecting);
    QCOMPARE(rig.scrcpyRuns().size(), 2);
    QVERIFY(waitUntil([] { return liveScrcpyProcessCount() == 0; }));
}

void RelayFlowsTest::switchingOffOneOfTwoAndThenTheLast() {
    RelayRig rig("when -s A .*\nignore-term\nout ready\nhang\nwhen .*\nhang\n");
    rig.c->setRelayEnabled("A", true);
    rig.c->setRelayEnabled("B", true);
    QVERIFY(waitUntil([&] { return rig.running("A") && rig.running("B"); }));
    QVERIFY(waitUntil([&] { return rig.status() == kActive; }));
    QVERIFY(rig.waitForLog("[scrcpy][A] ready"));

    // A ignores SIGTERM: killed after the grace time, and the switch-off goes on.
    rig.c->setRelayEnabled("A", false);
    QVERIFY(rig.waitForLog("[Debug] scrcpy terminated for A status=9"));
    QVERIFY(rig.waitForLog("[AutoFlow] Reconnect timer started"));
    QVERIFY(rig.running("B"));
    QVERIFY(!rig.c->scrcpyProcesses.contains("A"));
    QVERIFY(rig.c->scrcpyActive() && rig.c->isRunning() && rig.c->relayRequested());
    QCOMPARE(rig.status(), kActive);
    // The next tick finds nothing missing and stops the loop.
    QVERIFY(rig.waitForLog("[AutoFlow] Reconnect timer stopped"));

    rig.c->setRelayEnabled("B", false);
    QVERIFY(waitUntil([&] { return rig.status() == "Idle"; }));
    QVERIFY(rig.c->scrcpyProcesses.isEmpty());
    QVERIFY(!rig.c->scrcpyActive() && !rig.c->isRunning() && !rig.c->relayRequested());
    QVERIFY(!rig.c->isReconnecting);
    QVERIFY(waitUntil([&] { return !rig.c->batteryTimer; }));
    QVERIFY(waitUntil([] { return liveScrcpyProcessCount() == 0; }));
}

void RelayFlowsTest::switchedBackOnWhileItsRelayEnds() {
    // The first scrcpy ends only when killed, 0.3 s after SIGTERM at this scale; the user switches
    // it on again 0.2 s (scaled) after switching it off.
    RelayRig rig("when .*\ntimes 1\nignore-term\nout ready\nhang\nwhen .*\nhang\n", QString(), 0.1);
    rig.c->setRelayEnabled("A", true);
    QVERIFY(rig.waitForLog("[scrcpy][A] ready"));
    rig.c->setRelayEnabled("A", false);
    QTest::qWait(20);
    rig.c->setRelayEnabled("A", true);
    QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 2 && rig.running("A"); }));
    QVERIFY(waitUntil([&] { return rig.status() == kActive; }));
    QVERIFY(rig.c->scrcpyActive() && rig.c->relayRequested());
}

void RelayFlowsTest::perDeviceConnectFailureAndSettingsWithoutRestart() {
    RelayRig rig(test::kHangingScrcpy,
                 "when connect .*\nout failed to connect to '10.9.9.9:5555': No route to host\n");
    rig.c->setRelayEnabled("10.9.9.9:5555", true);
    QVERIFY(waitUntil([&] { return rig.status() == "Could not connect. Reconnecting\u2026"; }));
    QVERIFY(
        rig.logged("[PerDevice] adb connect 10.9.9.9:5555: failed to connect to "
                   "'10.9.9.9:5555': No route to host\n"));
    QVERIFY(rig.c->isReconnecting);
    QVERIFY(rig.c->enabledEndpoints().contains("10.9.9.9:5555"));
    // A phone out of reach is no silence cause; adb missing from the resources is.
    QVERIFY(rig.c->silenceCauses().isEmpty());
    rig.resources.remove("adb");
    QVERIFY(waitUntil([&] {
        return rig.c->silenceCauses() ==
               QMap<QString, SilenceCause>{{"10.9.9.9:5555", SilenceCause::ToolMissing}};
    }));

    // Settings of an endpoint that is not switched on are only stored.
    rig.c->setVideoEnabled("OFF1", true);
    rig.c->setAudioBuffer("OFF1", 155);
    QCOMPARE(rig.c->videoEnabledForEndpoint("OFF1"), true);
    QCOMPARE(rig.c->audioBufferForEndpoint("OFF1"), 150);
    QCOMPARE(rig.c->audioBufferForEndpoint("NEVER"), 150);
    QTest::qWait(30);
    QVERIFY(rig.scrcpyRuns().isEmpty());
}

void RelayFlowsTest::switchedOffDuringItsStartStaysOff() {
    RelayRig rig;
    // Flipped on and off with the workers of earlier flips still under way.
    for (int i = 0; i < 20; ++i) {
        rig.c->setRelayEnabled("SER1", true);
        QTest::qWait(i % 4);
        rig.c->setRelayEnabled("SER1", false);
        QTest::qWait(i % 3);
    }
    QVERIFY(waitUntil([&] {
        return rig.status() == "Idle" && liveScrcpyProcessCount() == 0 &&
               rig.c->scrcpyProcesses.isEmpty();
    }));
    // Nothing the starts queued brings it back.
    QTest::qWait(50);
    QCOMPARE(rig.status(), QString("Idle"));
    QVERIFY(waitUntil([] { return liveScrcpyProcessCount() == 0; }));
    QVERIFY(!rig.c->isReconnecting && !rig.c->relayRequested() && !rig.c->scrcpyActive());
}

QTEST_GUILESS_MAIN(RelayFlowsTest)
#include "tst_relay_flows.moc"
