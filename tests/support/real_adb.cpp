#include "support/real_adb.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <atomic>
#include <memory>

#include "app/controller.h"
#include "platform/dispatch.h"
#include "support/test_support.h"
#include "tools/adb_commands.h"

namespace sonavel::test {

namespace {

constexpr int kChildrenEndLimitMs = 10000;

}  // namespace

bool realAdbInstalled() {
    return QFileInfo(kRealAdb).isExecutable();
}

PrivateAdbServer::PrivateAdbServer() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    qputenv("ANDROID_ADB_SERVER_PORT", QByteArray::number(probe.serverPort()));
}

PrivateAdbServer::~PrivateAdbServer() {
    if (!realAdbInstalled()) {
        return;
    }
    // An adb call still under way (a worker of a controller that has just gone, a watcher being
    // ended) would start a new server behind the kill: let this program's children end first.
    waitUntil([] { return childProcesses().isEmpty(); }, kChildrenEndLimitMs);
    kill();
}

bool PrivateAdbServer::start() const {
    return waitUntil([] { return runRealAdb(adb::startServer()).status == 0; }, kRealAdbLimitMs);
}

void PrivateAdbServer::kill() const {
    runRealAdb({QStringLiteral("kill-server")});
}

RealAdbRun runRealAdb(const QStringList& arguments) {
    QProcess process;
    process.start(kRealAdb, arguments);
    process.closeWriteChannel();
    RealAdbRun run;
    if (!process.waitForFinished(kRealAdbLimitMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("adb did not finish: ") + arguments.join(QLatin1Char(' '));
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString realAdbListingLine(const QString& endpoint) {
    const QStringList lines = runRealAdb(adb::devicesLong()).out.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(endpoint + QLatin1Char(' ')) ||
            line.startsWith(endpoint + QLatin1Char('\t'))) {
            return line;
        }
    }
    return {};
}

bool waitForRealAdbListing(const QString& endpoint, const QString& state) {
    return waitUntil(
        [&] {
            const QString line = realAdbListingLine(endpoint);
            return state.isEmpty()
                       ? line.isEmpty()
                       : line.section(QRegularExpression(QStringLiteral("\\s+")), 1, 1) == state;
        },
        kRealAdbLimitMs);
}

AdbResult runThroughController(const ZovAdizuZadiRizov& controller, const QStringList& arguments) {
    // Shared with the worker, which may outlive a wait that gave up.
    struct Outcome {
        std::atomic<bool> done{false};
        AdbResult result;
    };
    auto outcome = std::make_shared<Outcome>();
    dispatchAsync(QoS::UserInitiated, [outcome, arguments, ref = controller.ref()] {
        outcome->result = ref.runADB(arguments);
        outcome->done = true;
    });
    // The worker's adb call ends by itself (the controller kills a hung one), so this bound only
    // turns a stuck runner into a failing comparison instead of a hung test.
    if (!waitUntil([&] { return outcome->done.load(); }, kRealAdbLimitMs * 3)) {
        return {kNoAnswerStatus, QStringLiteral("no answer from the worker in time")};
    }
    return outcome->result;
}

}  // namespace sonavel::test
