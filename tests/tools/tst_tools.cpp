// The tool runner, the tool locator and the log over fake tools, and the real adb running the
// commands as the code builds them.

#include <QDir>
#include <QRegularExpression>
#include <QTest>
#include <atomic>

#include "connect/ip_probe.h"
#include "support/real_adb.h"
#include "support/rig.h"
#include "support/sim_phone_control.h"
#include "tools/adb_commands.h"

// Rig options are named; the ones left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace sonavel;
using namespace sonavel::test;

namespace {

// What the log printed of this test's own messages (workers print theirs meanwhile).
QStringList printed;
void capture(QtMsgType, const QMessageLogContext&, const QString& message) {
    if (message.contains("[Tools]")) {
        printed << message;
    }
}

}  // namespace

class ToolsTest : public QObject {
    Q_OBJECT
private slots:
    void runnerReportsEachOutcome();
    void largeOutputOnBothStreamsIsDrained();
    void toolsAreLookedUpAfreshAndMustBeExecutable();
    void logKeepsTheNewestWhileTraced();
    void realAdbRunsTheCommandsAsBuilt();

private:
    // Declared first, so that it goes last: it kills the real adb's server.
    PrivateAdbServer server_;
};

void ToolsTest::runnerReportsEachOutcome() {
    Rig rig({.adb = "when -s R58M 1 shell echo a;b\nout  out \nerr  err \nexit 3\n"
                    "when shell crash\nout partial\ncrash\n"
                    "when shell binary\noutraw \\xff\\xfe listing\nerr real error\nexit 1\n"});
    const auto run = [&](const QStringList& args) { return runThroughController(*rig.c, args); };
    // Neither stream is trimmed, the join adds one line feed, and arguments reach adb unchanged.
    AdbResult result = run({"-s", "R58M 1", "shell", "echo a;b"});
    QCOMPARE(result.status, 3);
    QCOMPARE(result.output, " out \n\n err \n");
    QVERIFY(rig.adbCalls().contains(QStringList{"-s", "R58M 1", "shell", "echo a;b"}));
    // A crash fails with what was written; a stream that is not UTF-8 counts as empty.
    result = run({"shell", "crash"});
    QCOMPARE(result.status, 255);
    QCOMPARE(result.output, "partial\n");
    result = run({"shell", "binary"});
    QCOMPARE(result.status, 1);
    QCOMPARE(result.output, "real error\n");

    // Missing, or executable but nothing the system can start: -1, nothing run.
    rig.resources.remove("adb");
    QCOMPARE(run({"version"}).status, -1);
    rig.resources.writeFile("adb",
                            QByteArray("\x7f"
                                       "ELF garbage",
                                       12),
                            true);
    result = run({"version"});
    QCOMPARE(result.status, -1);
    QCOMPARE(result.output, QString());
    TestEnvironment withoutResources(nullptr);
    ZovAdizuZadiRizov bare(withoutResources.config);
    QCOMPARE(runThroughController(bare, adb::version()).status, -1);
}

void ToolsTest::largeOutputOnBothStreamsIsDrained() {
    // Six times a pipe's buffer on each stream: a runner that read one after the other would wait
    // for a child blocked on the other pipe. The log is off, to keep it out of the log.
    Rig rig({.adb = "when shell dumpsys\nflood 400000\n", .makeController = false});
    rig.env.config.debuggerProbe = [] { return false; };
    ZovAdizuZadiRizov c(rig.env.config);
    const AdbResult result = runThroughController(c, {"shell", "dumpsys"});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.output.size(), 400000 * 2 + 1);
}

void ToolsTest::toolsAreLookedUpAfreshAndMustBeExecutable() {
    Rig rig;
    ZovAdizuZadiRizov& c = *rig.c;
    QCOMPARE(c.locateADB(), std::optional(rig.resources.path("adb")));
    QCOMPARE(c.locateScrcpy(), std::optional(rig.resources.path("scrcpy")));
    // Pushed to the phone, never run here: it only has to exist.
    QCOMPARE(c.locateScrcpyServer(), std::optional(rig.resources.path("scrcpy-server")));

    rig.resources.writeFile("adb", "#!/bin/sh\n", /*executable=*/false);
    rig.resources.remove("scrcpy");
    QVERIFY(QDir(rig.resources.dir()).mkdir("scrcpy"));
    rig.resources.remove("scrcpy-server");
    QCOMPARE(c.locateADB(), std::nullopt);
    QCOMPARE(c.locateScrcpy(), std::nullopt);
    QCOMPARE(c.locateScrcpyServer(), std::nullopt);
}

void ToolsTest::logKeepsTheNewestWhileTraced() {
    auto traced = std::make_shared<std::atomic<bool>>(true);
    Rig rig({.scale = 1.0, .prepare = [traced](TestEnvironment& env) {
                 env.config.debuggerProbe = [traced] { return traced->load(); };
             }});
    ZovAdizuZadiRizov& c = *rig.c;
    for (int i = 1; i <= 1500; ++i) {
        c.appendLog("n:" + QString::number(i));
    }
    drainMainQueue();
    QCOMPARE(c.logs().size(), kMaxLogEntries);
    // The controller's own checks may log meanwhile; ours are the newest run, the oldest dropped.
    const QStringList ours = logMessages(c.logs()).filter(QRegularExpression("^n:\\d+$"));
    QVERIFY(ours.size() > 900);
    QCOMPARE(ours.first(), "n:" + QString::number(1501 - ours.size()));
    QCOMPARE(ours.last(), "n:1500");

    // The debugger is asked at every entry; a message is printed as it is, never as a format.
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    traced->store(false);
    c.appendLog("[Tools] untraced");
    traced->store(true);
    c.appendLog("[Tools] 100%s done %d %n");
    qInstallMessageHandler(previous);
    drainMainQueue();
    QCOMPARE(printed.size(), 1);
    QVERIFY(printed.first().endsWith("] [Tools] 100%s done %d %n"));
    QCOMPARE(logMessages(c.logs()).filter("[Tools]"), QStringList{"[Tools] 100%s done %d %n"});
}

void ToolsTest::realAdbRunsTheCommandsAsBuilt() {
    if (!realAdbInstalled()) {
        QSKIP("Debian's adb (/usr/bin/adb) is not installed");
    }
    Rig rig({.scale = 1.0, .makeController = false});
    rig.resources.installRealAdb();
    rig.c = std::make_unique<ZovAdizuZadiRizov>(rig.env.config);
    const auto run = [&](const QStringList& args) { return runThroughController(*rig.c, args); };
    QVERIFY(run(adb::version()).output.startsWith("Android Debug Bridge version "));
    QVERIFY(server_.start());
    QCOMPARE(run(adb::devicesLong()).output.trimmed(), "List of devices attached");
    const AdbResult missing = run(adb::getprop("NO_SUCH_SERIAL", "ro.serialno"));
    QVERIFY(missing.status != 0);
    QVERIFY2(missing.output.contains("device 'NO_SUCH_SERIAL' not found"),
             qPrintable(missing.output));

    SimPhone phone;
    QVERIFY(phone.start());
    const QString endpoint = phone.endpoint();
    QCOMPARE(run(adb::connect(endpoint)).output.trimmed(), "connected to " + endpoint);
    QVERIFY(waitUntil([&] { return realAdbListingLine(endpoint).contains(" device "); },
                      kRealAdbLimitMs));
    QCOMPARE(run(adb::getprop(endpoint, "ro.product.model")).output, "Sim Phone\n");
    QVERIFY(run(adb::dumpsysBattery(endpoint)).output.contains("\n  level: 80\n"));
    QCOMPARE(run(adb::shell(endpoint, ipProbeCommands().first())).output, "192.168.1.23\n");
    QCOMPARE(run(adb::tcpip(endpoint)).output, "restarting in TCP mode port: 5555\n");
    runRealAdb({"disconnect", endpoint});
}

QTEST_GUILESS_MAIN(ToolsTest)
#include "tst_tools.moc"
