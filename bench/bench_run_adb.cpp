// runADB against the fake adb, compared with a bare spawn-and-wait of the same executable, in one
// run. Calls alternate between the two so that both see the same machine load. Prints medians and
// their ratio; asserts nothing.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/controller.h"
#include "support/test_support.h"

extern char** environ;

using namespace sonavel;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// CPU time of the calling thread alone: what the call costs the application, its child excluded.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double bareSpawn(const QByteArray& path, double* cpuMs) {
    QElapsedTimer timer;
    timer.start();
    const double cpu0 = threadCpuMs();
    char* argv[] = {const_cast<char*>(path.constData()), const_cast<char*>("devices"),
                    const_cast<char*>("-l"), nullptr};
    // Output to /dev/null: the baseline pays for no pipe, no reading and no decoding.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    *cpuMs = threadCpuMs() - cpu0;
    return timer.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? std::max(50, atoi(argv[1])) : 200;

    test::FakeResources res;
    res.installFake("adb", "when .*\nout List of devices attached\n");
    test::TestEnvironment env(&res, 1.0);
    env.config.debuggerProbe = [] { return false; };  // as in normal use: no debugger, no log
    ZovAdizuZadiRizov controller(env.config);
    const ControllerRef ref = controller.ref();
    const QByteArray path = res.path("adb").toLocal8Bit();

    std::vector<double> runner, bare, runnerCpu, bareCpu;
    for (int i = 0; i < calls + 5; ++i) {
        // Alternate which goes first, so that neither always runs right after the other's child.
        double r = 0, b = 0, rc = 0, bc = 0;
        auto timedRunner = [&] {
            QElapsedTimer timer;
            timer.start();
            const double cpu0 = threadCpuMs();
            ref.runADB({"devices", "-l"});
            rc = threadCpuMs() - cpu0;
            r = timer.nsecsElapsed() / 1e6;
        };
        if (i % 2 == 0) {
            timedRunner();
            b = bareSpawn(path, &bc);
        } else {
            b = bareSpawn(path, &bc);
            timedRunner();
        }
        if (i >= 5) {  // warm-up
            runner.push_back(r);
            bare.push_back(b);
            runnerCpu.push_back(rc);
            bareCpu.push_back(bc);
        }
    }
    const double mr = median(runner), mb = median(bare);
    const double mrc = median(runnerCpu), mbc = median(bareCpu);
    std::printf("runADB median:      %.3f ms (%d calls)\n", mr, calls);
    std::printf("bare spawn median:  %.3f ms (%d calls)\n", mb, calls);
    std::printf("ratio runADB/bare:  %.2f (goal <= 1.15)\n", mr / mb);
    // The calling thread's own CPU per call: the share of the cost at rest that the runner adds.
    std::printf("caller CPU median:  runADB %.1f us, bare %.1f us, ratio %.2f\n", mrc * 1e3,
                mbc * 1e3, mrc / std::max(mbc, 1e-6));
    return 0;
}
