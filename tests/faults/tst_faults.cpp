// The fault table: each row breaks one thing the application depends on while one phone relays
// and a window shows the controller, then ends the fault. Throughout, the main thread must keep
// turning and the window redrawing, and the relaying phone must keep its scrcpy process; once the
// fault has ended, the flow it broke must come back with no process or descriptor left behind.
#include <signal.h>
#include <unistd.h>

#include <QLoggingCategory>
#include <QTimer>

#include "settings/endpoint_maps.h"
#include "support/rig.h"
#include "ui/main_view.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kGood = QStringLiteral("GOOD");  // relays through the whole row
const QString kBad = QStringLiteral("BAD");    // the phone whose scrcpy misbehaves
const QString kSpare = QStringLiteral("10.0.0.8:5555");
const QByteArray kStored = "[General]\nendpoint=10.0.0.7:5555\n";
const QFile::Permissions kReadWrite = QFile::ReadOwner | QFile::WriteOwner;

using Step = std::function<void(Rig&)>;
using Check = std::function<bool(Rig&)>;

struct Fault {
    const char* name;
    Step inject;
    Check exercised;  // polled
    Step end;
    Check recovered;                                    // polled
    std::function<void(TestEnvironment&)> before = {};  // before the controller exists
    bool needsFileModes = false;
};

void setAdb(Rig& r, const QString& s) {
    r.resources.setScript(QStringLiteral("adb"), s);
}
void setScrcpy(Rig& r, const QString& s) {
    r.resources.setScript(QStringLiteral("scrcpy"), s);
}
// Calls since the fault began.
int callsSince(Rig& r, const QString& tool, const QString& containing, int mark) {
    int n = 0;
    for (const QStringList& args : r.resources.arguments(tool).mid(mark)) {
        n += args.contains(containing) ? 1 : 0;
    }
    return n;
}
int mark = 0;  // adb's journal length when the fault began
int copies = 0;

// Once a fault has ended, adb lists a phone waiting for authorisation: a listing the controller
// shows and that starts nothing.
void heal(Rig& r) {
    setAdb(r,
           "when devices -l\nout List of devices attached\nout R5CT unauthorized usb:1-1 "
           "transport_id:3\n" +
               kQuietAdb);
}
bool usbSeen(Rig& r) {
    return r.c->isUSBDeviceConnected();
}

// One-shot adb commands misbehave; the watcher stays quiet.
Fault adbFault(const char* name, const QString& actions) {
    return {name, [actions](Rig& r) { setAdb(r, "when track-devices\nhang\nwhen .*\n" + actions); },
            [](Rig& r) { return r.resources.arguments(QStringLiteral("adb")).size() >= mark + 3; },
            heal, usbSeen};
}

// What the settings file holds on disk, read from a copy: QSettings shares one cache per file
// within the process, which also holds values a refused save could not write.
QVariant stored(Rig& r, const char* key) {
    const QString copy = r.env.settingsPath + QString::number(++copies);
    QFile::copy(r.env.settingsPath, copy);
    return QSettings(copy, QSettings::IniFormat).value(QLatin1String(key));
}

// Settings of an earlier run, then made unusable by `mode`, or replaced by `garbage`.
Fault settingsFault(const char* name, QFile::Permissions mode, const QByteArray& garbage = {}) {
    const bool kept = garbage.isEmpty();
    return {name,
            [](Rig& r) { r.c->setAudioBuffer(kSpare, 250); },
            [](Rig&) { return true; },
            [kept](Rig& r) {
                QFile::setPermissions(r.env.settingsPath, kReadWrite);
                // The failed saves have not touched what was stored.
                QFile file(r.env.settingsPath);
                QVERIFY(file.open(QIODevice::ReadOnly));
                QVERIFY(!kept || file.readAll() == kStored);
                r.c->setAudioBuffer(kSpare, 260);
            },
            [kept](Rig& r) {
                const auto map = decodeIntMap(stored(r, "audioBufferMsByEndpoint").toByteArray());
                return map && map->value(kSpare) == 260 &&
                       (!kept || stored(r, "endpoint") == QStringLiteral("10.0.0.7:5555"));
            },
            [mode, garbage](TestEnvironment& env) {
                QFile file(env.settingsPath);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(garbage.isEmpty() ? kStored : garbage);
                file.close();
                QFile::setPermissions(env.settingsPath, mode);
            },
            mode != kReadWrite};
}

QString resourcesDir(Rig& r) {
    return *r.c->ref().config().resourcesDir;
}

const Fault kFaults[] = {
    adbFault("adb hangs forever", QStringLiteral("hang\n")),
    adbFault("adb crashes", QStringLiteral("crash\n")),
    adbFault("adb prints 10 MB", QStringLiteral("flood 10000000\n")),
    adbFault("adb prints invalid UTF-8",
             QStringLiteral("out \\xff\\xfe\\xc3\\x28 List of devices attached\nerr \\xc0\n")),
    {"scrcpy exits at once, every time",
     [](Rig& r) {
         setScrcpy(r, "when -s BAD .*\nexit 1\n" + kHangingScrcpy);
         r.c->setRelayEnabled(kBad, true);
     },
     [](Rig& r) { return callsSince(r, QStringLiteral("scrcpy"), kBad, 0) >= 3; },
     [](Rig& r) { setScrcpy(r, kHangingScrcpy); }, [](Rig& r) { return r.running(kBad); }},
    {"scrcpy ignores SIGTERM",
     [](Rig& r) {
         setScrcpy(r, "when -s BAD .*\nignore-term\nout ready\nhang\n" + kHangingScrcpy);
         r.c->setRelayEnabled(kBad, true);
         QVERIFY(r.waitForLog(QStringLiteral("[scrcpy][BAD] ready")));
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
     [](Rig& r) {
         return callsSince(r, QStringLiteral("adb"), QStringLiteral("track-devices"), mark) >= 5;
     },
     [](Rig& r) {
         setAdb(r, "when track-devices\noutraw 001510.0.0.9:5555\\tdevice\\n\nhang\n" + kQuietAdb);
     },
     [](Rig& r) { return r.c->wirelessConnected(); }},
    settingsFault("settings file corrupt", kReadWrite,
                  QByteArrayLiteral("\xff\xfe[[[General\n=\x01\nendpoint\n\0\0\0")),
    settingsFault("settings file unreadable", QFile::WriteOwner),
    settingsFault("settings file read-only", QFile::ReadOwner),
    {"resources folder missing",
     [](Rig& r) { QVERIFY(QDir().rename(resourcesDir(r), resourcesDir(r) + "-gone")); },
     [](Rig& r) {
         const QStringList log = r.log();
         return std::count_if(log.begin(), log.end(), [](const QString& m) {
                    return m.startsWith(QStringLiteral("adb not found"));
                }) >= 3;
     },
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
    RigOptions options;
    options.scale = 0.02;
    options.prepare = [&fault](TestEnvironment& env) {
        // Well above what a normal call takes under the sanitizers: only a hung one is killed.
        env.config.adbCallLimit = std::chrono::seconds(2);
        if (fault.before) {
            fault.before(env);
        }
    };
    Rig r(options);
    if (QTest::currentTestFailed()) {
        return;
    }
    RirAvoruVara view(r.c.get());
    view.show();
    int beats = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&beats] { ++beats; });
    heartbeat.start(10);
    const auto windowAlive = [&] {
        const int beat = beats;
        const int drawn = view.redrawCount();
        r.c->notifyWillChange();
        return waitUntil([&] { return beats > beat + 2 && view.redrawCount() > drawn; });
    };

    r.c->setRelayEnabled(kGood, true);
    QVERIFY(waitUntil([&] { return r.running(kGood); }));
    const qint64 good = r.pidOf(kGood);
    const auto goodRelays = [&] { return r.running(kGood) && r.pidOf(kGood) == good; };
    const auto children = [] { return int(childProcesses().size()); };
    const int childrenBefore = quietest(children);
    const int descriptorsBefore = quietest(openFileDescriptors);

    mark = int(r.resources.arguments(QStringLiteral("adb")).size());
    fault.inject(r);
    QVERIFY2(waitUntil([&] { return fault.exercised(r); }), "the fault never showed");
    QVERIFY(windowAlive() && goodRelays());
    fault.end(r);
    if (QTest::currentTestFailed()) {
        return;
    }
    QVERIFY2(waitUntil([&] { return fault.recovered(r); }), "the flow did not come back");
    QVERIFY(windowAlive() && goodRelays());

    // A phone brought back by the row is switched off again before counting what is left.
    if (r.c->enabledEndpoints().contains(kBad)) {
        r.c->setRelayEnabled(kBad, false);
    }
    QVERIFY(waitUntil([&] { return !r.c->scrcpyProcesses.contains(kBad); }));
    QVERIFY2(
        waitUntil([&] { return children() <= childrenBefore; }),
        qPrintable(QStringLiteral("%1 processes left").arg(quietest(children) - childrenBefore)));
    QVERIFY2(waitUntil([&] { return openFileDescriptors() <= descriptorsBefore; }),
             qPrintable(QStringLiteral("%1 descriptors left")
                            .arg(quietest(openFileDescriptors) - descriptorsBefore)));
    QVERIFY(goodRelays());
}

// Permission faults need a user the file modes apply to: as root, the test runs as nobody when
// nobody can run the fake tools from where this checkout is; otherwise those rows are skipped.
static bool setUp() {
    // The application's log, echoed as info messages, would bury the test's output.
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
    QFileInfo tool(fakeToolBinary());
    bool othersCanRun = tool.permissions() & QFile::ExeOther;
    for (QDir dir = tool.absoluteDir(); othersCanRun && !dir.isRoot(); dir.cdUp()) {
        othersCanRun = QFileInfo(dir.absolutePath()).permissions() & QFile::ExeOther;
    }
    if (::getuid() == 0 && othersCanRun) {
        return ::setgid(65534) == 0 && ::setuid(65534) == 0;
    }
    return true;
}

QTEST_MAIN_WRAPPER(FaultsTest, if (!setUp()) return 2; QTEST_MAIN_SETUP())

#include "tst_faults.moc"
