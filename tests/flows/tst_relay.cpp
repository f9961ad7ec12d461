// Relay start and stop, the per-endpoint switches, the scrcpy processes, the reconnect loop and
// battery polling with its alert, over fake adb and scrcpy.
#include <atomic>

#include "battery/system_alert_sound.h"
#include "platform/dispatch.h"
#include "relay/relay_worker.h"
#include "support/rig.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kA = QStringLiteral("10.0.0.2:5555");
const QString kB = QStringLiteral("10.0.0.3:5555");
// adb's answer to a wireless phone out of reach; it exits 0.
const QString kRefused = "when connect .*\nout failed to connect to '10.0.0.9:5555'\n";

const auto audioOnly = [](const QString& endpoint) {
    return QStringList{"-s", endpoint} +
           QString("--no-window --no-video --no-control --audio-source=output --audio-buffer=150")
               .split(' ');
};

bool idle(const Rig& rig) {
    return rig.status() == en(TextKey::statusIdle) && liveScrcpyProcessCount() == 0 &&
           rig.c->scrcpyProcesses.isEmpty() && !rig.c->isRunning() && !rig.c->scrcpyActive() &&
           !rig.c->relayRequested() && !rig.c->isReconnecting &&
           rig.c->scrcpyOutputPipes.isEmpty() && rig.c->scrcpyErrorPipes.isEmpty();
}

// What the controller did with its alert sound.
QStringList soundEvents;
struct RecordingSound : AlertSound {
    void play() override { soundEvents << QStringLiteral("play"); }
    void stop() override { soundEvents << QStringLiteral("stop"); }
};

const auto batteryCalls = [](const Rig& rig, const QString& id) {
    return rig.adbCalls().count(QStringList{"-s", id, "shell", "dumpsys", "battery"});
};

}  // namespace

class RelayTest : public QObject {
    Q_OBJECT
private slots:
    void startPrefersUsbAndEndsWhatIgnoresSigterm() {
        // STUBBORN's first two scrcpy runs end only when killed, after SIGTERM's grace time.
        Rig rig(
            {.scrcpy =
                 "when -s STUBBORN .*\ntimes 2\nignore-term\nout ready\nhang\nwhen .*\nhang\n"});
        rig.c->discoveredDevices.set({usbRow("STUBBORN"), usbRow("MILD"), wirelessRow(kA)});
        rig.c->connectedTCPIPDevices.set({wirelessRow(kA)});
        rig.c->startRelay();
        // Both USB phones become enabled and relay; the wireless one is left alone.
        QVERIFY(rig.waitForLog("[scrcpy][STUBBORN] ready"));
        QVERIFY(waitUntil([&] {
            return rig.status() == en(TextKey::audioRelayActive) && rig.scrcpyRuns().size() == 2;
        }));
        QCOMPARE(rig.c->enabledEndpoints(), (QSet<QString>{"STUBBORN", "MILD"}));
        rig.c->stopRelay();
        QVERIFY(waitUntil([&] { return idle(rig); }));
        settle();  // the loop does not bring them back: four runs in all below

        // Switched on again while its relay still ends.
        rig.c->setRelayEnabled("STUBBORN", true);
        QVERIFY(rig.waitForLog("[scrcpy][STUBBORN] ready", 2));
        rig.c->setRelayEnabled("STUBBORN", false);
        QVERIFY(settleWork());  // SIGTERM sent, and ignored
        rig.c->setRelayEnabled("STUBBORN", true);
        QVERIFY(waitUntil([&] {
            return rig.scrcpyRuns().size() == 4 && rig.running("STUBBORN") &&
                   rig.status() == en(TextKey::audioRelayActive);
        }));
    }

    void startChecksToolsAndReadsConnectOutput() {
        for (const QString missing : {"scrcpy", "adb", "scrcpy-server"}) {
            Rig rig;
            rig.c->discoveredDevices.set({usbRow("USB1")});
            rig.resources.remove(missing);
            rig.c->startRelay();
            QVERIFY(waitUntil([&] {
                return rig.status() == en(missing == "adb" ? TextKey::connectionToolNotFound
                                                           : TextKey::requiredFileNotFound) &&
                       rig.c->silenceCauses() ==
                           QMap<QString, SilenceCause>{{"USB1", SilenceCause::ToolMissing}};
            }));
        }
        // adb exits 0 also when a connect fails: only its words tell, phone by phone.
        Rig rig({.adb = "when connect 10.0.0.2:5555\nout failed to authenticate to device\n"
                        "when connect 10.0.0.3:5555\nout connected to 10.0.0.3:5555\n"});
        rig.c->connectedTCPIPDevices.set({wirelessRow(kA), wirelessRow(kB)});
        rig.c->startRelay();
        QVERIFY(waitUntil([&] {
            return rig.status() == en(TextKey::audioRelayActive) &&
                   rig.scrcpyRuns() == QList<QStringList>{audioOnly(kB)};
        }));
        // The loop keeps trying the enabled phone that failed, judging each connect the same way;
        // an unreachable phone is no silence cause, a missing adb is.
        QVERIFY(waitUntil([&] { return rig.adbCalls().count({"connect", kA}) >= 3; }));
        QVERIFY(rig.c->isReconnecting && rig.c->silenceCauses().isEmpty() &&
                rig.scrcpyRuns().size() == 1);
        rig.resources.remove("adb");
        QVERIFY(waitUntil(
            [&] { return rig.c->silenceCauses().value(kA) == SilenceCause::ToolMissing; }));
    }

    void switchOnLaunchesWithTheEndpointSettings() {
        Rig rig({.scrcpy = "when .*\ntimes 1\nkeepenv ADB\nkeepenv SCRCPY_SERVER_PATH\n"
                           "err [server] WARN: Audio disabled: it is not supported before "
                           "Android 11\nhang\nwhen .*\nhang\n"});
        rig.c->setRelayEnabled("SER1", true);
        QVERIFY(waitUntil([&] {
            return rig.c->silenceCauses() ==
                   QMap<QString, SilenceCause>{{"SER1", SilenceCause::AndroidTooOld}};
        }));
        QCOMPARE(rig.scrcpyRuns(), QList<QStringList>{audioOnly("SER1")});
        QVERIFY(rig.c->scrcpyActive() && rig.c->isRunning() && rig.c->relayRequested());
        // scrcpy runs the bundled adb and pushes the bundled server, whatever PATH holds.
        for (const auto& [variable, tool] :
             {std::pair{"ADB", "adb"}, {"SCRCPY_SERVER_PATH", "scrcpy-server"}}) {
            QFile file(rig.resources.path(QString("scrcpy.") + variable));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(QString(file.readAll()), rig.resources.path(tool));
        }

        // Video and buffer restart it with the stored values; a launch that runs quietly clears
        // the cause the first one revealed.
        rig.c->setVideoEnabled("SER1", true);
        rig.c->setAudioBuffer("SER1", 305);
        QVERIFY(waitUntil([&] {
            return rig.running("SER1") && rig.c->silenceCauses().isEmpty() &&
                   rig.scrcpyRuns().last() ==
                       QStringList{"-s", "SER1", "--audio-source=output", "--audio-buffer=300"};
        }));
        rig.c->setRelayEnabled("SER1", false);
        QVERIFY(waitUntil([&] { return idle(rig) && !rig.c->batteryTimer; }));
    }

    void concurrentStartsAndFlips() {
        Rig rig;
        rig.c->enabledEndpoints.set({"SER1"});
        std::atomic<int> done{0};
        const auto start = [&done, ref = rig.c->ref(), path = rig.resources.path("scrcpy")] {
            launchScrcpy(ref, "SER1", path);
            ++done;
        };
        for (int i = 0; i < 3; ++i) {
            dispatchAsync(QoS::UserInitiated, start);
        }
        rig.c->setRelayEnabled("SER1", true);
        rig.c->reconnectMissingEndpoints();
        QVERIFY(waitUntil([&] { return done == 3 && rig.scrcpyRuns().size() == 1; }));
        settle();
        QVERIFY(rig.scrcpyRuns().size() == 1 && liveScrcpyProcessCount() == 1);

        // A switch turned off during its start stays off: flipped on and off with the workers
        // of earlier flips still under way.
        for (int i = 0; i < 40; ++i) {
            rig.c->setRelayEnabled("SER1", i % 2 == 0);
            QCoreApplication::processEvents();
        }
        QVERIFY(waitUntil([&] { return idle(rig); }));
        settle();  // nothing the starts queued brings it back
        QVERIFY(idle(rig));
    }

    // The switches are stored: one left on relays by itself at the next start, as soon as its
    // phone is reachable; one turned off stays off, whatever starts the relay.
    void storedSwitchesOutliveTheRun() {
        QTemporaryDir home;  // A's phone is reachable while this holds "here"
        const QString here = home.filePath("here");
        const auto stored = [&](const QByteArray& map) {
            return [map](TestEnvironment& env) {
                env.settings()->setValue("relayEnabledByEndpoint", map);
            };
        };
        const QString adb = "when connect 10.0.0.2:5555\nif " + here +
                            "\nout connected to 10.0.0.2:5555\n"
                            "when connect 10.0.0.3:5555\nout connected to 10.0.0.3:5555\n" +
                            kRefused;
        QByteArray saved;
        {
            Rig rig(
                {.adb = adb, .prepare = stored(R"({"10.0.0.2:5555":true,"10.0.0.3:5555":false})")});
            ZovAdizuZadiRizov& c = *rig.c;
            QVERIFY(waitUntil([&] { return c.enabledEndpoints() == QSet<QString>{kA}; }));
            QCOMPARE(c.connectionGuideText(), en(TextKey::guideRelayStarting));
            // B is listed and would be picked; it was switched off.
            c.connectedTCPIPDevices.set({wirelessRow(kB)});
            c.startRelay();
            QVERIFY(advance(20));
            QVERIFY(rig.scrcpyRuns().isEmpty() && !c.enabledEndpoints().contains(kB));
            // A comes home: relayed without a click, once.
            QFile(here).open(QIODevice::WriteOnly);
            QVERIFY(waitUntil([&] { return rig.running(kA); }));
            QVERIFY(advance(30));
            QCOMPARE(rig.scrcpyRuns(), QList<QStringList>{audioOnly(kA)});
            c.setRelayEnabled(kA, false);
            QVERIFY(waitUntil([&] { return idle(rig); }));
            // Written a moment after the flip, while the program runs on.
            QVERIFY(waitUntil([&] {
                saved = rig.env.settings()->value("relayEnabledByEndpoint").toByteArray();
                return saved == R"({"10.0.0.2:5555":false,"10.0.0.3:5555":false})";
            }));
        }
        Rig next({.adb = adb, .prepare = stored(saved)});
        QVERIFY(advance(30));
        QVERIFY(next.scrcpyRuns().isEmpty() && next.c->enabledEndpoints().isEmpty());
    }

    // Changes are written a moment later, several in one write; those made just before quitting
    // are written as the controller goes, whatever the switches' starts are doing.
    void changesJustBeforeQuitAreStored() {
        Rig rig({.adb = kRefused, .scale = kFrozenTime});  // the delayed write cannot come first
        ZovAdizuZadiRizov& c = *rig.c;
        const auto stored = [&](const char* key) {
            return rig.env.settings()->value(key).toByteArray();
        };
        c.setRelayEnabled(kA, true);
        c.setRelayEnabled(kB, true);
        c.setRelayEnabled(kA, false);
        c.setVideoEnabled("SER1", true);
        c.setAudioBuffer("SER1", 125);
        // None of it holds up the switches: the file has nothing yet.
        QVERIFY(stored("relayEnabledByEndpoint").isEmpty());
        rig.c.reset();
        QCOMPARE(stored("relayEnabledByEndpoint"),
                 QByteArray(R"({"10.0.0.2:5555":false,"10.0.0.3:5555":true})"));
        QCOMPARE(stored("videoEnabledByEndpoint"), QByteArray(R"({"SER1":true})"));
        QCOMPARE(stored("audioBufferMsByEndpoint"), QByteArray(R"({"SER1":120})"));

        // The next run starts with them: the switch left on is on again.
        Rig next({.adb = kRefused, .prepare = [&](TestEnvironment& env) {
                      env.config.openSettings = rig.env.config.openSettings;
                  }});
        QVERIFY(waitUntil([&] { return next.c->enabledEndpoints() == QSet<QString>{kB}; }));
        QCOMPARE(next.c->audioBufferForEndpoint("SER1"), 120);
    }

    void reconnectPassFollowsTheSwitches() {
        // The test runs the loop's steps itself.
        Rig rig({.adb = kRefused});
        rig.c->startReconnectTimer();
        QVERIFY(!rig.c->isReconnecting);  // nothing enabled
        rig.c->enabledEndpoints.set({kA});
        rig.c->startReconnectTimer();
        QVERIFY(rig.c->isReconnecting && rig.c->relayRequested());
        // No longer wanted: the tick ends the loop without an attempt.
        rig.c->relayRequested.set(false);
        rig.c->reconnectTick();
        QVERIFY(!rig.c->isReconnecting && !rig.c->reconnectAttemptInProgress);

        // A pass over three missing endpoints: before it looks, one is switched off and one is
        // started by a switch-on. Only the third is reconnected.
        rig.c->enabledEndpoints.set({kA, kB, "SER1"});
        rig.c->relayRequested.set(true);
        rig.c->startReconnectTimer();
        rig.c->reconnectMissingEndpoints();
        rig.c->setRelayEnabled(kA, false);
        rig.c->setRelayEnabled("SER1", true);
        QVERIFY(waitUntil([&] { return !rig.c->reconnectAttemptInProgress; }));
        settle();
        QVERIFY(!rig.adbCalls().contains({"connect", kA}) &&
                rig.adbCalls().count({"connect", kB}) == 1);
        QCOMPARE(rig.scrcpyRuns(), QList<QStringList>{audioOnly("SER1")});
    }

    void reconnectPaceAgainstBatteryPolls() {
        // One phone out of reach: each pass asks adb to connect it, each battery poll (60 s) asks
        // for its level, so passes every 10 s make five between two polls (the one due with the
        // second poll comes after it).
        Rig rig({.adb = kRefused + "when .*dumpsys battery\nout level: 50\n"});
        rig.c->enabledEndpoints.set({kA});
        rig.c->startBatteryMonitoring();
        mainAsync([&rig] { rig.c->startReconnectTimer(); });
        int polls = 0, passes = 0;
        QVERIFY(waitUntil([&] {
            polls = passes = 0;
            for (const QStringList& call : rig.adbCalls()) {
                polls += call.contains("dumpsys") ? 1 : 0;
                passes += polls == 1 && call == QStringList{"connect", kA} ? 1 : 0;
            }
            return polls >= 2;
        }));
        QCOMPARE(passes, 5);
    }

    void repeatedLossesLeaveNothingBehind() {
        // While the file exists every scrcpy exits at once, so each reconnect pass loses it.
        Rig rig;
        const QString lossy = rig.resources.path("lossy");
        rig.resources.setScript("scrcpy", "when .*\nif " + lossy + "\nexit 1\n" + kHangingScrcpy);
        rig.resources.writeFile("lossy", {}, false);
        const int fds = openFileDescriptors();
        // A leak of one process or descriptor per loss shows after ten losses.
        rig.c->setRelayEnabled("SER1", true);
        QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() >= 10; }, 120000));
        // Back for good: the loop restarts it and stops itself once everything enabled runs.
        QFile::remove(lossy);
        QVERIFY(waitUntil([&] {
            return rig.running("SER1") && !rig.c->isReconnecting &&
                   rig.status() == en(TextKey::audioRelayActive);
        }));
        rig.c->setRelayEnabled("SER1", false);
        // Descriptors counted when no listing runs beside the watcher.
        QVERIFY(waitUntil([&] {
            return idle(rig) && childProcesses(rig.resources.path("scrcpy")).isEmpty() &&
                   childProcesses(QString(), "track-devices").isEmpty() &&
                   openFileDescriptors() <= fds;
        }));
    }

    void readingsAndTheAlerts() {
        // The USB phone's first query hangs until the call limit ends it; the wireless one fails
        // twice (a level printed by a failed command does not count), answers once at the low
        // threshold, then says nothing of use.
        const QString rule = "when -s %1 shell dumpsys battery\n%2\n";
        Rig rig(
            {.adb = rule.arg("USB1", "times 1\nhang") +
                    rule.arg("USB1", "out   USB powered: true\nout   status: 2\nout   level: 57") +
                    rule.arg(kA, "times 2\nout   level: 40\nexit 1") +
                    rule.arg(kA, "times 1\nout   status: 3\nout   level: 2"),
             .prepare = [](TestEnvironment& env) {
                 env.config.adbCallLimit = std::chrono::milliseconds(500);
                 env.config.makeAlertSound = [] { return std::make_unique<RecordingSound>(); };
             }});
        rig.c->refreshBatteryLevel("USB1");
        rig.c->refreshBatteryLevel(kA);
        rig.c->refreshBatteryLevel(kA);  // already being asked: not asked again
        QVERIFY(waitUntil([&] { return rig.c->batteryLevels().size() == 2; }));
        QCOMPARE(rig.c->batteryLevels(), (QMap<QString, int>{{"USB1", 57}, {kA, 2}}));
        QCOMPARE(rig.c->batteryCharging(), (QMap<QString, bool>{{"USB1", true}, {kA, false}}));
        QCOMPARE((QList{batteryCalls(rig, "USB1"), batteryCalls(rig, kA)}),
                 (QList<qsizetype>{2, 3}));

        // A failed query falls back to the last reading.
        rig.c->batteryLevels.set({});
        rig.c->refreshBatteryLevel(kA);
        QVERIFY(waitUntil([&] { return rig.c->batteryLevels().value(kA) == 2; }));
        QCOMPARE(batteryCalls(rig, kA), 6);
        // The low reading started the alert once (what it silences and when: tst_battery.cpp).
        QCOMPARE(soundEvents, QStringList{"play"});

        // Build machines have no audio device: the sound must still load, play and stop.
        const QString resources = QDir(QCoreApplication::applicationDirPath())
#if defined(Q_OS_MACOS)
                                      .filePath("../Sonavel.app/Contents/Resources");
#else
                                      .filePath("../share/sonavel");
        QVERIFY(!loadPlatformAlertSound(FakeResources().dir()));
#endif
        const std::unique_ptr<AlertSound> sound = loadPlatformAlertSound(resources);
        QVERIFY(sound);
        sound->play();
        QTest::qWait(100);
        sound->stop();
        sound->stop();  // twice: harmless
    }
};

QTEST_MAIN(RelayTest)
#include "tst_relay.moc"
