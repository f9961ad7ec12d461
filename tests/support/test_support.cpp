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
#include <limits>
#include <optional>

#include "app/controller.h"
#include "platform/dispatch.h"
#include "platform/virtual_clock.h"

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

namespace {

// The clock of the newest TestEnvironment that has one, and whether waitUntil moves it; main
// thread only.
std::weak_ptr<VirtualClock>& activeClock() {
    static std::weak_ptr<VirtualClock> clock;
    return clock;
}
bool autoAdvance = true;

struct Child {
    qint64 pid = 0;
    QByteArray state, startTime;
    QList<QByteArray> arguments;
};

QList<Child> children() {
    QList<Child> result;
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
        result << Child{pid, fields.value(0), fields.value(19),
                        cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll().split('\0')
                                                          : QList<QByteArray>()};
    }
    return result;
}

// Where the fake tools say that they wait for the outside; made once, for every test of this
// program, and handed to them through the environment they inherit.
const QString& idleMarkDir() {
    static QTemporaryDir* dir = [] {
        auto* made = new QTemporaryDir;
        qputenv("SONAVEL_FAKE_IDLE_DIR", QFile::encodeName(made->path()));
        return made;
    }();
    static const QString path = dir->path();
    return path;
}

// A fake tool's idle mark, when it belongs to this very process.
std::optional<QList<QByteArray>> idleMark(const Child& child) {
    QFile mark(idleMarkDir() + QLatin1Char('/') + QString::number(child.pid));
    if (!mark.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QList<QByteArray> lines = mark.readAll().split('\n');
    if (lines.value(0) != child.startTime) {
        return std::nullopt;
    }
    return lines;
}

bool childrenSettled() {
    static const QString fake = QFileInfo(fakeToolBinary()).canonicalFilePath();
    for (const Child& child : children()) {
        if (child.state == "Z") {
            return false;  // ended, and its end not yet taken in
        }
        const QString exe =
            QFileInfo(QStringLiteral("/proc/%1/exe").arg(child.pid)).symLinkTarget();
        if (exe == fake && !idleMark(child)) {
            return false;
        }
    }
    return true;
}

bool workSettled() {
    const auto clock = activeClock().lock();
    return mainQueueEmpty() && poolTasksInFlight() == (clock ? clock->blockedWorkers() : 0) &&
           childrenSettled();
}

void spinOnce() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // As QTest::qWait does: processEvents alone leaves objects whose deleteLater was called
    // outside an event loop (say, in a destructor that waited for a process) undeleted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::msleep(1);
}

// Settled on this many looks in a row, with events handled between them: a step queued by the
// last one's work (a process's end, read on the next turn) shows up in between.
constexpr int kSettledLooks = 3;

}  // namespace

TestEnvironment::TestEnvironment(const FakeResources* resources, double scale)
    : settingsDir_(std::make_shared<QTemporaryDir>()) {
    settingsPath = QDir(settingsDir_->path()).filePath(QStringLiteral("settings.ini"));
    if (resources) {
        config.resourcesDir = resources->dir();
    }
    idleMarkDir();  // before the first tool starts
    config.timeScale = scale > 0 ? scale : 1.0;
    if (!(scale > 0)) {
        config.clock = std::make_shared<VirtualClock>();
        activeClock() = config.clock;
        autoAdvance = scale != kFrozenTime;
    }
    config.debuggerProbe = [] { return true; };
    config.preferredLanguages = [] { return QStringList{QStringLiteral("en-US")}; };
    const QString path = settingsPath;
    const auto keepAlive = settingsDir_;
    config.openSettings = [path, keepAlive] {
        return std::make_unique<QSettings>(path, QSettings::IniFormat);
    };
}

TestEnvironment::~TestEnvironment() {
    releaseClock();
}

void TestEnvironment::releaseClock() const {
    if (config.clock) {
        config.clock->release();
    }
}

std::unique_ptr<QSettings> TestEnvironment::settings() const {
    return config.openSettings();
}

bool settleWork(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (int looks = 0; looks < kSettledLooks;) {
        if (deadline.hasExpired()) {
            return false;
        }
        spinOnce();
        looks = workSettled() ? looks + 1 : 0;
    }
    return true;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (int looks = 0; !condition();) {
        if (deadline.hasExpired()) {
            return false;
        }
        spinOnce();
        const auto clock = activeClock().lock();
        looks = clock && autoAdvance && workSettled() ? looks + 1 : 0;
        if (looks >= kSettledLooks && !condition()) {
            clock->step(std::numeric_limits<double>::infinity());
            looks = 0;
        }
    }
    return true;
}

bool advance(double seconds) {
    const auto clock = activeClock().lock();
    if (!clock) {
        return false;
    }
    const double target = clock->now() + seconds;
    do {
        if (!settleWork()) {
            return false;
        }
    } while (clock->step(target));
    clock->jumpTo(target);
    return settleWork();
}

bool waitUntilPipeTaken(const QString& path) {
    const QByteArray pipe = path.toUtf8();
    QDeadlineTimer deadline(kWaitMs);
    for (;;) {
        bool waiting = false;
        for (const Child& child : children()) {
            const auto mark = idleMark(child);
            waiting = waiting || (mark && mark->value(1) == pipe);
        }
        if (!waiting) {
            return true;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        spinOnce();
    }
}

QList<qint64> childProcesses(const QString& program, const QByteArray& except) {
    QList<qint64> pids;
    for (const Child& child : children()) {
        if ((program.isEmpty() || QString::fromUtf8(child.arguments.value(0)) == program) &&
            (except.isEmpty() || !child.arguments.contains(except))) {
            pids << child.pid;
        }
    }
    return pids;
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
