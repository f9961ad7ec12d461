#include <signal.h>

#include <QDir>
#include <QTest>

#include "relay/scrcpy_process.h"
#include "relay_rig.h"

using namespace sonavel;
using test::RelayRig;
using test::waitUntil;

namespace {

int countOf(const QStringList& lines, const QString& line) {
    return static_cast<int>(lines.count(line));
}

// The lowest count of open descriptors at moments when no short-lived child runs: the
// controller's own discovery keeps running adb, whose pipes come and go (the track-devices
// watcher stays); a leak raises the floor.
int openDescriptorFloor() {
    int floor = INT_MAX;
    for (int quiet = 0, i = 0; quiet < 20 && i < 1000; ++i) {
        QTest::qWait(2);
        const int count = static_cast<int>(QDir("/proc/self/fd").count());
        if (test::childProcesses(QString(), "track-devices").isEmpty()) {
            floor = std::min(floor, count);
            ++quiet;
        }
    }
    return floor;
}

// A leak of one process or descriptor per loss shows after ten losses as well as after a hundred.
constexpr int kLossCycles = 10;

}  // namespace

class ReconnectLoopTest : public QObject {
    Q_OBJECT
private slots:
    void timerStartsOnceAndOnlyWithSomethingEnabled();
    void tickStopsWhenNothingIsWantedOrMissing();
    void endpointRecoveredMeanwhileIsNotStartedAgain();
    void repeatedLossesLeaveNothingBehind();
};

void ReconnectLoopTest::timerStartsOnceAndOnlyWithSomethingEnabled() {
    RelayRig rig;
    rig.c->startReconnectTimer();
    QVERIFY(!rig.c->reconnectTimer && !rig.c->isReconnecting);
    rig.c->stopReconnectTimer();  // idle: no line

    rig.c->enabledEndpoints.set({"SER1"});
    rig.c->relayRequested.set(false);
    rig.c->startReconnectTimer();
    rig.c->startReconnectTimer();
    QVERIFY(rig.c->relayRequested() && rig.c->isReconnecting && rig.c->reconnectTimer);
    QVERIFY(rig.waitForLog("[AutoFlow] Reconnect timer started"));

    // Emptied meanwhile: a start stops the running loop instead.
    rig.c->enabledEndpoints.set({});
    rig.c->startReconnectTimer();
    QVERIFY(!rig.c->reconnectTimer && !rig.c->isReconnecting);
    QVERIFY(rig.waitForLog("[AutoFlow] Reconnect timer stopped"));
    const QStringList log = rig.log();
    QCOMPARE(countOf(log, "[AutoFlow] Reconnect timer started"), 1);
    QCOMPARE(countOf(log, "[AutoFlow] Reconnect timer stopped"), 1);
}

void ReconnectLoopTest::tickStopsWhenNothingIsWantedOrMissing() {
    RelayRig rig;
    rig.c->setRelayEnabled("SER1", true);
    QVERIFY(waitUntil([&] { return rig.status() == "Audio relay active"; }));
    // Everything enabled runs: the tick stops the loop without touching the status.
    rig.c->startReconnectTimer();
    QVERIFY(rig.waitForLog("[AutoFlow] Reconnect timer stopped"));
    QCOMPARE(rig.status(), QString("Audio relay active"));

    // The relay is no longer wanted: the tick stops the loop without an attempt.
    rig.c->enabledEndpoints.set({"SER1", "SER2"});
    rig.c->startReconnectTimer();
    rig.c->relayRequested.set(false);
    QVERIFY(waitUntil([&] { return !rig.c->isReconnecting; }));
    QVERIFY(!rig.logged("[AutoFlow] Reconnecting missing endpoint(s): SER2"));
}

void ReconnectLoopTest::endpointRecoveredMeanwhileIsNotStartedAgain() {
    RelayRig rig;
    rig.c->enabledEndpoints.set({"SER1"});
    rig.c->relayRequested.set(true);
    rig.c->startReconnectTimer();
    rig.c->reconnectMissingEndpoints();
    QCOMPARE(rig.c->reconnectAttemptInProgress, true);
    // Back before the pass looks (the pass needs this thread to look).
    QProcess other;
    other.start("/bin/sleep", {"30"});
    QVERIFY(other.waitForStarted());
    rig.c->scrcpyProcesses.insert("SER1", &other);
    // A tick during the pass is skipped.
    rig.c->scrcpyProcesses.remove("SER1");
    rig.c->reconnectMissingEndpoints();
    rig.c->scrcpyProcesses.insert("SER1", &other);
    QVERIFY(rig.waitForLog("[AutoFlow] Endpoint already recovered: SER1"));
    QVERIFY(waitUntil([&] { return rig.status() == "Audio relay active"; }));
    QVERIFY(rig.logged("[AutoFlow] Reconnect attempt already in progress; skip tick"));
    QVERIFY(rig.logged("[AutoFlow] Reconnecting missing endpoint(s): SER1"));
    QVERIFY(rig.logged("[Debug] statusText changed to: Trying to reconnect\u2026"));
    QVERIFY(!rig.c->isReconnecting && !rig.c->reconnectAttemptInProgress);
    QVERIFY(rig.scrcpyRuns().isEmpty());
    rig.c->scrcpyProcesses.remove("SER1");
    other.kill();
    other.waitForFinished();
}

void ReconnectLoopTest::repeatedLossesLeaveNothingBehind() {
    // Every scrcpy exits at once, so each reconnect pass loses its process again.
    RelayRig rig("when .*\nexit 1\n");
    const QString scrcpy = QDir(*rig.c->ref().config().resourcesDir).filePath("scrcpy");
    rig.c->setRelayEnabled("SER1", true);
    QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() >= 3; }));
    rig.c->setRelayEnabled("SER1", false);
    QVERIFY(waitUntil([&] { return rig.status() == "Idle"; }));
    QVERIFY(waitUntil([] { return liveScrcpyProcessCount() == 0; }));
    const int floorBefore = openDescriptorFloor();

    rig.c->setRelayEnabled("SER1", true);
    QVERIFY2(waitUntil([&] { return rig.scrcpyRuns().size() >= 3 + kLossCycles; }, 120000),
             qPrintable(QString("%1 runs, reconnecting %2, status %3")
                            .arg(rig.scrcpyRuns().size())
                            .arg(rig.c->isReconnecting)
                            .arg(rig.status())));
    rig.c->setRelayEnabled("SER1", false);
    QVERIFY(waitUntil([&] { return rig.status() == "Idle" && !rig.c->isReconnecting; }));
    QVERIFY(waitUntil([] { return liveScrcpyProcessCount() == 0; }));
    QVERIFY(waitUntil([&] { return test::childProcesses(scrcpy).isEmpty(); }));
    QVERIFY(rig.c->scrcpyProcesses.isEmpty() && rig.c->scrcpyOutputPipes.isEmpty() &&
            rig.c->scrcpyErrorPipes.isEmpty());
    QVERIFY(!rig.c->scrcpyActive() && !rig.c->isRunning() && !rig.c->relayRequested());
    const int floorAfter = openDescriptorFloor();
    QVERIFY(floorBefore < INT_MAX);
    QVERIFY2(floorAfter <= floorBefore,
             qPrintable(QString("%1 > %2").arg(floorAfter).arg(floorBefore)));
}

QTEST_GUILESS_MAIN(ReconnectLoopTest)
#include "tst_reconnect_loop.moc"
