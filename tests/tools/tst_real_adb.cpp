#include <QTest>

#include "app/controller.h"
#include "support/real_adb.h"
#include "support/test_support.h"

using namespace sonavel;
using namespace sonavel::test;

// The runner against Debian's real adb, on a private server port so that a developer's own adb
// server is never touched.
class RealAdbTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void realCommands();

private:
    AdbResult run(const QStringList& args) { return runThroughController(*controller_, args); }
    PrivateAdbServer server_;
    FakeResources res_;
    std::unique_ptr<TestEnvironment> env_;
    std::unique_ptr<ZovAdizuZadiRizov> controller_;
};

void RealAdbTest::initTestCase() {
    if (!realAdbInstalled()) {
        QSKIP("Debian's adb is not installed");
    }
    res_.installRealAdb();
    env_ = std::make_unique<TestEnvironment>(&res_);
    controller_ = std::make_unique<ZovAdizuZadiRizov>(env_->config);
}

void RealAdbTest::realCommands() {
    AdbResult version = run({"version"});
    QCOMPARE(version.status, 0);
    QVERIFY(version.output.startsWith("Android Debug Bridge version "));

    QVERIFY(server_.start());
    AdbResult devices = run({"devices", "-l"});
    QCOMPARE(devices.status, 0);
    QCOMPARE(devices.output.trimmed(), QString("List of devices attached"));

    const AdbResult missing = run({"-s", "NO_SUCH_SERIAL", "shell", "getprop", "ro.serialno"});
    QVERIFY(missing.status != 0);
    QVERIFY2(missing.output.contains("device 'NO_SUCH_SERIAL' not found"),
             qPrintable(missing.output));
}

QTEST_GUILESS_MAIN(RealAdbTest)
#include "tst_real_adb.moc"
