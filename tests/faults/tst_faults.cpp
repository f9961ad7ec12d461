// The fault table: each row breaks one thing the application depends on while one phone relays
// and a window shows the controller, then ends the fault. Throughout, the main thread must keep
// turning and the window redrawing, and the relaying phone must keep its scrcpy process; once the
// fault has ended, the flow it broke must come back with no process or descriptor left behind.
#include <signal.h>

#include <QLoggingCategory>

#include "support/rig.h"
#include "ui/main_view.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kGood = "GOOD";  // relays through the whole row
const QString kBad = "BAD";    // the phone whose scrcpy misbehaves
int mark = 0;                  // adb's journal length when the fault began

struct Fault {
    const char* name;
    QString adb;     // the tools' scripts while the fault lasts, when given
    QString scrcpy;  // (the bad phone is then switched on again once it has ended)
    std::function<void(Rig&)> inject;
    std::function<bool(Rig&)> exercised;
    std::function<void(Rig&)> end = {};
    std::function<bool(Rig&)> recovered = {};
};

// One-shot adb commands misbehave; the watcher stays quiet.
const QString kOneShot = "when track-devices\nhang\nwhen .*\n";
const auto kCalled = [](Rig& r) { return r.resources.arguments("adb").size() >= mark + 3; };
// Read from the file: QSettings caches it within the process, refused values included.
const auto kSaved = [](Rig& r) {
    QFile file(r.env.settingsPath);
    return file.open(QIODevice::ReadOnly) && file.readAll().contains("260");
};

// clang-format off
const Fault kFaults[] = {
    {"adb hangs forever", kOneShot + "hang\n", {}, {}, kCalled},
    {"adb prints 10 MB", kOneShot + "flood 10000000\n", {}, {}, kCalled},
    {"adb prints invalid UTF-8 and crashes",
     kOneShot + "out \\xff\\xfe\\xc3\\x28\nerr \\xc0\ncrash\n", {}, {}, kCalled},
    {"scrcpy exits at once, every time", {}, "when -s BAD .*\nexit 1\n" + kHangingScrcpy,
     [](Rig& r) { r.c->setRelayEnabled(kBad, true); },
     [](Rig& r) { return r.scrcpyRuns().size() >= 4; }},  // the good phone's run and three
    {"scrcpy ignores TERM", {}, "when -s BAD .*\nignore-term\nout ready\nhang\n" + kHangingScrcpy,
     [](Rig& r) {
         r.c->setRelayEnabled(kBad, true);
         QVERIFY(r.waitForLog("[scrcpy][BAD] ready"));
         r.c->setRelayEnabled(kBad, false);
     },
     [](Rig& r) { return !r.c->scrcpyProcesses.contains(kBad); }},
    {"track-devices dies at once, every time",
     "when track-devices\noutraw 0000\nexit 1\n" + kQuietAdb, {},
     [](Rig& r) { ::kill(static_cast<pid_t>(r.c->trackDevicesProcess->processId()), SIGTERM); },
     [](Rig& r) { return r.resources.arguments("adb").count({"track-devices"}) >= 5; }, {},
     [](Rig& r) { return r.c->wirelessConnected(); }},
    // A folder where the file should be (unreadable and unwritable, also for root): a save is
    // refused; once the folder is gone, the next one is stored.
    {"settings file is a folder", {}, {},
     [](Rig& r) {
         QFile::remove(r.env.settingsPath);
         QVERIFY(QDir().mkpath(r.env.settingsPath + "/x"));
         r.c->setAudioBuffer(kBad, 250);
     }, kCalled,
     [](Rig& r) { QDir(r.env.settingsPath).removeRecursively(); r.c->setAudioBuffer(kBad, 260); },
     kSaved},
    {"resources folder missing", {}, {},
     [](Rig& r) { QVERIFY(QDir().rename(r.resources.dir(), r.resources.dir() + "-gone")); },
     [](Rig& r) { return r.log().filter("adb not found").size() >= 3; },
     [](Rig& r) { QVERIFY(QDir().rename(r.resources.dir() + "-gone", r.resources.dir())); }},
};
// clang-format on

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
    void faultTable() {
        QFETCH(int, row);
        const Fault& fault = kFaults[row];
        // Its call limit is well above a normal call under the sanitizers: only a hung one is
        // killed.
        Rig r({.prepare = [](TestEnvironment& env) {
            env.config.adbCallLimit = std::chrono::seconds(2);
        }});
        RirAvoruVara view(r.c.get());
        view.show();
        r.c->setRelayEnabled(kGood, true);
        QVERIFY(waitUntil([&] { return r.running(kGood); }));
        const qint64 good = r.pidOf(kGood);
        // The main thread turns, the window redraws after a change, and the good phone relays on.
        const auto unharmed = [&] {
            const int drawn = view.redrawCount();
            r.c->notifyWillChange();
            return waitUntil([&] { return view.redrawCount() > drawn; }) &&
                   r.pidOf(kGood) == good && r.running(kGood);
        };
        // Counted with no one-shot adb call in flight.
        QVERIFY(settleWork());
        const qsizetype childrenBefore = childProcesses().size();
        const int descriptorsBefore = openFileDescriptors();

        mark = int(r.resources.arguments("adb").size());
        for (const auto& [tool, script] : {std::pair{"adb", fault.adb}, {"scrcpy", fault.scrcpy}}) {
            script.isEmpty() ? void() : r.resources.setScript(tool, script);
        }
        fault.inject ? fault.inject(r) : void();
        // Flow time moves on only once each misbehaving call has ended, and under a sanitizer on a
        // busy machine three calls that print 10 MB each can take longer than the usual wait.
        QVERIFY2(waitUntil([&] { return fault.exercised(r); }, 3 * kWaitMs),
                 "the fault never showed");
        QVERIFY(unharmed());

        // Once healed, adb also lists a phone waiting for authorisation (shown, nothing started)
        // and a wireless one on the watcher's next start.
        fault.end ? fault.end(r) : void();
        r.resources.setScript(
            "adb",
            "when track-devices\noutraw 001510.0.0.9:5555\\tdevice\\n\nhang\n"
            "when devices -l\nout List of devices attached\\nR5CT unauthorized usb:1-1\n" +
                kQuietAdb);
        r.resources.setScript("scrcpy", kHangingScrcpy);
        if (!fault.scrcpy.isEmpty()) {
            r.c->setRelayEnabled(kBad, true);
        }
        const auto back = [&] {
            return r.c->isUSBDeviceConnected() && (!fault.recovered || fault.recovered(r)) &&
                   (fault.scrcpy.isEmpty() || r.running(kBad));
        };
        QVERIFY2(waitUntil(back), "the flow did not come back");
        QVERIFY(unharmed());
        r.c->setRelayEnabled(kBad, false);  // before counting what is left
        QVERIFY2(waitUntil([&] { return childProcesses().size() <= childrenBefore; }),
                 "a process was left");
        QVERIFY2(waitUntil([&] { return openFileDescriptors() <= descriptorsBefore; }),
                 "a descriptor was left");
    }
};

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
