// The fault table: each row breaks one thing the application depends on while one phone relays
// and a window shows the controller, then ends the fault. Throughout, the main thread must keep
// turning and the window redrawing, and the relaying phone must keep its scrcpy process; once the
// fault has ended, the flow it broke must come back with no process or descriptor left behind.
#include <signal.h>

#include <QLoggingCategory>
#include <QTimer>

#include "settings/endpoint_maps.h"
#include "support/rig.h"
#include "ui/main_view.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kGood = "GOOD";  // relays through the whole row
const QString kBad = "BAD";    // the phone whose scrcpy misbehaves
const QString kSpare = "10.0.0.8:5555";
int mark = 0;  // adb's journal length when the fault began

using Step = std::function<void(Rig&)>;
using Check = std::function<bool(Rig&)>;
struct Fault {
    const char* name;
    Step inject;
    Check exercised;  // polled
    Step end;
    Check recovered;                                    // polled
    std::function<void(TestEnvironment&)> before = {};  // before the controller exists
};

void setAdb(Rig& r, const QString& s) {
    r.resources.setScript("adb", s);
}
void setScrcpy(Rig& r, const QString& s) {
    r.resources.setScript("scrcpy", s);
}
// Once a fault has ended, adb lists a phone waiting for authorisation: the controller shows it
// and starts nothing.
void heal(Rig& r) {
    setAdb(r, "when devices -l\nout R5CT unauthorized usb:1-1\n" + kQuietAdb);
}
bool usbSeen(Rig& r) {
    return r.c->isUSBDeviceConnected();
}

// One-shot adb commands misbehave; the watcher stays quiet.
Fault adbFault(const char* name, const QString& actions) {
    return {name, [actions](Rig& r) { setAdb(r, "when track-devices\nhang\nwhen .*\n" + actions); },
            [](Rig& r) { return r.resources.arguments("adb").size() >= mark + 3; }, heal, usbSeen};
}

// A save refused while the settings file is unusable; one made after it is stored. Read from a
// copy: QSettings caches a file within the process, refused values included.
Fault settingsFault(const char* name, std::function<void(TestEnvironment&)> breakIt) {
    return {name,
            [](Rig& r) { r.c->setAudioBuffer(kSpare, 250); },
            [](Rig&) { return true; },
            [](Rig& r) {
                QDir(r.env.settingsPath).removeRecursively();
                r.c->setAudioBuffer(kSpare, 260);
            },
            [](Rig& r) {
                const QString copy = r.env.settingsPath + QString::number(++mark);
                QFile::copy(r.env.settingsPath, copy);
                const auto map = decodeIntMap(QSettings(copy, QSettings::IniFormat)
                                                  .value("audioBufferMsByEndpoint")
                                                  .toByteArray());
                return map && map->value(kSpare) == 260;
            },
            std::move(breakIt)};
}

QString resourcesDir(Rig& r) {
    return *r.c->ref().config().resourcesDir;
}

const Fault kFaults[] = {
    adbFault("adb hangs forever", "hang\n"),
    adbFault("adb crashes", "crash\n"),
    adbFault("adb prints 10 MB", "flood 10000000\n"),
    adbFault("adb prints invalid UTF-8", "out \\xff\\xfe\\xc3\\x28 List of devices\nerr \\xc0\n"),
    {"scrcpy exits at once, every time",
     [](Rig& r) {
         setScrcpy(r, "when -s BAD .*\nexit 1\n" + kHangingScrcpy);
         r.c->setRelayEnabled(kBad, true);
     },
     [](Rig& r) { return r.scrcpyRuns().size() >= 4; },  // the good phone's one, and three
     [](Rig& r) { setScrcpy(r, kHangingScrcpy); }, [](Rig& r) { return r.running(kBad); }},
    {"scrcpy ignores SIGTERM",
     [](Rig& r) {
         setScrcpy(r, "when -s BAD .*\nignore-term\nout ready\nhang\n" + kHangingScrcpy);
         r.c->setRelayEnabled(kBad, true);
         QVERIFY(r.waitForLog("[scrcpy][BAD] ready"));
         r.c->setRelayEnabled(kBad, false);
     },
     [](Rig& r) { return !r.c->scrcpyProcesses.contains(kBad); },
     [](Rig& r) {
         setScrcpy(r, kHangingScrcpy);
         r.c->setRelayEnabled(kBad, true);
     },
     [](Rig& r) { return r.running(kBad); }},
    {"track-devices dies at once, every time",
     [](Rig& r) {
         setAdb(r, "when track-devices\noutraw 0000\nexit 1\n" + kQuietAdb);
         ::kill(static_cast<pid_t>(r.c->trackDevicesProcess->processId()), SIGTERM);
     },
     [](Rig& r) { return r.resources.arguments("adb").count({"track-devices"}) >= 5; },
     [](Rig& r) {
         setAdb(r, "when track-devices\noutraw 001510.0.0.9:5555\\tdevice\\n\nhang\n" + kQuietAdb);
     },
     [](Rig& r) { return r.c->wirelessConnected(); }},
    settingsFault("settings file corrupt",
                  [](TestEnvironment& env) {
                      QFile file(env.settingsPath);
                      QVERIFY(file.open(QIODevice::WriteOnly));
                      file.write(QByteArrayLiteral("\xff\xfe[[[General\n=\x01\nendpoint\n\0\0"));
                  }),
    // Unreadable and unwritable, also for root.
    settingsFault("settings file is a folder",
                  [](TestEnvironment& env) { QVERIFY(QDir().mkpath(env.settingsPath + "/x")); }),
    {"resources folder missing",
     [](Rig& r) { QVERIFY(QDir().rename(resourcesDir(r), resourcesDir(r) + "-gone")); },
     [](Rig& r) { return r.log().filter("adb not found").size() >= 3; },
     [](Rig& r) {
         QVERIFY(QDir().rename(resourcesDir(r) + "-gone", resourcesDir(r)));
         heal(r);
     },
     usbSeen},
};

// The fewest seen over a short stretch: one-shot adb calls come and go all the time, each with
// its process and pipes, so a single count may catch one in flight.
int quietest(const std::function<int()>& count) {
    int least = count();
    for (int i = 0; i < 30; ++i) {
        QTest::qWait(10);
        least = std::min(least, count());
    }
    return least;
}

}  // namespace

class FaultsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The application's log, echoed as info messages, would bury the test's own output.
        QLoggingCategory::setFilterRules("default.info=false");
    }
    void faultTable_data() {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kFaults)); ++i) {
            QTest::newRow(kFaults[i].name) << i;
        }
    }
    void faultTable();
};

void FaultsTest::faultTable() {
    QFETCH(int, row);
    const Fault& fault = kFaults[row];
    RigOptions options;
    options.scale = 0.02;
    options.prepare = [&fault](TestEnvironment& env) {
        // Well above a normal call under the sanitizers: only a hung one is ever killed.
        env.config.adbCallLimit = std::chrono::seconds(2);
        if (fault.before) {
            fault.before(env);
        }
    };
    Rig r(options);
    RirAvoruVara view(r.c.get());
    view.show();
    int beats = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&beats] { ++beats; });
    heartbeat.start(10);
    r.c->setRelayEnabled(kGood, true);
    QVERIFY(waitUntil([&] { return r.running(kGood); }));
    const qint64 good = r.pidOf(kGood);
    // The main thread turns, the window redraws after a change, and the good phone relays on.
    const auto unharmed = [&] {
        const int beat = beats, drawn = view.redrawCount();
        r.c->notifyWillChange();
        return waitUntil([&] { return beats > beat + 2 && view.redrawCount() > drawn; }) &&
               r.running(kGood) && r.pidOf(kGood) == good;
    };
    const auto children = [] { return int(childProcesses().size()); };
    const int childrenBefore = quietest(children);
    const int descriptorsBefore = quietest(openFileDescriptors);

    mark = int(r.resources.arguments("adb").size());
    fault.inject(r);
    QVERIFY2(waitUntil([&] { return fault.exercised(r); }), "the fault never showed");
    QVERIFY(unharmed());
    fault.end(r);
    QVERIFY2(waitUntil([&] { return fault.recovered(r); }), "the flow did not come back");
    QVERIFY(unharmed());
    if (r.c->enabledEndpoints().contains(kBad)) {
        r.c->setRelayEnabled(kBad, false);  // before counting what is left
    }
    QVERIFY2(waitUntil([&] { return children() <= childrenBefore; }), "a process was left");
    QVERIFY2(waitUntil([&] { return openFileDescriptors() <= descriptorsBefore; }),
             "a descriptor was left");
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
