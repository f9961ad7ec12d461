// The battery alert over polled readings from fake adb: which readings count, what "Stop Alert"
// silences, what the user is told, and the beeps that stand in for a sound nobody can hear.
#include <QSaveFile>

#include "battery/alert_notifier.h"
#include "support/rig.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kA = QStringLiteral("10.0.0.2:5555");
const QString kB = QStringLiteral("10.0.0.3:5555");

// What the alert did, in order: "play", "stop", "beep", "notice: <body>", "withdraw".
struct Record {
    QStringList events;
    bool audible = true;
    int count(const QString& event) const { return static_cast<int>(events.count(event)); }
};

struct FakeSound : AlertSound {
    explicit FakeSound(Record* r) : r(r) {}
    void play() override { r->events << "play"; }
    void stop() override { r->events << "stop"; }
    bool audible() const override { return r->audible; }
    void beep() override { r->events << "beep"; }
    Record* r;
};

struct FakeNotifier : AlertNotifier {
    explicit FakeNotifier(Record* r) : r(r) {}
    void show(const AlertNotice& notice) override { r->events << "notice: " + notice.body; }
    void withdraw() override { r->events << "withdraw"; }
    Record* r;
};

// A rig whose phones answer "dumpsys battery" with what the test last wrote for them; a phone
// without an answer fails the query, as one that has gone does.
struct Phones {
    explicit Phones(const QStringList& ids) {
        QString script;
        for (const QString& id : ids) {
            script += QString("when -s %1 shell dumpsys battery\nif %2\noutfile %2\n")
                          .arg(id, dir.filePath(id));
        }
        rig.emplace(RigOptions{.adb = script, .prepare = [this](TestEnvironment& env) {
                                   env.config.debuggerProbe = [l = logging] { return l->load(); };
                                   env.config.makeAlertSound = [this] {
                                       return std::make_unique<FakeSound>(&record);
                                   };
                                   env.config.makeAlertNotifier = [this](std::function<void()>) {
                                       return std::make_unique<FakeNotifier>(&record);
                                   };
                               }});
    }
    // "90+" is 90 % on the charger, "2" is 2 % off it; an empty text makes the phone go.
    void set(const QString& id, const QString& reading) const {
        if (reading.isEmpty()) {
            QFile::remove(dir.filePath(id));
            return;
        }
        QSaveFile file(dir.filePath(id));
        file.open(QIODevice::WriteOnly);
        const bool charging = reading.endsWith('+');
        file.write(QString("  AC powered: false\n  USB powered: %1\n  status: %2\n  level: %3\n")
                       .arg(charging ? "true" : "false", charging ? "2" : "3",
                            QString(reading).remove('+'))
                       .toUtf8());
        file.commit();
    }
    // Waits until every phone has been asked `times` times and no answer is still on its way.
    bool polled(const QStringList& ids, int times) const {
        return waitUntil([&] {
            for (const QString& id : ids) {
                if (rig->adbCalls().count({"-s", id, "shell", "dumpsys", "battery"}) < times) {
                    return false;
                }
            }
            return rig->c->batteryFetchesUnderWay.isEmpty();
        });
    }
    QString sounding() const {
        const auto alert = rig->c->batteryAlert();
        return alert ? alert->identifier : QStringLiteral("none");
    }

    Record record;
    QTemporaryDir dir;
    // Off, as in use without a debugger: no log entry then changes the controller.
    std::shared_ptr<std::atomic<bool>> logging = std::make_shared<std::atomic<bool>>(true);
    std::optional<Rig> rig;  // last: ended before the record and the folder go
};

}  // namespace

class BatteryTest : public QObject {
    Q_OBJECT
private slots:
    void unpluggedDuringTheHighAlarmItsReadingGoes() {
        // Relayed over USB, as the automatic start does, and full on the charger.
        Phones p({"SER1"});
        ZovAdizuZadiRizov& c = *p.rig->c;
        p.set("SER1", "90+");
        c.discoveredDevices.set({usbRow("SER1", "Pixel_7")});
        c.startRelay();
        QVERIFY(waitUntil([&] { return c.isAlertPlaying(); }));
        QCOMPARE(p.record.events,
                 (QStringList{"play", "notice: Pixel_7 is at 90 % and charging: unplug it"}));

        // Unplugged as the alarm asks: adb's table lists it no more (the device list's does the
        // same), and its queries fail.
        p.set("SER1", "");
        c.processTrackSnapshot({}, true);
        QVERIFY(!c.isAlertPlaying() && c.batteryLevels().isEmpty());
        QCOMPARE(p.record.events.mid(2), (QStringList{"withdraw", "stop"}));
        // Still a relay target, it is asked again and fails: the level it once had stays gone.
        QVERIFY(p.polled({"SER1"}, 1 + 3));
        QVERIFY(!c.isAlertPlaying() && c.batteryLevels().isEmpty());
    }

    void readingsLastWhileTheirPhoneIsPolled() {
        // Full on the charger over USB; unplugged, the phone goes on over Wi-Fi, where the poll
        // moves.
        Phones p({"SER1", kA});
        ZovAdizuZadiRizov& c = *p.rig->c;
        p.set("SER1", "90+");
        p.set(kA, "90");
        c.enabledEndpoints.set({"SER1"});
        c.startBatteryMonitoring();
        QVERIFY(waitUntil([&] { return c.isAlertPlaying(); }));
        c.enabledEndpoints.set({kA});
        QVERIFY(p.polled({kA}, 1));
        QVERIFY(!c.isAlertPlaying());
        QCOMPARE(c.batteryLevels(), (QMap<QString, int>{{kA, 90}}));
        // Polling stops with the relay: nothing renews a reading any more.
        c.stopBatteryMonitoring();
        QVERIFY(waitUntil([&] { return c.batteryLevels().isEmpty(); }));
    }

    void stoppedThenTheOtherThreshold() {
        Phones p({"SER1"});
        ZovAdizuZadiRizov& c = *p.rig->c;
        p.set("SER1", "90+");
        c.enabledEndpoints.set({"SER1"});
        c.startBatteryMonitoring();
        QVERIFY(waitUntil([&] { return c.isAlertPlaying(); }));
        c.stopAlertSound(true);
        // Still full on the charger: silenced.
        QVERIFY(p.polled({"SER1"}, 2));
        QVERIFY(!c.isAlertPlaying());
        QCOMPARE(p.rig->countLogged("[BatteryAlert] High battery alert: 90% charging"), 2);
        // Off the charger and drained: a condition the user never silenced.
        p.set("SER1", "2");
        QVERIFY(p.polled({"SER1"}, 3));
        QVERIFY(c.isAlertPlaying());
        QCOMPARE(p.record.events,
                 (QStringList{"play", "notice: SER1 is at 90 % and charging: unplug it", "stop",
                              "play", "notice: SER1 is at 2 %: charge it"}));
    }

    void stoppingOnePhoneLeavesTheOtherAudible() {
        // The two answers of one poll come in either order; each poll is judged once both are in.
        Phones p({kA, kB});
        ZovAdizuZadiRizov& c = *p.rig->c;
        p.set(kA, "1");
        p.set(kB, "50");
        c.enabledEndpoints.set({kA, kB});
        c.startBatteryMonitoring();
        QVERIFY(p.polled({kA, kB}, 1));
        QCOMPARE(p.sounding(), kA);
        c.stopAlertSound(true);

        p.set(kB, "90+");
        QVERIFY(p.polled({kA, kB}, 2));
        QCOMPARE(p.sounding(), kB);
        QCOMPARE(p.record.events.last(), "notice: " + kB + " is at 90 % and charging: unplug it");
        // B unplugged in time; A, still low, stays silenced.
        p.set(kB, "80");
        QVERIFY(p.polled({kA, kB}, 3));
        QVERIFY(!c.isAlertPlaying());
        QCOMPARE(p.record.count("play"), 2);
    }

    void beepsWhenNothingCanBeHeard() {
        Phones p({"SER1"});
        ZovAdizuZadiRizov& c = *p.rig->c;
        p.record.audible = false;
        p.set("SER1", "1");
        c.enabledEndpoints.set({"SER1"});
        c.startBatteryMonitoring();
        QVERIFY(waitUntil([&] { return c.isAlertPlaying(); }));
        QVERIFY(c.alertHasNoSoundOutput());
        // One beep at once, then one per loop of the sound (1.2 s).
        QVERIFY(advance(5.4));
        QCOMPARE(p.record.count("beep"), 1 + 4);
        QCOMPARE(p.record.count("play"), 0);

        // A sound output appears: the next evaluation plays the sound instead.
        p.record.audible = true;
        c.evaluateBatteryAlerts();
        QVERIFY(!c.alertHasNoSoundOutput() && p.record.events.last() == "play");
        QVERIFY(advance(5.4));
        QCOMPARE(p.record.count("beep"), 5);
    }

    void aSteadyReadingLeavesTheWindowAlone() {
        // Polled every minute, a phone whose level holds wakes the window only when it moves.
        Phones p({kA});
        ZovAdizuZadiRizov& c = *p.rig->c;
        p.set(kA, "50");
        c.enabledEndpoints.set({kA});
        c.startBatteryMonitoring();
        QVERIFY(p.polled({kA}, 1));
        p.logging->store(false);
        QVERIFY(settleWork());
        int changes = 0;
        connect(&c, &Observable::willChange, this, [&] { ++changes; });
        QVERIFY(advance(60));
        QVERIFY(p.polled({kA}, 2));
        QCOMPARE(changes, 0);
        p.set(kA, "49+");
        QVERIFY(advance(60));
        QVERIFY(p.polled({kA}, 3));
        QVERIFY(changes > 0);
        QCOMPARE(c.batteryLevels(), (QMap<QString, int>{{kA, 49}}));
        QCOMPARE(c.batteryCharging(), (QMap<QString, bool>{{kA, true}}));
    }
};

QTEST_MAIN(BatteryTest)
#include "tst_battery.moc"
