// From setRelayEnabled(endpoint, true) to its scrcpy running, against a bare spawn of the same fake
// scrcpy, in one run. "Running" is the same moment on both sides: Qt has seen the program start
// (exec succeeded), observed from the main event loop. Rounds alternate which side goes first.
// Prints medians and their ratio; asserts nothing.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/controller.h"
#include "relay/scrcpy_process.h"
#include "support/test_support.h"

extern char** environ;

using namespace sonavel;

namespace {

const QString kEndpoint = QStringLiteral("BENCH0001");

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs the main event loop, sleeping in it, until the condition holds.
void spinUntil(const std::function<bool()>& condition) {
    while (!condition()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

double relayStart(ZovAdizuZadiRizov& c) {
    QElapsedTimer timer;
    timer.start();
    c.setRelayEnabled(kEndpoint, true);
    spinUntil([&] {
        const QProcess* p = c.scrcpyProcesses.value(kEndpoint).data();
        return p && p->state() == QProcess::Running;
    });
    const double ms = timer.nsecsElapsed() / 1e6;
    c.setRelayEnabled(kEndpoint, false);
    spinUntil([&] {
        return c.statusText() == c.text(TextKey::statusIdle) && liveScrcpyProcessCount() == 0;
    });
    return ms;
}

double bareQProcessStart(const QString& path, const QStringList& arguments) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(path, arguments);
    spinUntil([&] { return process.state() != QProcess::Starting; });
    const double ms = timer.nsecsElapsed() / 1e6;
    process.terminate();
    process.waitForFinished(-1);
    return ms;
}

// posix_spawn returns once the child has exec'd: the cheapest start the system offers.
double barePosixSpawn(const QByteArray& path) {
    char* argv[] = {const_cast<char*>(path.constData()), const_cast<char*>("-s"),
                    const_cast<char*>("BENCH0001"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    const bool spawned = posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ) == 0;
    const double ms = timer.nsecsElapsed() / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    if (spawned) {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(20, atoi(argv[1])) : 100;

    test::FakeResources res;
    res.installFake("adb",
                    "when track-devices\nhang\nwhen devices -l\nout List of devices attached\n");
    res.installFake("scrcpy", "when .*\nhang\n");
    res.writeFile("scrcpy-server", "jar", false);
    test::TestEnvironment env(&res, 1.0);
    env.config.debuggerProbe = [] { return false; };  // as in normal use: no debugger, no log
    ZovAdizuZadiRizov controller(env.config);
    // Let the start-up work (stray-process clean-up, first USB check, watcher) settle.
    test::waitUntil([] { return false; }, 500);

    const QString path = res.path("scrcpy");
    const QStringList arguments{"-s",
                                kEndpoint,
                                "--no-window",
                                "--no-video",
                                "--no-control",
                                "--audio-source=output",
                                "--audio-buffer=150"};
    std::vector<double> relay, bare, spawn;
    for (int i = 0; i < rounds + 5; ++i) {
        double r = 0, b = 0;
        if (i % 2 == 0) {
            r = relayStart(controller);
            b = bareQProcessStart(path, arguments);
        } else {
            b = bareQProcessStart(path, arguments);
            r = relayStart(controller);
        }
        const double s = barePosixSpawn(path.toLocal8Bit());
        if (i >= 5) {  // warm-up
            relay.push_back(r);
            bare.push_back(b);
            spawn.push_back(s);
        }
    }
    const double mr = median(relay), mb = median(bare), ms = median(spawn);
    std::printf("relay start median:        %.3f ms (%d rounds)\n", mr, rounds);
    std::printf("bare QProcess start median: %.3f ms\n", mb);
    std::printf("bare posix_spawn median:    %.3f ms\n", ms);
    std::printf("ratio relay/bare QProcess:  %.2f (goal <= 1.5)\n", mr / mb);
    std::printf("ratio relay/posix_spawn:    %.2f (for reference)\n", mr / ms);
    return 0;
}
