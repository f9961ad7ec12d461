#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
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

// A controller configuration for tests: the given resources folder (or none), time scaled by
// `scale` (a 5-second pause lasts 5 ms at 0.001), logging on, English, and a private settings file.
struct TestEnvironment {
    explicit TestEnvironment(const FakeResources* resources, double scale = 0.001);
    ControllerConfig config;
    QString settingsPath;
    std::unique_ptr<QSettings> settings() const;

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
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs);

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
