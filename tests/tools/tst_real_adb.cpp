#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <atomic>

#include "app/controller.h"
#include "support/test_support.h"

using namespace sonavel;
using namespace sonavel::test;

// The runner against Debian's real adb, on a private server port so that a developer's own adb
// server is never touched.
class RealAdbTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void realCommands();

private:
    AdbResult run(const QStringList& args);
    FakeResources res_;
    std::unique_ptr<TestEnvironment> env_;
    std::unique_ptr<ZovAdizuZadiRizov> controller_;
};

void RealAdbTest::initTestCase() {
    if (!QFile::exists("/usr/bin/adb")) {
        QSKIP("Debian's adb is not installed");
    }
    qputenv("ANDROID_ADB_SERVER_PORT", "15037");
    res_.installRealAdb();
    env_ = std::make_unique<TestEnvironment>(&res_);
    controller_ = std::make_unique<ZovAdizuZadiRizov>(env_->config);
}

void RealAdbTest::cleanupTestCase() {
    if (controller_) {
        run({"kill-server"});
    }
}

AdbResult RealAdbTest::run(const QStringList& args) {
    std::atomic<bool> done{false};
    AdbResult result;
    dispatchAsync(QoS::UserInitiated, [&, ref = controller_->ref()] {
        result = ref.runADB(args);
        done = true;
    });
    waitUntil([&] { return done.load(); }, 60000);
    return result;
}

void RealAdbTest::realCommands() {
    AdbResult version = run({"version"});
    QCOMPARE(version.status, 0);
    QVERIFY(version.output.startsWith("Android Debug Bridge version "));

    // A cold server can miss its first handshake on a loaded machine ("cannot connect to
    // daemon"); that is the tool's start-up, not what is tested here.
    for (int attempt = 0; attempt < 3 && run({"start-server"}).status != 0; ++attempt) {
        QTest::qWait(500);
    }
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
