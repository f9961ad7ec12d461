#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "app/controller_config.h"

namespace sonavel {
class ZovAdizuZadiRizov;
}

namespace sonavel::test {

// A temporary resources folder whose tools are the fake tool (see fake_tool.cpp for the script
// language) or Debian's real adb.
class FakeResources {
public:
    FakeResources();
    QString dir() const { return dir_.path(); }
    QString path(const QString& name) const;

    // Installs the fake under this name with the given script; replaces an earlier script.
    void installFake(const QString& name, const QString& script = QString());
    void setScript(const QString& name, const QString& script);
    // Installs the system's real adb as "adb".
    void installRealAdb();
    void writeFile(const QString& name, const QByteArray& bytes, bool executable);
    void remove(const QString& name);

    // The arguments of every call of a fake tool so far, oldest first.
    QList<QStringList> arguments(const QString& name) const;

private:
    QTemporaryDir dir_;
};

// Flow time that passes only when a test waits for something (see waitUntil): the default.
inline constexpr double kVirtualTime = 0;
// Flow time that passes only through advance(): the repeating checks never run by themselves, so
// state a test sets stays as it was set.
inline constexpr double kFrozenTime = -1;

// A controller configuration for tests: the given resources folder (or none), logging on,
// English, a private settings file, and flow time on a virtual clock (kVirtualTime, kFrozenTime),
// or real time scaled by `scale` (a 5-second pause lasts 5 ms at 0.001).
struct TestEnvironment {
    explicit TestEnvironment(const FakeResources* resources, double scale = kVirtualTime);
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    ControllerConfig config;
    QString settingsPath;
    std::unique_ptr<QSettings> settings() const;
    // Ends the clock's waits for good: for a test whose controller is gone.
    void releaseClock() const;

private:
    std::shared_ptr<QTemporaryDir> settingsDir_;
};

// The fake tool binary built with the tests.
QString fakeToolBinary();

// How long a test waits for something that should happen. Generous: under the sanitizers, on a
// loaded two-core machine, every fork of a fake tool takes tens of milliseconds. Only a failing
// test ever waits this long.
inline constexpr int kWaitMs = 20000;

// Waits, spinning the event loop, until the condition holds or the (real-time) limit passes.
// With a virtual clock in use (the newest TestEnvironment's), flow time moves on to the next
// timer or pause whenever the work under way has settled and the condition does not hold yet, so
// what happens first is decided by flow time alone, never by the machine's speed.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs);

// Waits until nothing is under way: no main-thread step queued, no worker busy but those waiting
// for the virtual clock, and every child process either a fake tool waiting for the outside or
// something long-running that is not ours to wait for. Flow time does not move. False when that
// did not happen within the limit.
bool settleWork(int timeoutMs = kWaitMs);

// Moves the virtual clock on by `seconds` of flow time, letting the work of each timer and pause
// settle before the next one is due.
bool advance(double seconds);

// Waits until no fake tool is still opening the named pipe at `path`.
bool waitUntilPipeTaken(const QString& path);

// The process ids of this program's children, zombies included; with a program path, only those
// running it. Children whose arguments include `except` are left out.
QList<qint64> childProcesses(const QString& program = QString(),
                             const QByteArray& except = QByteArray());

// The messages of the log entries, without their "[timestamp] " prefix.
QStringList logMessages(const QStringList& entries);

// Waits until the controller's log holds an entry with exactly this message.
bool waitForLog(const ZovAdizuZadiRizov& controller, const QString& message,
                int timeoutMs = kWaitMs);

}  // namespace sonavel::test
