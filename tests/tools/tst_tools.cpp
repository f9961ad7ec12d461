// The tool runner, the tool locator and the log, over fake tools. (The real adb runs the commands
// as the code builds them in the end-to-end tests.)

#include <QDir>
#include <QRegularExpression>
#include <QTest>
#include <atomic>

#include "support/real_adb.h"
#include "support/rig.h"
#include "tools/adb_commands.h"

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
    void toolsAreLookedUpAfreshAndMustBeExecutable();
    void logKeepsTheNewestWhileTraced();
};

void ToolsTest::runnerReportsEachOutcome() {
    Rig rig({.adb = "when -s R58M 1 shell echo a;b\nout  out \nerr  err \nexit 3\n"
                    "when shell crash\nout partial\ncrash\n"
                    "when shell binary\noutraw \\xff\\xfe listing\nerr real error\nexit 1\n"
                    "when shell dumpsys\nflood 400000\n",
             .makeController = false});
    rig.env.config.debuggerProbe = [] { return false; };  // keeps the flood below out of the log
    TestEnvironment withoutResources(nullptr);
    const ZovAdizuZadiRizov c(rig.env.config), bare(withoutResources.config);
    const auto run = [&](const QStringList& args, const ZovAdizuZadiRizov* on = nullptr) {
        const AdbResult result = runThroughController(on ? *on : c, args);
        return QString::number(result.status) + ": " + result.output;
    };
    // Neither stream is trimmed, the join adds one line feed, and arguments reach adb unchanged.
    QCOMPARE(run({"-s", "R58M 1", "shell", "echo a;b"}), "3:  out \n\n err \n");
    QVERIFY(rig.adbCalls().contains(QStringList{"-s", "R58M 1", "shell", "echo a;b"}));
    // A crash fails with what was written; a stream that is not UTF-8 counts as empty.
    QCOMPARE(run({"shell", "crash"}), "255: partial\n");
    QCOMPARE(run({"shell", "binary"}), "1: real error\n");
    // Six times a pipe's buffer on each stream: a runner that read one after the other would wait
    // for a child blocked on the other pipe.
    QCOMPARE(run({"shell", "dumpsys"}).size(), 3 + 400000 * 2 + 1);
    // Missing, or executable but nothing the system can start, or no resources at all: not run.
    rig.resources.remove("adb");
    QCOMPARE(run({"version"}), "-1: ");
    rig.resources.writeFile("adb", "\177ELF garbage", true);
    QCOMPARE(run({"version"}), "-1: ");
    QCOMPARE(run({"version"}, &bare), "-1: ");
}

void ToolsTest::toolsAreLookedUpAfreshAndMustBeExecutable() {
    Rig rig;
    const auto located = [&] {
        const ZovAdizuZadiRizov& c = *rig.c;
        return QStringList{c.locateADB().value_or("-"), c.locateScrcpy().value_or("-"),
                           c.locateScrcpyServer().value_or("-")};
    };
    // The server is pushed to the phone, never run here: it only has to exist.
    const FakeResources& res = rig.resources;
    QCOMPARE(located(),
             (QStringList{res.path("adb"), res.path("scrcpy"), res.path("scrcpy-server")}));
    rig.resources.writeFile("adb", "#!/bin/sh\n", /*executable=*/false);
    rig.resources.remove("scrcpy");
    QVERIFY(QDir(res.dir()).mkdir("scrcpy"));
    rig.resources.remove("scrcpy-server");
    QCOMPARE(located(), (QStringList{"-", "-", "-"}));
}

void ToolsTest::logKeepsTheNewestWhileTraced() {
    auto traced = std::make_shared<std::atomic<bool>>(true);
    Rig rig({.scale = kFrozenTime, .prepare = [traced](TestEnvironment& env) {
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

QTEST_GUILESS_MAIN(ToolsTest)
#include "tst_tools.moc"
