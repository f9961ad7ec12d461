#include "support/test_support.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include "app/controller.h"

namespace sonavel::test {

QString fakeToolBinary() {
    return QStringLiteral(SONAVEL_FAKE_TOOL);
}

FakeResources::FakeResources() {
    dir_.setAutoRemove(true);
}

QString FakeResources::path(const QString& name) const {
    return QDir(dir()).filePath(name);
}

void FakeResources::installFake(const QString& name, const QString& script) {
    remove(name);
    // A symlink, so that the fake finds its script and journal next to the name it was run by.
    QFile::link(fakeToolBinary(), path(name));
    setScript(name, script);
}

void FakeResources::setScript(const QString& name, const QString& script) {
    QFile file(path(name) + QStringLiteral(".script"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(script.toUtf8());
    }
    QFile::remove(path(name) + QStringLiteral(".counts"));
}

void FakeResources::installRealAdb() {
    remove(QStringLiteral("adb"));
    const QString real = QFileInfo(QStringLiteral("/usr/bin/adb")).canonicalFilePath();
    QFile::link(real, path(QStringLiteral("adb")));
}

void FakeResources::writeFile(const QString& name, const QByteArray& bytes, bool executable) {
    remove(name);
    QFile file(path(name));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
        file.close();
    }
    QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner;
    if (executable) {
        perms |= QFile::ExeOwner;
    }
    file.setPermissions(perms);
}

void FakeResources::remove(const QString& name) {
    QFile::remove(path(name));
    for (const char* suffix : {".script", ".journal", ".counts"}) {
        QFile::remove(path(name) + QLatin1String(suffix));
    }
}

QList<QStringList> FakeResources::arguments(const QString& name) const {
    QFile file(path(name) + QStringLiteral(".journal"));
    QList<QStringList> result;
    if (file.open(QIODevice::ReadOnly)) {
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        lines.removeLast();  // after the last line feed, or a line still being written
        for (const QString& line : lines) {
            result << (line.isEmpty() ? QStringList() : line.split(u'\t'));
        }
    }
    return result;
}

TestEnvironment::TestEnvironment(const FakeResources* resources, double scale)
    : settingsDir_(std::make_shared<QTemporaryDir>()) {
    settingsPath = QDir(settingsDir_->path()).filePath(QStringLiteral("settings.ini"));
    if (resources) {
        config.resourcesDir = resources->dir();
    }
    config.timeScale = scale;
    config.debuggerProbe = [] { return true; };
    config.preferredLanguages = [] { return QStringList{QStringLiteral("en-US")}; };
    const QString path = settingsPath;
    const auto keepAlive = settingsDir_;
    config.openSettings = [path, keepAlive] {
        return std::make_unique<QSettings>(path, QSettings::IniFormat);
    };
}

std::unique_ptr<QSettings> TestEnvironment::settings() const {
    return config.openSettings();
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        // As QTest::qWait does: processEvents alone leaves objects whose deleteLater was called
        // outside an event loop (say, in a destructor that waited for a process) undeleted.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    return true;
}

QList<qint64> childProcesses(const QString& program, const QByteArray& except) {
    QList<qint64> children;
    const QByteArray self = QByteArray::number(static_cast<qint64>(::getpid()));
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!isPid || !stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        // "pid (name) state ppid ...": the name may hold spaces, so read after its last ')'.
        const QByteArray data = stat.readAll();
        const QList<QByteArray> fields = data.mid(data.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1) != self) {
            continue;
        }
        QFile cmdline(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        const QList<QByteArray> arguments =
            cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll().split('\0') : QList<QByteArray>();
        if ((program.isEmpty() || QString::fromUtf8(arguments.value(0)) == program) &&
            (except.isEmpty() || !arguments.contains(except))) {
            children << pid;
        }
    }
    return children;
}

QStringList logMessages(const QStringList& entries) {
    QStringList messages;
    for (const QString& entry : entries) {
        const qsizetype end = entry.indexOf(QStringLiteral("] "));
        messages << (end < 0 ? entry : entry.mid(end + 2));
    }
    return messages;
}

bool waitForLog(const ZovAdizuZadiRizov& controller, const QString& message, int timeoutMs) {
    return waitUntil([&] { return logMessages(controller.logs()).contains(message); }, timeoutMs);
}

}  // namespace sonavel::test
