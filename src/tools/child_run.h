#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>

namespace sonavel {

// The outcome of one short-lived child process run to its end.
struct ChildRun {
    bool started = false;
    QString startError;    // why it did not start
    bool crashed = false;  // ended by a signal, or killed at the time limit
    bool timedOut = false;
    int exitCode = 0;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs `program` with `arguments` and waits for it to end, reading both output streams as they
// come so that a child writing much to either never blocks on a full pipe. Its standard input is
// /dev/null. A child still running after `limit` is killed. The child counts as ended when it
// exits, even while a process it started still holds its output open.
//
// Blocking; meant for worker threads. Uses posix_spawn, which costs the caller less than QProcess
// for a command that is run every few seconds for the application's whole life.
ChildRun runChild(const QString& program, const QStringList& arguments,
                  std::chrono::milliseconds limit);

}  // namespace sonavel
