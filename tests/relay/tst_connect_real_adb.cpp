#include <QTcpServer>
#include <QTest>

#include "app/controller.h"
#include "relay/connect_result.h"
#include "support/real_adb.h"
#include "support/test_support.h"

using namespace sonavel;
using namespace sonavel::test;

// A connect that fails, with Debian's real adb on a private server port.
class ConnectRealAdbTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void refusedConnectIsAFailure();

private:
    AdbResult run(const QStringList& args) { return runThroughController(*controller_, args); }
    PrivateAdbServer server_{"15331"};
    FakeResources res_;
    std::unique_ptr<TestEnvironment> env_;
    std::unique_ptr<ZovAdizuZadiRizov> controller_;
};

void ConnectRealAdbTest::initTestCase() {
    if (!realAdbInstalled()) {
        QSKIP("Debian's adb is not installed");
    }
    res_.installRealAdb();
    res_.installFake("scrcpy", "when .*\nhang\n");
    res_.writeFile("scrcpy-server", "jar", false);
    env_ = std::make_unique<TestEnvironment>(&res_);
    controller_ = std::make_unique<ZovAdizuZadiRizov>(env_->config);
}

void ConnectRealAdbTest::refusedConnectIsAFailure() {
    // A loopback port that nothing listens on (ephemeral, so never adb's 5555-5585 scan).
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString endpoint = "127.0.0.1:" + QString::number(probe.serverPort());
    probe.close();

    // The server first, so that its start-up notes do not stand in for the connect's answer.
    QVERIFY(server_.start());
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
