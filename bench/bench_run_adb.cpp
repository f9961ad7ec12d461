// runADB against the fake adb, compared with a bare spawn-and-wait of the same executable, in one
// run. Calls alternate between the two so that both see the same machine load. Prints medians and
// their ratio; asserts nothing.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

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

double bareSpawn(const QByteArray& path) {
    QElapsedTimer timer;
    timer.start();
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

    std::vector<double> runner, bare;
    for (int i = 0; i < calls + 5; ++i) {
        // Alternate which goes first, so that neither always runs right after the other's child.
        double r = 0, b = 0;
        auto timedRunner = [&] {
            QElapsedTimer timer;
            timer.start();
            ref.runADB({"devices", "-l"});
            r = timer.nsecsElapsed() / 1e6;
        };
        if (i % 2 == 0) {
            timedRunner();
            b = bareSpawn(path);
        } else {
            b = bareSpawn(path);
            timedRunner();
        }
        if (i >= 5) {  // warm-up
            runner.push_back(r);
            bare.push_back(b);
        }
    }
    const double mr = median(runner), mb = median(bare);
    std::printf("runADB median:      %.3f ms (%d calls)\n", mr, calls);
    std::printf("bare spawn median:  %.3f ms (%d calls)\n", mb, calls);
    std::printf("ratio runADB/bare:  %.2f (goal <= 1.15)\n", mr / mb);
    return 0;
}
