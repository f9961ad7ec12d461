#include "tools/child_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <vector>

extern char** environ;

namespace sonavel {

namespace {

// Where the kernel cannot signal the child's end, it is asked at this pace while a stream is open
// (a process the child started may keep the pipes open long after it is gone: adb's server is
// such a process), and at the shorter one once both have closed and the end is near.
constexpr int kExitCheckMs = 50;
constexpr int kClosedCheckMs = 2;

bool openPipe(int fds[2]) {
#if defined(__APPLE__)
    if (::pipe(fds) != 0) {
        return false;
    }
    // No pipe2 here; the spawn below closes every descriptor not named in its actions instead.
    for (int i = 0; i < 2; ++i) {
        ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    }
    return true;
#else
    return ::pipe2(fds, O_CLOEXEC) == 0;
#endif
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Reads what is there without blocking; closes the descriptor at end of stream.
void drain(int& fd, QByteArray* into) {
    char buffer[16384];
    while (fd >= 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into->append(buffer, static_cast<qsizetype>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n == 0 || errno != EAGAIN) {
                closeFd(fd);
            }
            return;
        }
    }
}

// True once the child has ended; its status is stored.
bool reaped(pid_t pid, bool block, int* status) {
    for (;;) {
        const pid_t r = ::waitpid(pid, status, block ? 0 : WNOHANG);
        if (r == pid) {
            return true;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        // 0: still running. ECHILD: reaped by someone else; it has ended, but how is lost, so it
        // counts as failed (a status that is no normal exit) and the caller never waits for
        // nothing.
        if (r < 0) {
            *status = -1;
            return true;
        }
        return false;
    }
}

}  // namespace

ChildRun runChild(const QString& program, const QStringList& arguments,
                  std::chrono::milliseconds limit) {
    ChildRun run;
    const QByteArray path = program.toLocal8Bit();
    std::vector<QByteArray> args;
    args.reserve(static_cast<size_t>(arguments.size()) + 1);
    args.push_back(path);
    for (const QString& a : arguments) {
        args.push_back(a.toLocal8Bit());
    }
    std::vector<char*> argv;
    for (QByteArray& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (!openPipe(out) || !openPipe(err)) {
        run.startError = QString::fromLocal8Bit(::strerror(errno));
        closeFd(out[0]);
        closeFd(out[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child starts with default signal handling, whatever this process has set or blocked.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if defined(__APPLE__)
    // Another thread may be opening a descriptor without close-on-exec at this moment.
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
    posix_spawnattr_setflags(&attributes, flags);
    pid_t pid = -1;
    const int spawnError =
        ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    closeFd(out[1]);
    closeFd(err[1]);
    if (spawnError != 0) {
        run.startError = QString::fromLocal8Bit(::strerror(spawnError));
        closeFd(out[0]);
        closeFd(err[0]);
        return run;
    }
    run.started = true;
    ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(err[0], F_SETFL, ::fcntl(err[0], F_GETFL) | O_NONBLOCK);

    // Where the kernel offers it, a descriptor that becomes readable when the child ends, so that
    // the wait below wakes only for output or for the end.
    int exitFd = -1;
#if defined(SYS_pidfd_open)
    exitFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#endif

    QElapsedTimer clock;
    clock.start();
    int status = 0;
    for (;;) {
        const qint64 left = limit.count() - clock.elapsed();
        if (left <= 0) {
            run.timedOut = true;
            ::kill(pid, SIGKILL);
            reaped(pid, true, &status);
            drain(out[0], &run.standardOutput);
            drain(err[0], &run.standardError);
            break;
        }
        qint64 wait = left;
        if (exitFd < 0) {
            // Without it, the child is asked at a pace; soon once both streams have closed.
            wait = std::min<qint64>(left, out[0] < 0 && err[0] < 0 ? kClosedCheckMs : kExitCheckMs);
        }
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {exitFd, POLLIN, 0}};
        ::poll(fds, 3, static_cast<int>(wait));
        drain(out[0], &run.standardOutput);
        drain(err[0], &run.standardError);
        if (reaped(pid, false, &status)) {
            // What it wrote before it ended is still in the pipes; a process it started may keep
            // them open, so take what is there and stop.
            drain(out[0], &run.standardOutput);
            drain(err[0], &run.standardError);
            break;
        }
    }
    closeFd(exitFd);
    closeFd(out[0]);
    closeFd(err[0]);
    if (run.timedOut || !WIFEXITED(status)) {
        run.crashed = true;
    } else {
        run.exitCode = WEXITSTATUS(status);
    }
    return run;
}

}  // namespace sonavel
