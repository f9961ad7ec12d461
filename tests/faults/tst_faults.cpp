// The fault table: each row breaks one thing the application depends on while one phone relays
// and a window shows the controller, then ends the fault. Throughout, the main thread must keep
// turning and the window redrawing, and the relaying phone must keep its scrcpy process; once the
// fault has ended, the flow it broke must come back with no process or descriptor left behind.
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTest>
#include <QTimer>
#include <functional>

#include "discovery/discovery_test_helpers.h"
#include "relay/relay_rig.h"
#include "settings/endpoint_maps.h"
#include "ui/main_view.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kGood = QStringLiteral("GOOD");            // relays through the whole row
const QString kBad = QStringLiteral("BAD");              // the phone whose scrcpy misbehaves
const QString kSpare = QStringLiteral("10.0.0.8:5555");  // only has settings
const QString kStoredEndpoint = QStringLiteral("10.0.0.7:5555");
const QString kSettingsKey = QStringLiteral("audioBufferMsByEndpoint");

// adb's answers once a fault has ended: the device listing carries adb's own noise line, which
// no answer before it has, so its appearance in the USB check's log shows the check is back.
const QString kMarker = QStringLiteral("* daemon started successfully");
const QString kHealedAdb = QStringLiteral("when devices -l\nout ") + kMarker +
                           QStringLiteral("\nout List of devices attached\n") + kQuietAdb;
// One-shot commands misbehave; the watcher stays quiet.
QString oneShotFault(const QString& actions) {
    return QStringLiteral("when track-devices\nhang\nwhen .*\n") + actions + kQuietAdb;
}
const QString kBadScrcpyEnds = QStringLiteral("when -s BAD .*\nexit 1\n") + kHangingScrcpy;
const QString kBadScrcpyStubborn =
    QStringLiteral("when -s BAD .*\nignore-term\nout ready\nhang\n") + kHangingScrcpy;

struct Rig;
using Step = std::function<void(Rig&)>;
using Check = std::function<bool(Rig&)>;

struct Fault {
    const char* name;
    std::function<void(TestEnvironment&)> before;  // before the controller exists
    Step inject;
    Check exercised;  // the fault has had its effect (polled)
    Step end;
    Check recovered;  // the broken flow is back (polled)
    bool needsFileModes = false;
};

struct Rig {
    explicit Rig(const Fault& fault)
        : relay(kHangingScrcpy, QString(), 0.02, [&fault](TestEnvironment& env) {
              // Well above what a normal call takes under the sanitizers, so only a hung one is
              // ever killed.
              env.config.adbCallLimit = std::chrono::seconds(2);
              if (fault.before) {
                  fault.before(env);
              }
          }) {}

    ZovAdizuZadiRizov& c() { return *relay.c; }
    void setAdb(const QString& script) { relay.resources.setScript(QStringLiteral("adb"), script); }
    void setScrcpy(const QString& s) { relay.resources.setScript(QStringLiteral("scrcpy"), s); }
    int logged(const QString& prefix) const {
        int n = 0;
        for (const QString& m : relay.log()) {
            n += m.startsWith(prefix) ? 1 : 0;
        }
        return n;
    }
    // adb calls other than the watcher's since the fault began.
    int oneShotAdbCalls() const {
        int n = 0;
        for (const QStringList& args : relay.resources.arguments(QStringLiteral("adb")).mid(mark)) {
            n += args != QStringList{QStringLiteral("track-devices")} ? 1 : 0;
        }
        return n;
    }
    // What the settings file holds on disk. Read from a fresh copy: QSettings shares one cache
    // per file within the process, which also holds values a refused save could not write.
    QVariant stored(const QString& key) {
        const QString copy = relay.env.settingsPath + QString::number(++copies);
        QFile::copy(relay.env.settingsPath, copy);
        return QSettings(copy, QSettings::IniFormat).value(key);
    }
    int storedBuffer(const QString& endpoint) {
        const auto map = decodeIntMap(stored(kSettingsKey).toByteArray());
        return map ? map->value(endpoint) : 0;
    }

    RelayRig relay;
    int mark = 0;  // journal length when the fault began
    int copies = 0;
};

bool healedListingSeen(Rig& r) {
    return r.logged(QStringLiteral("[USBCheck] ADB output for devices -l:\n") + kMarker) > 0;
}

// `shows`: a log line the fault must have produced besides its calls.
Fault oneShotAdb(const char* name, const QString& actions, const QString& shows = QString()) {
    return {name,
            {},
            [actions](Rig& r) { r.setAdb(oneShotFault(actions)); },
            [shows](Rig& r) {
                return r.oneShotAdbCalls() >= 3 && (shows.isEmpty() || r.logged(shows) > 0);
            },
            [](Rig& r) { r.setAdb(kHealedAdb); },
            healedListingSeen};
}

QByteArray storedSettings() {
    return "[General]\nendpoint=" + kStoredEndpoint.toUtf8() + "\n";
}

// The settings file as an earlier run left it, then made unusable by `mode`.
Fault settingsFault(const char* name, QFile::Permissions mode) {
    return {name,
            [mode](TestEnvironment& env) {
                QFile file(env.settingsPath);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(storedSettings());
                file.close();
                QFile::setPermissions(env.settingsPath, mode);
            },
            [](Rig& r) { r.c().setAudioBuffer(kSpare, 250); },
            [](Rig& r) { return r.logged(QStringLiteral("[Settings] Could not save")) > 0; },
            [](Rig& r) {
                QFile::setPermissions(r.relay.env.settingsPath,
                                      QFile::ReadOwner | QFile::WriteOwner);
                // The failed saves have not touched what was stored.
                QFile file(r.relay.env.settingsPath);
                QVERIFY(file.open(QIODevice::ReadOnly));
                QCOMPARE(file.readAll(), storedSettings());
                r.c().setAudioBuffer(kSpare, 260);
            },
            [](Rig& r) {
                return r.storedBuffer(kSpare) == 260 &&
                       r.stored(QStringLiteral("endpoint")) == kStoredEndpoint;
            },
            true};
}

// The fewest seen over a short stretch: one-shot adb calls of the flows come and go all the time,
// each with its process and pipes, so a single count may catch one in flight.
int quietest(const std::function<int()>& count) {
    int least = count();
    for (int i = 0; i < 30; ++i) {
        QTest::qWait(10);
        least = std::min(least, count());
    }
    return least;
}

// Waits until the count is back to `before` at most; says by how much it is not.
QString settlesTo(const std::function<int()>& count, int before) {
    if (waitUntil([&] { return count() <= before; })) {
        return QString();
    }
    return QStringLiteral("%1 before, %2 after").arg(before).arg(quietest(count));
}

QString resourcesDir(Rig& r) {
    return *r.c().ref().config().resourcesDir;
}

const Fault kFaults[] = {
    oneShotAdb("adb hangs forever", QStringLiteral("hang\n"),
               QStringLiteral("[ADB] Command did not end within 2000 ms; killing it: ")),
    oneShotAdb("adb crashes", QStringLiteral("crash\n")),
    oneShotAdb("adb prints 10 MB", QStringLiteral("flood 10000000\n")),
    oneShotAdb("adb prints invalid UTF-8",
               QStringLiteral("out \\xff\\xfe\\xc3\\x28 List of devices attached\nerr \\xc0\n")),
    {"scrcpy exits at once, every time",
     {},
     [](Rig& r) {
         r.setScrcpy(kBadScrcpyEnds);
         r.c().setRelayEnabled(kBad, true);
     },
     [](Rig& r) { return r.logged(QStringLiteral("[AutoFlow] Reconnect endpoint: BAD")) >= 3; },
     [](Rig& r) { r.setScrcpy(kHangingScrcpy); },
     [](Rig& r) { return r.relay.running(kBad); }},
    {"scrcpy ignores SIGTERM",
     {},
     [](Rig& r) {
         r.setScrcpy(kBadScrcpyStubborn);
         r.c().setRelayEnabled(kBad, true);
         QVERIFY(r.relay.waitForLog(QStringLiteral("[scrcpy][BAD] ready")));
         r.c().setRelayEnabled(kBad, false);
     },
     [](Rig& r) {
         return r.logged(QStringLiteral("[Debug] scrcpy terminated for BAD status=9")) > 0;
     },
     [](Rig& r) {
         r.setScrcpy(kHangingScrcpy);
         r.c().setRelayEnabled(kBad, true);
     },
     [](Rig& r) { return r.relay.running(kBad); }},
    {"track-devices dies at once, every time",
     {},
     [](Rig& r) {
         r.setAdb(QStringLiteral("when track-devices\noutraw 0000\nexit 1\n") + kQuietAdb);
         ::kill(static_cast<pid_t>(r.c().trackDevicesProcess->processId()), SIGTERM);
     },
     [](Rig& r) { return r.logged(QStringLiteral("[TrackDevices] watcher terminated")) >= 5; },
     [](Rig& r) {
         r.setAdb(QStringLiteral("when track-devices\noutraw ") +
                  discovery::frameScript(QStringLiteral("10.0.0.9:5555\tdevice\n")) +
                  QStringLiteral("\nhang\n") + kQuietAdb);
     },
     [](Rig& r) { return r.c().wirelessConnected(); }},
    {"settings file corrupt",
     [](TestEnvironment& env) {
         QFile file(env.settingsPath);
         QVERIFY(file.open(QIODevice::WriteOnly));
         static const char garbage[] = "\xff\xfe[[[General\n=\x01\nendpoint\n\0\0\0";
         file.write(garbage, sizeof garbage - 1);
     },
     [](Rig& r) { r.c().setAudioBuffer(kSpare, 250); }, [](Rig&) { return true; },
     [](Rig& r) { r.c().setAudioBuffer(kSpare, 260); },
     [](Rig& r) { return r.storedBuffer(kSpare) == 260; }},
    settingsFault("settings file unreadable", QFile::WriteOwner),
    settingsFault("settings file read-only", QFile::ReadOwner),
    {"resources folder missing",
     {},
     [](Rig& r) { QVERIFY(QDir().rename(resourcesDir(r), resourcesDir(r) + "-gone")); },
     [](Rig& r) { return r.logged(QStringLiteral("adb not found in bundled tools.")) >= 3; },
     [](Rig& r) {
         QVERIFY(QDir().rename(resourcesDir(r) + "-gone", resourcesDir(r)));
         r.setAdb(kHealedAdb);
     },
     healedListingSeen},
};

}  // namespace

class FaultsTest : public QObject {
    Q_OBJECT
private slots:
    void faultTable_data();
    void faultTable();
};

void FaultsTest::faultTable_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kFaults)); ++i) {
        QTest::newRow(kFaults[i].name) << i;
    }
}

void FaultsTest::faultTable() {
    QFETCH(int, row);
    const Fault& fault = kFaults[row];
    if (fault.needsFileModes && ::geteuid() == 0) {
        QSKIP("root ignores file modes, and nobody cannot run this checkout's fake tools");
    }
    Rig r(fault);
    if (QTest::currentTestFailed()) {
        return;
    }
    RirAvoruVara view(&r.c());
    view.show();
    int beats = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&beats] { ++beats; });
    heartbeat.start(10);
    // The main thread turns (the heartbeat ticks) and the window redraws after a change.
    const auto windowAlive = [&] {
        const int beat = beats;
        const int drawn = view.redrawCount();
        r.c().notifyWillChange();
        return waitUntil([&] { return beats > beat + 2 && view.redrawCount() > drawn; });
    };

    r.c().setRelayEnabled(kGood, true);
    QVERIFY(waitUntil([&] { return r.relay.running(kGood); }));
    const qint64 good = r.relay.pidOf(kGood);
    const auto goodRelays = [&] { return r.relay.running(kGood) && r.relay.pidOf(kGood) == good; };
    const auto children = [] { return int(childProcesses().size()); };
    const int childrenBefore = quietest(children);
    const int descriptorsBefore = quietest(discovery::openFileDescriptors);

    r.mark = int(r.relay.resources.calls(QStringLiteral("adb")).size());
    fault.inject(r);
    QVERIFY2(waitUntil([&] { return fault.exercised(r); }), "the fault never showed");
    QVERIFY(windowAlive());
    QVERIFY(goodRelays());

    fault.end(r);
    if (QTest::currentTestFailed()) {
        return;
    }
    QVERIFY2(waitUntil([&] { return fault.recovered(r); }), "the flow did not come back");
    QVERIFY(windowAlive());
    QVERIFY(goodRelays());

    // A phone brought back by the row is switched off again before counting what is left.
    if (r.c().enabledEndpoints().contains(kBad)) {
        r.c().setRelayEnabled(kBad, false);
        QVERIFY(waitUntil([&] { return !r.c().scrcpyProcesses.contains(kBad); }));
    }
    QCOMPARE(settlesTo(children, childrenBefore), QString());
    QCOMPARE(settlesTo(discovery::openFileDescriptors, descriptorsBefore), QString());
    QVERIFY(goodRelays());
}

// Whether a user other than the owner can run this program: every folder above it searchable
// and the file itself executable by others.
bool othersCanRun(const QString& program) {
    QFileInfo info(program);
    if (!(info.permissions() & QFile::ExeOther)) {
        return false;
    }
    for (QDir dir = info.absoluteDir(); !dir.isRoot(); dir.cdUp()) {
        if (!(QFileInfo(dir.absolutePath()).permissions() & QFile::ExeOther)) {
            return false;
        }
    }
    return true;
}

// Permission faults need a user the file modes apply to: as root, the test runs as nobody when
// nobody can run the fake tools from where this checkout is; otherwise those rows are skipped.
// The application's log, echoed as info messages, would bury the test's own output (one row logs
// megabytes).
static bool setUp() {
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
    if (::getuid() == 0 && othersCanRun(fakeToolBinary())) {
        return ::setgid(65534) == 0 && ::setuid(65534) == 0;
    }
    return true;
}

QTEST_MAIN_WRAPPER(FaultsTest, if (!setUp()) return 2; QTEST_MAIN_SETUP())

#include "tst_faults.moc"
