#include <signal.h>

#include <QTest>
#include <atomic>

#include "platform/dispatch.h"
#include "relay/relay_worker.h"
#include "relay_rig.h"

using namespace sonavel;
using test::RelayRig;
using test::waitUntil;

class ScrcpyProcessTest : public QObject {
    Q_OBJECT
private slots:
    void launchArgumentsFollowTheEndpointSettings();
    void bothStreamsReachTheLogLineByLine();
    void concurrentStartsLaunchOneProcess();
    void lostProcessHandsOverToReconnectLoop();
    void lateFollowUpLeavesSuccessorAlone();
    void startFailureIsLoggedAndLeavesNoProcess();
    void relayOutlivesTheController();
};

void ScrcpyProcessTest::launchArgumentsFollowTheEndpointSettings() {
    RelayRig rig("when .*\nkeepenv ADB\nkeepenv SCRCPY_SERVER_PATH\nhang\n");
    rig.c->setRelayEnabled("SER1", true);
    QVERIFY(waitUntil([&] { return rig.status() == "Audio relay active"; }));
    // The fake records its call once it runs, a moment after Qt reports the start.
    QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 1; }));
    // scrcpy runs the bundled adb and pushes the bundled server, whatever PATH holds.
    const auto seen = [&](const char* variable) {
        QFile file(rig.resources.path("scrcpy.") + variable);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QVERIFY(waitUntil([&] { return !seen("SCRCPY_SERVER_PATH").isEmpty(); }));
    QCOMPARE(seen("ADB"), rig.resources.path("adb"));
    QCOMPARE(seen("SCRCPY_SERVER_PATH"), rig.resources.path("scrcpy-server"));
    QCOMPARE(rig.scrcpyRuns().value(0),
             (QStringList{"-s", "SER1", "--no-window", "--no-video", "--no-control",
                          "--audio-source=output", "--audio-buffer=150"}));
    QVERIFY(
        rig.logged("[AudioRelay] Launching scrcpy for SER1: scrcpy -s SER1 --no-window "
                   "--no-video --no-control --audio-source=output --audio-buffer=150"));
    QVERIFY(rig.c->scrcpyActive() && rig.c->isRunning() && rig.c->relayRequested());

    // Video on and a new buffer restart the enabled endpoint with the stored values.
    rig.c->setVideoEnabled("SER1", true);
    QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 2 && rig.running("SER1"); }));
    rig.c->setAudioBuffer("SER1", 305);
    QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 3 && rig.running("SER1"); }));
    QCOMPARE(rig.scrcpyRuns().last(),
             (QStringList{"-s", "SER1", "--audio-source=output", "--audio-buffer=300"}));
    QCOMPARE(rig.c->audioBufferMsByEndpoint().value("SER1"), 300);
    QVERIFY(waitUntil([&] { return rig.status() == "Audio relay active"; }));
    // One process left; the ended ones were ended on purpose and did not start the loop.
    QCOMPARE(rig.c->scrcpyProcesses.size(), 1);
    QVERIFY(!rig.c->isReconnecting);
    // An endpoint read from adb's output reaches scrcpy as one argument, never through a shell.
    const QString hostile = "x; touch pwned $(id) `id` 'q\"";
    rig.c->setRelayEnabled(hostile, true);
    QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 4; }));
    QCOMPARE(rig.scrcpyRuns().last().value(1), hostile);
    QVERIFY(!QFile::exists(QDir::current().filePath("pwned")));
    // Stored and saved for the next run.
    QCOMPARE(rig.env.settings()->value("videoEnabledByEndpoint").toByteArray().contains("SER1"),
             true);
}

void ScrcpyProcessTest::bothStreamsReachTheLogLineByLine() {
    // The first run prints in pieces and ends; later runs stay up quietly.
    RelayRig rig(
        "when .*\ntimes 1\n"
        "outraw INFO: hel\nsleep 30\noutraw lo\\r\\nsecond line\\n\\n\n"
        "errraw ERROR: Could not\nsleep 30\nerr  connect\n"
        "outraw \\xff\\xfe\\n\noutraw last words\nexit 2\n"
        "when .*\nhang\n");
    rig.c->setRelayEnabled("SER1", true);
    QVERIFY(rig.waitForLog("[Debug] scrcpy terminated for SER1 status=2"));
    QVERIFY(rig.waitForLog("[scrcpy][SER1] last words"));
    QStringList scrcpyLines;
    for (const QString& line : rig.log()) {
        if (line.startsWith("[scrcpy]")) {
            scrcpyLines << line;
        }
    }
    QCOMPARE(
        scrcpyLines,
        (QStringList{"[scrcpy][SER1] INFO: hello", "[scrcpy][SER1] second line", "[scrcpy][SER1] ",
                     "[scrcpy][SER1][ERR] ERROR: Could not connect", "[scrcpy][SER1] last words"}));
}

void ScrcpyProcessTest::concurrentStartsLaunchOneProcess() {
    RelayRig rig;
    rig.c->enabledEndpoints.set({"SER1"});
    const QString path = rig.resources.path("scrcpy");
    std::atomic<int> done{0};
    std::atomic<int> started{0};
    const ControllerRef ref = rig.c->ref();
    for (int i = 0; i < 4; ++i) {
        dispatchAsync(QoS::UserInitiated, [&done, &started, ref, path] {
            started += launchScrcpy(ref, "SER1", path) == LaunchOutcome::Started ? 1 : 0;
            ++done;
        });
    }
    rig.c->setRelayEnabled("SER1", true);
    rig.c->reconnectMissingEndpoints();
    QVERIFY(waitUntil([&] { return done == 4; }));
    QVERIFY(started <= 1);
    QVERIFY(waitUntil([&] { return !rig.c->reconnectAttemptInProgress; }));
    QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 1; }));
    QTest::qWait(20);
    QCOMPARE(rig.scrcpyRuns().size(), 1);
    QCOMPARE(rig.c->scrcpyProcesses.size(), 1);
    QCOMPARE(liveScrcpyProcessCount(), 1);
    QVERIFY(rig.logged("[Guard] scrcpy already running for SER1; skip duplicate launch"));
}

void ScrcpyProcessTest::lostProcessHandsOverToReconnectLoop() {
    RelayRig rig;
    rig.c->setRelayEnabled("SER1", true);
    rig.c->setRelayEnabled("SER2", true);
    QVERIFY(waitUntil([&] { return rig.running("SER1") && rig.running("SER2"); }));
    QVERIFY(waitUntil([&] { return rig.status() == "Audio relay active"; }));

    // SER2 lost while SER1 keeps running: flags stay, status and loop take over.
    const qint64 lost = rig.pidOf("SER2");
    ::kill(static_cast<pid_t>(lost), SIGKILL);
    QVERIFY(rig.waitForLog("[Debug] statusText changed to: Reconnecting\u2026"));
    QVERIFY(rig.logged("[Debug] scrcpy terminated for SER2 status=9"));
    QVERIFY(rig.logged("[AutoFlow] Reconnect timer started"));
    // The loop brings it back and stops itself.
    QVERIFY(waitUntil([&] { return rig.running("SER2") && rig.pidOf("SER2") != lost; }));
    QVERIFY(waitUntil([&] { return rig.status() == "Audio relay active"; }));
    QVERIFY(!rig.c->isReconnecting);
    QVERIFY(rig.c->scrcpyActive() && rig.c->isRunning());
}

void ScrcpyProcessTest::lateFollowUpLeavesSuccessorAlone() {
    RelayRig rig;
    rig.c->setRelayEnabled("SER1", true);
    QVERIFY(waitUntil([&] { return rig.status() == "Audio relay active"; }));
    QProcess stale;
    rig.c->handleScrcpyTermination("SER1", &stale);
    QVERIFY(rig.running("SER1"));
    QVERIFY(rig.c->scrcpyOutputPipes.contains("SER1") && rig.c->scrcpyErrorPipes.contains("SER1"));
    QVERIFY(rig.c->scrcpyActive());
}

void ScrcpyProcessTest::startFailureIsLoggedAndLeavesNoProcess() {
    RelayRig rig;
    // Executable, but no program the system can run.
    rig.resources.writeFile("scrcpy", QByteArray("\x7f\x45\x4c\x46garbage", 11), true);
    rig.c->setRelayEnabled("SER1", true);
    QVERIFY(waitUntil([&] { return rig.status() == "Could not connect. Reconnecting\u2026"; }));
    QVERIFY(waitUntil([&] {
        for (const QString& line : rig.log()) {
            if (line.startsWith("[Debug] Failed to run scrcpy for SER1: ")) {
                return true;
            }
        }
        return false;
    }));
    QVERIFY(!rig.c->scrcpyProcesses.contains("SER1"));
    QVERIFY(!rig.c->scrcpyActive());
    QVERIFY(rig.c->isReconnecting);
    QVERIFY(waitUntil([] { return liveScrcpyProcessCount() == 0; }));
}

void ScrcpyProcessTest::relayOutlivesTheController() {
    RelayRig rig;
    rig.c->setRelayEnabled("SER1", true);
    QVERIFY(waitUntil([&] { return rig.running("SER1"); }));
    const auto pid = static_cast<pid_t>(rig.pidOf("SER1"));
    rig.c.reset();
    // Let everything the destruction queued run.
    QTest::qWait(50);
    QCOMPARE(::kill(pid, 0), 0);
    QCOMPARE(liveScrcpyProcessCount(), 1);
    // Its end is still handled, with no controller to report to.
    ::kill(pid, SIGTERM);
    QVERIFY(waitUntil([] { return liveScrcpyProcessCount() == 0; }));
}

QTEST_GUILESS_MAIN(ScrcpyProcessTest)
#include "tst_scrcpy_process.moc"
