// What the application costs while it waits: the built program runs for a stretch of real time
// with the real adb (private server port), once with no phone and once relaying one wireless
// phone (the simulated phone, a fake scrcpy that runs until signalled). Alongside it, in the same
// run, a minimal loop of ours does only the work the design requires:
//   no phone:  one "adb track-devices" kept open and read, one "adb devices -l" every 10 s, and
//              one more "adb devices -l" whenever the watcher's table gains or loses a wireless
//              phone (only the listing names such a phone and gives it its row);
//   one phone: the same (the phone, connected beforehand, is such a gain in the first table),
//              plus one "adb -s EP shell getprop ro.serialno" per connection (the listing pairs
//              rows by the phone's serial number, so each endpoint newly listed is asked once
//              which phone it reaches), one "adb connect", one scrcpy kept running and one
//              "adb -s EP shell dumpsys battery" every 60 s.
// Measured for both processes the same way: their own CPU time (children excluded), the adb
// processes they started (a wrapper named adb in the resources folder appends each call to a
// file, then execs the real adb) and their peak resident memory. Prints the figures and the
// ratios; asserts nothing.
//
// Usage: bench_cost_at_rest [seconds]   (default 120 per scenario; both scenarios run)
// Each scenario runs half a check interval longer than asked, so that it ends between two checks:
// ended on one, the count of either side would depend on which of the two started first.
//
// The second scenario needs the user's click on the device row's relay switch; the program has no
// other way to start relaying a wireless phone on its own. That run therefore uses this binary,
// copied next to the program, in a mode that builds the application exactly as main() does and
// makes the one call the switch makes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/controller.h"
#include "app/root_view.h"
#include "support/sim_phone_control.h"
#include "support/test_support.h"

extern char** environ;

using namespace sonavel;

namespace {

// Private to this benchmark; no test uses it, and it is outside the emulator range adb scans.
constexpr int kAdbServerPort = 15761;
constexpr int kDevicesIntervalS = 10;
constexpr int kBatteryIntervalS = 60;
const char* const kAdbLogVariable = "SONAVEL_BENCH_ADB_LOG";

// ---------------------------------------------------------------------------------------------
// The baseline: plain POSIX, one thread, no Qt.

volatile sig_atomic_t baselineStop = 0;

void onBaselineTerm(int) {
    baselineStop = 1;
}

pid_t spawnPiped(const std::vector<std::string>& args, int* readFd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return -1;
    }
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    *readFd = fds[0];
    return pid;
}

// Reads what is there; false at end of file.
bool drain(int fd, std::string* into) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into->append(buffer, static_cast<size_t>(n));
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
}

// A one-shot command: its whole output read, then reaped.
std::string runCommand(const std::vector<std::string>& args) {
    int fd = -1;
    const pid_t pid = spawnPiped(args, &fd);
    std::string output;
    if (pid < 0) {
        return output;
    }
    pollfd p{fd, POLLIN, 0};
    while (drain(fd, &output)) {
        poll(&p, 1, -1);
    }
    close(fd);
    waitpid(pid, nullptr, 0);
    return output;
}

// The wireless serials online in one table of the "track-devices" stream: each table is four hex
// digits of length, then lines such as "192.168.1.23:5555\tdevice".
std::set<std::string> onlineWireless(const std::string& table) {
    std::set<std::string> online;
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        end = end == std::string::npos ? table.size() : end;
        const std::string line = table.substr(start, end - start);
        const size_t tab = line.find('\t');
        if (tab != std::string::npos && line.compare(tab + 1, std::string::npos, "device") == 0 &&
            line.find(':') < tab) {
            online.insert(line.substr(0, tab));
        }
        start = end + 1;
    }
    return online;
}

// Takes the whole tables off the front of the stream's buffer; true when the set of wireless
// phones online changed in them.
bool wirelessChanged(std::string* pending, std::set<std::string>* online) {
    bool changed = false;
    while (pending->size() >= 4) {
        const std::string digits = pending->substr(0, 4);
        char* end = nullptr;
        const size_t length = std::strtoul(digits.c_str(), &end, 16);
        if (end != digits.c_str() + 4) {
            pending->clear();  // not a framed table: nothing in it to act on
            break;
        }
        if (pending->size() < 4 + length) {
            break;
        }
        std::set<std::string> now = onlineWireless(pending->substr(4, length));
        pending->erase(0, 4 + length);
        changed = changed || now != *online;
        *online = std::move(now);
    }
    return changed;
}

// A long-running child whose output is read as it comes (and, like the design's buffers, kept
// only until its lines are complete).
struct Stream {
    pid_t pid = -1;
    int fd = -1;
    std::string pending;
};

int runBaseline(const std::string& adb, const std::string& scrcpy, const std::string& endpoint) {
    struct sigaction term = {};
    term.sa_handler = onBaselineTerm;
    sigaction(SIGTERM, &term, nullptr);
    using Clock = std::chrono::steady_clock;

    std::vector<Stream> streams(1);
    streams[0].pid = spawnPiped({adb, "track-devices"}, &streams[0].fd);
    if (!endpoint.empty()) {
        runCommand({adb, "connect", endpoint});
        Stream relay;
        relay.pid = spawnPiped({scrcpy, "-s", endpoint, "--no-video"}, &relay.fd);
        streams.push_back(relay);
    }
    Clock::time_point nextDevices = Clock::now();
    Clock::time_point nextBattery = Clock::now();
    std::set<std::string> online;
    while (!baselineStop) {
        const Clock::time_point now = Clock::now();
        if (now >= nextDevices) {
            runCommand({adb, "devices", "-l"});
            nextDevices += std::chrono::seconds(kDevicesIntervalS);
        }
        if (!endpoint.empty() && now >= nextBattery) {
            runCommand({adb, "-s", endpoint, "shell", "dumpsys", "battery"});
            nextBattery += std::chrono::seconds(kBatteryIntervalS);
        }
        Clock::time_point due = nextDevices;
        if (!endpoint.empty()) {
            due = std::min(due, nextBattery);
        }
        std::vector<pollfd> fds;
        for (const Stream& s : streams) {
            fds.push_back({s.fd, POLLIN, 0});
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
        poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, wait)));
        for (Stream& s : streams) {
            if (s.fd >= 0 && !drain(s.fd, &s.pending)) {
                close(s.fd);
                s.fd = -1;
            }
            if (&s == &streams[0]) {
                const std::set<std::string> before = online;
                if (wirelessChanged(&s.pending, &online)) {
                    runCommand({adb, "devices", "-l"});
                    for (const std::string& serial : online) {
                        if (before.count(serial) == 0) {
                            runCommand({adb, "-s", serial, "shell", "getprop", "ro.serialno"});
                        }
                    }
                }
                continue;
            }
            const size_t lastLine = s.pending.rfind('\n');
            if (lastLine != std::string::npos) {
                s.pending.erase(0, lastLine + 1);
            }
        }
    }
    for (const Stream& s : streams) {
        if (s.pid > 0) {
            kill(s.pid, SIGTERM);
            waitpid(s.pid, nullptr, 0);
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The application with its relay switch turned on for one endpoint: main() plus the switch.

int runApplicationWithSwitchOn(char* program, const QString& endpoint) {
    int argc = 1;
    char* argv[] = {program, nullptr};
    RizIridiRoz app(argc, argv);
    RootView window;
    window.show();
    QTimer::singleShot(
        0, &window, [&window, endpoint] { window.controller()->setRelayEnabled(endpoint, true); });
    return app.exec();
}

// ---------------------------------------------------------------------------------------------
// The driver.

struct ThreadUse {
    double cpuS = 0;
    qint64 slices = 0;
};

struct Usage {
    double statCpuS = 0;   // utime + stime of the process (all its threads, dead ones too)
    double schedCpuS = 0;  // on-CPU time of every thread seen, nanosecond precision
    double childCpuS = 0;  // cutime + cstime: reaped children (the adb clients, mostly)
    long peakRssKb = 0;
    QMap<QString, ThreadUse> threads;  // by thread name: where the time went
    // The tick count is exact but coarse (10 ms); the per-thread figure is fine but misses what a
    // thread did after its last sample before it ended (Qt's pooled threads end when idle).
    double cpu() const { return std::max(statCpuS, schedCpuS); }
};

QByteArray readProc(qint64 pid, const QString& name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Follows one process: the on-CPU time of each of its threads, kept after the thread is gone.
class CpuTracker {
public:
    explicit CpuTracker(qint64 pid) : pid_(pid) {}

    void sample() {
        QDirIterator tasks(QStringLiteral("/proc/%1/task").arg(pid_),
                           QDir::Dirs | QDir::NoDotAndDotDot);
        while (tasks.hasNext()) {
            const QString task = tasks.next();
            QFile file(task + QStringLiteral("/schedstat"));
            if (file.open(QIODevice::ReadOnly)) {
                const QList<QByteArray> fields = file.readAll().split(' ');
                Thread& seen = threads_[task];
                seen.cpuS = std::max(seen.cpuS, fields.value(0).toLongLong() / 1e9);
                seen.slices = std::max(seen.slices, fields.value(2).trimmed().toLongLong());
                if (seen.name.isEmpty()) {
                    // Qt names its own threads; ours carry the program's name, as the main one.
                    const QString tid = task.section(QLatin1Char('/'), -1);
                    const QByteArray comm = readProc(pid_, QStringLiteral("task/%1/comm").arg(tid));
                    if (tid == QString::number(pid_)) {
                        seen.name = QStringLiteral("main thread");
                    } else if (comm == readProc(pid_, QStringLiteral("comm"))) {
                        seen.name = QStringLiteral("worker threads");
                    } else {
                        seen.name = QString::fromUtf8(comm.trimmed());
                    }
                }
            }
        }
    }

    Usage usage() {
        sample();
        Usage u;
        for (const Thread& t : threads_) {
            u.schedCpuS += t.cpuS;
            ThreadUse& byName = u.threads[t.name];
            byName.cpuS += t.cpuS;
            byName.slices += t.slices;
        }
        const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
        const QByteArray stat = readProc(pid_, QStringLiteral("stat"));
        // The command name may hold spaces; fields are counted from after its parenthesis.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 15) {
            u.statCpuS = (fields[11].toLongLong() + fields[12].toLongLong()) / tick;
            u.childCpuS = (fields[13].toLongLong() + fields[14].toLongLong()) / tick;
        }
        for (const QByteArray& line : readProc(pid_, QStringLiteral("status")).split('\n')) {
            if (line.startsWith("VmHWM:")) {
                u.peakRssKb = line.mid(6).trimmed().split(' ').value(0).toLong();
            }
        }
        return u;
    }

private:
    struct Thread {
        QString name;
        double cpuS = 0;
        qint64 slices = 0;  // times it was put on a CPU: its wake-ups, roughly
    };
    qint64 pid_;
    QMap<QString, Thread> threads_;
};

// "devices -l", "track-devices", "connect", "dumpsys battery" or the command as given.
QMap<QString, int> adbCallsByKind(const QString& logPath) {
    QMap<QString, int> kinds;
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly)) {
        return kinds;
    }
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty()) {
            continue;
        }
        QString kind = line;
        if (line.contains(QStringLiteral("dumpsys battery"))) {
            kind = QStringLiteral("dumpsys battery");
        } else if (line.startsWith(QStringLiteral("connect "))) {
            kind = QStringLiteral("connect");
        } else if (line.startsWith(QStringLiteral("-s ")) &&
                   line.contains(QStringLiteral("getprop"))) {
            kind = QStringLiteral("getprop");
        }
        ++kinds[kind];
    }
    return kinds;
}

int total(const QMap<QString, int>& kinds) {
    int n = 0;
    for (int v : kinds) {
        n += v;
    }
    return n;
}

// Waits in real time, sampling the trackers every quarter second.
void waitReal(int ms, std::initializer_list<CpuTracker*> trackers) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(std::min<qint64>(250, std::max<qint64>(1, ms - timer.elapsed())));
        for (CpuTracker* t : trackers) {
            t->sample();
        }
    }
}

void stopProcess(QProcess& p) {
    if (p.state() == QProcess::NotRunning) {
        return;
    }
    p.terminate();
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

bool copyTree(const QString& from, const QString& to) {
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + source.mid(from.size());
        QDir().mkpath(QFileInfo(target).path());
        if (!QFile::copy(source, target)) {
            return false;
        }
    }
    return true;
}

void writeFile(const QString& path, const QByteArray& bytes, bool executable) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(bytes);
    }
    file.close();
    if (executable) {
        file.setPermissions(file.permissions() | QFile::ExeOwner);
    }
}

struct Layout {
    QString root;
    QString program;        // <root>/app/bin/sonavel, a copy of the built program
    QString switchProgram;  // <root>/app/bin/<this benchmark>, for the relaying run
    QString resources;      // <root>/app/share/sonavel
    QString realAdb;        // the real adb, next to the wrapper that counts its calls
    QString baselineScrcpy;
};

bool prepare(const QString& root, Layout* out) {
    const QDir exeDir(QCoreApplication::applicationDirPath());
    const QString builtProgram = exeDir.absoluteFilePath(QStringLiteral("../bin/sonavel"));
    const QString builtResources = exeDir.absoluteFilePath(QStringLiteral("../share/sonavel"));
    if (!QFileInfo(builtProgram).isExecutable() ||
        !QFileInfo(builtResources + QStringLiteral("/adb")).isExecutable()) {
        std::fprintf(stderr, "needs the built program and its real adb: build target sonavel\n");
        return false;
    }
    Layout l;
    l.root = root;
    l.program = root + QStringLiteral("/app/bin/sonavel");
    l.switchProgram = root + QStringLiteral("/app/bin/sonavel-switch-on");
    l.resources = root + QStringLiteral("/app/share/sonavel");
    l.realAdb = l.resources + QStringLiteral("/adb-real");
    QDir().mkpath(root + QStringLiteral("/app/bin"));
    if (!QFile::copy(builtProgram, l.program) ||
        !QFile::copy(QCoreApplication::applicationFilePath(), l.switchProgram) ||
        !copyTree(builtResources, l.resources) ||
        !QFile::rename(l.resources + QStringLiteral("/adb"), l.realAdb)) {
        std::fprintf(stderr, "cannot lay out the program in %s\n", qPrintable(root));
        return false;
    }
    // One process per call: the shell execs adb, so the pid the program sees is adb's.
    writeFile(l.resources + QStringLiteral("/adb"),
              QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$%1\"\nexec '%2' \"$@\"\n")
                  .arg(QString::fromLatin1(kAdbLogVariable), l.realAdb)
                  .toUtf8(),
              true);
    // The fake scrcpy relays until it is signalled; the baseline has its own copy, outside the
    // resources folder, since the program ends stray scrcpy processes of its folder at start.
    const QString hang = QStringLiteral("when .*\nhang\n");
    QFile::remove(l.resources + QStringLiteral("/scrcpy"));
    QFile::link(test::fakeToolBinary(), l.resources + QStringLiteral("/scrcpy"));
    writeFile(l.resources + QStringLiteral("/scrcpy.script"), hang.toUtf8(), false);
    if (!QFileInfo::exists(l.resources + QStringLiteral("/scrcpy-server"))) {
        writeFile(l.resources + QStringLiteral("/scrcpy-server"), "jar", false);
    }
    QDir().mkpath(root + QStringLiteral("/baseline"));
    l.baselineScrcpy = root + QStringLiteral("/baseline/scrcpy");
    QFile::link(test::fakeToolBinary(), l.baselineScrcpy);
    writeFile(l.baselineScrcpy + QStringLiteral(".script"), hang.toUtf8(), false);
    *out = l;
    return true;
}

int runAdb(const Layout& l, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(l.realAdb, args);
    p.waitForFinished(30000);
    return p.exitCode();
}

int scrcpyLaunches(const QString& journal) {
    QFile file(journal);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
}

struct Side {
    Usage warm;  // after the start-up
    Usage end;
    QMap<QString, int> adb;
};

struct Scenario {
    QString name;
    Side app;
    Side baseline;
    int scrcpyLaunches = 0;
    int warmS = 0;
};

// Runs the program and the baseline side by side for `seconds`; both see the same machine load.
Scenario runScenario(const Layout& l, const QString& name, int seconds, const QString& endpoint) {
    Scenario result;
    result.name = name;
    const QString dir = l.root + QLatin1Char('/') + name;
    QDir().mkpath(dir + QStringLiteral("/config/Sonavel"));
    QDir().mkpath(dir + QStringLiteral("/runtime"));
    QFile::setPermissions(dir + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // A private settings store: the user's own is never read or written.
    QByteArray settings = "[General]\nsetupCompleted=true\n";
    if (!endpoint.isEmpty()) {
        settings += "endpoint=" + endpoint.toUtf8() + "\n";
    }
    writeFile(dir + QStringLiteral("/config/Sonavel/Sonavel.conf"), settings, false);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir + QStringLiteral("/runtime"));
    QProcessEnvironment appEnv = env;
    appEnv.insert(QString::fromLatin1(kAdbLogVariable), dir + QStringLiteral("/adb-app.log"));
    QProcessEnvironment baseEnv = env;
    baseEnv.insert(QString::fromLatin1(kAdbLogVariable), dir + QStringLiteral("/adb-base.log"));

    QProcess app;
    app.setProcessEnvironment(appEnv);
    app.setStandardOutputFile(dir + QStringLiteral("/app.out"));
    app.setStandardErrorFile(dir + QStringLiteral("/app.err"));
    QProcess base;
    base.setProcessEnvironment(baseEnv);
    base.setStandardOutputFile(QProcess::nullDevice());
    base.setStandardErrorFile(QProcess::nullDevice());

    // The baseline starts half a check interval after the program and is measured over the same
    // stretch of its own run. Side by side in step, the two checked within tens of milliseconds of
    // each other, and whichever woke second found the machine's caches warm from the other: the
    // ratio then moved by half with the order the two happened to start in.
    const int offsetMs = kDevicesIntervalS * 500;
    if (endpoint.isEmpty()) {
        app.start(l.program, {});
    } else {
        app.start(l.switchProgram, {QStringLiteral("--switch-on"), endpoint});
    }
    if (!app.waitForStarted(10000)) {
        std::fprintf(stderr, "%s: cannot start the program\n", qPrintable(name));
        std::exit(2);
    }
    CpuTracker appCpu(app.processId());
    waitReal(offsetMs, {&appCpu});
    const QString wrapper = l.resources + QStringLiteral("/adb");
    base.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--baseline"), wrapper, l.baselineScrcpy, endpoint});
    if (!base.waitForStarted(10000)) {
        std::fprintf(stderr, "%s: cannot start the baseline\n", qPrintable(name));
        std::exit(2);
    }
    CpuTracker baseCpu(base.processId());
    const int warmS = std::max(5, std::min(20, seconds / 4));
    result.warmS = warmS;
    waitReal(warmS * 1000 - offsetMs, {&appCpu, &baseCpu});
    result.app.warm = appCpu.usage();
    waitReal(offsetMs, {&appCpu, &baseCpu});
    result.baseline.warm = baseCpu.usage();
    waitReal((seconds - warmS) * 1000, {&appCpu, &baseCpu});
    result.app.end = appCpu.usage();
    waitReal(offsetMs, {&appCpu, &baseCpu});
    result.baseline.end = baseCpu.usage();
    stopProcess(app);
    stopProcess(base);
    result.app.adb = adbCallsByKind(dir + QStringLiteral("/adb-app.log"));
    result.baseline.adb = adbCallsByKind(dir + QStringLiteral("/adb-base.log"));
    result.scrcpyLaunches = scrcpyLaunches(l.resources + QStringLiteral("/scrcpy.journal"));
    return result;
}

void report(const Scenario& s, int seconds) {
    const Usage& a = s.app.end;
    const Usage& b = s.baseline.end;
    std::printf("\n== %s, %d s ==\n", qPrintable(s.name), seconds);
    std::printf("%-10s %10s %10s %10s %12s %10s\n", "", "cpu s", "(ticks)", "(sched)", "children s",
                "peak RSS");
    std::printf("%-10s %10.3f %10.2f %10.3f %12.2f %7ld kB\n", "program", a.cpu(), a.statCpuS,
                a.schedCpuS, a.childCpuS, a.peakRssKb);
    std::printf("%-10s %10.3f %10.2f %10.3f %12.2f %7ld kB\n", "baseline", b.cpu(), b.statCpuS,
                b.schedCpuS, b.childCpuS, b.peakRssKb);
    // After start-up, the fine per-thread figure on both sides: the ticks are too coarse here.
    const double restA = a.schedCpuS - s.app.warm.schedCpuS;
    const double restB = b.schedCpuS - s.baseline.warm.schedCpuS;
    std::printf("ratio program/baseline CPU, whole run:        %.2f (goal <= 2)\n",
                a.cpu() / std::max(b.cpu(), 1e-6));
    std::printf("ratio program/baseline CPU, from %2d s to end:  %.2f (%.1f ms / %.1f ms)\n",
                s.warmS, restA / std::max(restB, 1e-6), restA * 1e3, restB * 1e3);
    // Where the program's time after start-up went, thread by thread (threads of one name summed).
    std::printf("program threads from %2d s to end:              ms  on-CPU slices\n", s.warmS);
    for (auto it = a.threads.cbegin(); it != a.threads.cend(); ++it) {
        const ThreadUse before = s.app.warm.threads.value(it.key());
        std::printf("  %-40s %7.2f %6lld\n", qPrintable(it.key()), (it->cpuS - before.cpuS) * 1e3,
                    static_cast<long long>(it->slices - before.slices));
    }
    QStringList kinds = s.app.adb.keys();
    for (const QString& k : s.baseline.adb.keys()) {
        if (!kinds.contains(k)) {
            kinds << k;
        }
    }
    std::printf("adb processes started (program / required by the design):\n");
    for (const QString& k : kinds) {
        std::printf("  %-40s %4d / %d\n", qPrintable(k), s.app.adb.value(k),
                    s.baseline.adb.value(k));
    }
    std::printf("  %-40s %4d / %d\n", "all", total(s.app.adb), total(s.baseline.adb));
    if (s.name == QStringLiteral("one-phone")) {
        std::printf("scrcpy launches by the program: %d (1 expected)\n", s.scrcpyLaunches);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--baseline") {
        return runBaseline(argv[2], argv[3], argc > 4 ? argv[4] : "");
    }
    if (argc >= 3 && std::string(argv[1]) == "--switch-on") {
        return runApplicationWithSwitchOn(argv[0], QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication driver(argc, argv);
    const int seconds = argc > 1 ? std::max(10, atoi(argv[1])) : 120;
    QTemporaryDir root;
    Layout layout;
    if (!root.isValid() || !prepare(root.path(), &layout)) {
        return 2;
    }
    // Every adb here, the program's included, talks to a private server; its keys live in a
    // private home.
    qputenv("ANDROID_ADB_SERVER_PORT", QByteArray::number(kAdbServerPort));
    QDir().mkpath(root.path() + QStringLiteral("/home"));
    qputenv("HOME", (root.path() + QStringLiteral("/home")).toUtf8());
    // Started before either side, so that neither pays for the server's start.
    runAdb(layout, {QStringLiteral("start-server")});

    std::printf("program: %s (real adb, server port %d)\n", qPrintable(layout.program),
                kAdbServerPort);
    const Scenario idle = runScenario(layout, QStringLiteral("no-phone"), seconds, QString());
    report(idle, seconds + kDevicesIntervalS / 2);
    std::fflush(stdout);

    test::SimPhone phone;
    QString error;
    if (!phone.start(&error)) {
        std::fprintf(stderr, "simulated phone: %s\n", qPrintable(error));
    } else {
        runAdb(layout, {QStringLiteral("connect"), phone.endpoint()});
        const Scenario relaying =
            runScenario(layout, QStringLiteral("one-phone"), seconds, phone.endpoint());
        report(relaying, seconds + kDevicesIntervalS / 2);
        runAdb(layout, {QStringLiteral("disconnect"), phone.endpoint()});
        phone.stop();
    }
    runAdb(layout, {QStringLiteral("kill-server")});
    return 0;
}
