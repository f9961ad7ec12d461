#include "support/real_adb.h"

#include <QProcess>
#include <QTcpServer>
#include <atomic>
#include <memory>

#include "app/controller.h"
#include "platform/dispatch.h"
#include "support/test_support.h"
#include "tools/adb_commands.h"

namespace sonavel::test {

AdbResult runRealAdb(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("/usr/bin/adb"), arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(kRealAdbLimitMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())};
}

PrivateAdbServer::PrivateAdbServer() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    qputenv("ANDROID_ADB_SERVER_PORT", QByteArray::number(probe.serverPort()));
}

PrivateAdbServer::~PrivateAdbServer() {
    if (realAdbInstalled()) {
        // An adb call still under way would start a new server behind the kill.
        waitUntil([] { return childProcesses().isEmpty(); });
        runRealAdb({QStringLiteral("kill-server")});
    }
}

bool PrivateAdbServer::start() const {
    return waitUntil([] { return runRealAdb(adb::startServer()).status == 0; }, kRealAdbLimitMs);
}

AdbResult runThroughController(const ZovAdizuZadiRizov& controller, const QStringList& arguments) {
    struct Outcome {
        std::atomic<bool> done{false};
        AdbResult result;
    };
    auto outcome = std::make_shared<Outcome>();
    dispatchAsync(QoS::UserInitiated, [outcome, arguments, ref = controller.ref()] {
        outcome->result = ref.runADB(arguments);
        outcome->done = true;
    });
    // The worker's adb call ends by itself (the controller kills a hung one): this bound only
    // turns a stuck runner into a failing comparison instead of a hung test.
    if (!waitUntil([&] { return outcome->done.load(); }, kRealAdbLimitMs * 3)) {
        return {kNoAnswerStatus, QStringLiteral("no answer from the worker in time")};
    }
    return outcome->result;
}

}  // namespace sonavel::test
