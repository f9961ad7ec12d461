#include <QFile>
#include <QTcpServer>
#include <QTest>
#include <atomic>

#include "app/controller.h"
#include "platform/dispatch.h"
#include "relay/connect_result.h"
#include "support/test_support.h"

using namespace sonavel;
using namespace sonavel::test;

// A connect that fails, with Debian's real adb on a private server port.
class ConnectRealAdbTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void refusedConnectIsAFailure();

private:
    AdbResult run(const QStringList& args);
    FakeResources res_;
    std::unique_ptr<TestEnvironment> env_;
    std::unique_ptr<ZovAdizuZadiRizov> controller_;
};

void ConnectRealAdbTest::initTestCase() {
    if (!QFile::exists("/usr/bin/adb")) {
        QSKIP("Debian's adb is not installed");
    }
    qputenv("ANDROID_ADB_SERVER_PORT", "15331");
    res_.installRealAdb();
    res_.installFake("scrcpy", "when .*\nhang\n");
    res_.writeFile("scrcpy-server", "jar", false);
    env_ = std::make_unique<TestEnvironment>(&res_);
    controller_ = std::make_unique<ZovAdizuZadiRizov>(env_->config);
}

void ConnectRealAdbTest::cleanupTestCase() {
    if (controller_) {
        run({"kill-server"});
        controller_.reset();
    }
}

AdbResult ConnectRealAdbTest::run(const QStringList& args) {
    std::atomic<bool> done{false};
    AdbResult result;
    dispatchAsync(QoS::UserInitiated, [&, ref = controller_->ref()] {
        result = ref.runADB(args);
        done = true;
    });
    waitUntil([&] { return done.load(); }, 60000);
    return result;
}

void ConnectRealAdbTest::refusedConnectIsAFailure() {
    // A loopback port that nothing listens on (ephemeral, so never adb's 5555-5585 scan).
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString endpoint = "127.0.0.1:" + QString::number(probe.serverPort());
    probe.close();

    // The server first, so that its start-up notes do not stand in for the connect's answer. The
    // controller's own discovery starts it at the same moment, and a client that loses that race
    // can fail: try again.
    QVERIFY(waitUntil([&] { return run({"start-server"}).status == 0; }, 30000));
    const AdbResult result = run({"connect", endpoint});
    QVERIFY2(result.output.contains("failed to connect"), qPrintable(result.output));
    if (result.status == 0) {
        qInfo("adb reported the refused connect with exit status 0");
    }
    QVERIFY(!connectSucceeded(result));

    // Switching the endpoint on starts no scrcpy and reports the failure.
    controller_->setRelayEnabled(endpoint, true);
    QVERIFY(waitUntil(
        [&] { return controller_->statusText() == "Could not connect. Reconnecting\u2026"; },
        30000));
    QVERIFY(controller_->scrcpyProcesses.isEmpty());
    QVERIFY(res_.arguments("scrcpy").isEmpty());
    controller_->setRelayEnabled(endpoint, false);
    QVERIFY(waitUntil([&] { return controller_->statusText() == "Idle"; }, 30000));
}

QTEST_GUILESS_MAIN(ConnectRealAdbTest)
#include "tst_connect_real_adb.moc"
