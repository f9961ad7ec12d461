#include <QSignalSpy>
#include <QTest>
#include <atomic>

#include "app/controller.h"
#include "support/real_adb.h"
#include "support/test_support.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

// The messages logged since `from`, without timestamps.
QStringList messagesSince(const ZovAdizuZadiRizov& c, qsizetype from) {
    return logMessages(c.logs().mid(from));
}

// Runs adb as every caller does and lets the log entries it queued reach `logs`.
AdbResult runOnWorker(ZovAdizuZadiRizov& c, const QStringList& args) {
    const AdbResult result = runThroughController(c, args);
    drainMainQueue();
    return result;
}

}  // namespace

class ToolsTest : public QObject {
    Q_OBJECT
private slots:
    void locatorsReportEachOutcome();
    void locatorsWithoutResourcesFolder();
    void outputCombination_data();
    void outputCombination();
    void emptyArgumentListLogLine();
    void missingOrBrokenAdb();
    void invalidUtf8StreamCountsAsEmpty();
    void largeOutputOnBothStreamsIsDrained();
    void logIsRecordedOnlyWhileTraced();
    void logKeepsNewestThousand();
    void logMessageIsNeverAFormat();
    void statusChangesOnMainThreadLater();
};

void ToolsTest::locatorsReportEachOutcome() {
    FakeResources res;
    res.installFake("adb");
    res.installFake("scrcpy");
    res.writeFile("scrcpy-server", "jar", /*executable=*/false);
    TestEnvironment env(&res);
    ZovAdizuZadiRizov c(env.config);
    QVERIFY(waitForLog(c, "[Startup] Cleaned existing scrcpy processes"));

    qsizetype mark = c.logs().size();
    QCOMPARE(c.locateADB(), std::optional<QString>(res.path("adb")));
    QCOMPARE(c.locateScrcpy(), std::optional<QString>(res.path("scrcpy")));
    // Only existence is asked of scrcpy-server; it is pushed to the phone, never run here.
    QCOMPARE(c.locateScrcpyServer(), std::optional<QString>(res.path("scrcpy-server")));
    drainMainQueue();
    // The controller's own checks run adb meanwhile, so look for the lines, not for a list.
    for (const char* line :
         {"Using adb executable at Resources/adb", "Using scrcpy executable at Resources/scrcpy",
          "Found scrcpy-server at Resources/scrcpy-server"}) {
        QVERIFY2(messagesSince(c, mark).contains(line), line);
    }

    // Not cached: files changed while running are noticed at the next lookup.
    res.writeFile("adb", "#!/bin/sh\n", /*executable=*/false);
    res.remove("scrcpy");
    res.remove("scrcpy-server");
    mark = c.logs().size();
    QCOMPARE(c.locateADB(), std::nullopt);
    QCOMPARE(c.locateScrcpy(), std::nullopt);
    QCOMPARE(c.locateScrcpyServer(), std::nullopt);
    drainMainQueue();
    for (const QString& line : {"adb executable not found or not executable at: " + res.path("adb"),
                                QString("scrcpy executable not found at Resources/scrcpy"),
                                QString("scrcpy-server not found at Resources/scrcpy-server")}) {
        QVERIFY2(messagesSince(c, mark).contains(line), qPrintable(line));
    }
}

void ToolsTest::locatorsWithoutResourcesFolder() {
    TestEnvironment env(nullptr);
    ZovAdizuZadiRizov c(env.config);
    drainMainQueue();
    const qsizetype mark = c.logs().size();
    QCOMPARE(c.locateADB(), std::nullopt);
    QCOMPARE(c.locateScrcpy(), std::nullopt);
    QCOMPARE(c.locateScrcpyServer(), std::nullopt);
    const AdbResult result = runOnWorker(c, {"version"});
    QCOMPARE(result.status, -1);
    QCOMPARE(result.output, QString());
    drainMainQueue();
    const QStringList messages = messagesSince(c, mark);
    QVERIFY(messages.count("Resource URL not found") >= 4);
    QVERIFY(
        messages.contains("adb not found in bundled tools. Please ensure adb is placed next to "
                          "scrcpy under Resources/adb."));
}

void ToolsTest::outputCombination_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");
    QTest::newRow("stdout only") << "when .*\nout hello\nexit 0\n" << 0 << "hello\n";
    QTest::newRow("stderr only") << "when .*\nerr error: no devices\nexit 1\n"
                                 << 1 << "error: no devices\n";
    // Neither stream is trimmed; the join adds exactly one line feed.
    QTest::newRow("both") << "when .*\nout  out \nerr  err \nexit 3\n" << 3 << " out \n\n err \n";
    QTest::newRow("both, no final newline") << "when .*\noutraw a\nerrraw b\n" << 0 << "a\nb";
    QTest::newRow("nothing") << "when .*\nexit 0\n" << 0 << "";
    QTest::newRow("crash") << "when .*\nout partial\ncrash\n" << 255 << "partial\n";
}

void ToolsTest::outputCombination() {
    QFETCH(QString, script);
    QFETCH(int, status);
    QFETCH(QString, output);
    FakeResources res;
    res.installFake("adb", script);
    TestEnvironment env(&res);
    ZovAdizuZadiRizov c(env.config);
    QVERIFY(waitForLog(c, "[Startup] Cleaned existing scrcpy processes"));
    const qsizetype mark = c.logs().size();
    const AdbResult result = runOnWorker(c, {"-s", "R58M 1", "shell", "echo a;b"});
    QCOMPARE(result.status, status);
    QCOMPARE(result.output, output);
    // Arguments reach adb unchanged: no quoting, splitting or shell.
    QVERIFY(res.arguments("adb").contains(QStringList{"-s", "R58M 1", "shell", "echo a;b"}));
    const QStringList messages = messagesSince(c, mark);
    QVERIFY(messages.contains("[ADB] Command: " + res.path("adb") + " -s R58M 1 shell echo a;b" +
                              " | Exit: " + QString::number(status) + " | Output: " + output));
}

void ToolsTest::emptyArgumentListLogLine() {
    FakeResources res;
    res.installFake("adb", "when .*\nexit 0\n");
    TestEnvironment env(&res);
    ZovAdizuZadiRizov c(env.config);
    const qsizetype mark = c.logs().size();
    QCOMPARE(runOnWorker(c, {}).status, 0);
    QVERIFY(messagesSince(c, mark).contains("[ADB] Command: " + res.path("adb") +
                                            "  | Exit: 0 | Output: "));
}

void ToolsTest::missingOrBrokenAdb() {
    FakeResources res;
    TestEnvironment env(&res);
    ZovAdizuZadiRizov c(env.config);
    AdbResult result = runOnWorker(c, {"devices", "-l"});
    QCOMPARE(result.status, -1);
    QVERIFY(result.output.isEmpty());

    // Executable but not a program the system can start: a launch error, not a crash.
    res.writeFile("adb",
                  QByteArray("\x7f"
                             "ELF garbage",
                             12),
                  /*executable=*/true);
    const qsizetype mark = c.logs().size();
    result = runOnWorker(c, {"version"});
    QCOMPARE(result.status, -1);
    QVERIFY(result.output.isEmpty());
    const QStringList messages = messagesSince(c, mark);
    QVERIFY(std::any_of(messages.begin(), messages.end(),
                        [](const QString& m) { return m.startsWith("Error starting adb: "); }));
}

void ToolsTest::invalidUtf8StreamCountsAsEmpty() {
    FakeResources res;
    res.installFake("adb", "when .*\noutraw \\xff\\xfe listing\nerr real error\nexit 1\n");
    TestEnvironment env(&res);
    ZovAdizuZadiRizov c(env.config);
    const AdbResult result = runOnWorker(c, {"devices"});
    QCOMPARE(result.status, 1);
    QCOMPARE(result.output, QString("real error\n"));
}

void ToolsTest::largeOutputOnBothStreamsIsDrained() {
    // 1 MB on each stream: sixteen times a pipe's buffer, so a runner that read one stream after
    // the other would deadlock with the child; small enough for a slow sanitizer build.
    FakeResources res;
    res.installFake("adb", "when .*\nflood 1000000\nexit 0\n");
    TestEnvironment env(&res);
    env.config.debuggerProbe = [] { return false; };  // keep 2 MB out of the log
    ZovAdizuZadiRizov c(env.config);
    const AdbResult result = runOnWorker(c, {"shell", "dumpsys"});
    QCOMPARE(result.status, 0);
    const qsizetype perStream = 1000000 / 80 * 80;
    QCOMPARE(result.output.size(), perStream * 2 + 1);
}

void ToolsTest::logIsRecordedOnlyWhileTraced() {
    FakeResources res;
    res.installFake("adb", "when .*\nout x\n");
    TestEnvironment env(&res);
    auto traced = std::make_shared<std::atomic<bool>>(false);
    env.config.debuggerProbe = [traced] { return traced->load(); };
    ZovAdizuZadiRizov c(env.config);
    runOnWorker(c, {"version"});
    c.updateStatus("Working");
    QVERIFY(waitUntil([&] { return c.statusText() == "Working"; }));
    QVERIFY(c.logs().isEmpty());

    // Asked afresh on every call: attaching a debugger turns the log on at once.
    traced->store(true);
    c.appendLog("[Debug] now traced");
    drainMainQueue();
    // The controller's own checks may log too once traced; ours is there, formatted.
    const QStringList ours = c.logs().filter("[Debug] now traced");
    QCOMPARE(ours.size(), 1);
    QVERIFY(QRegularExpression("^\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\] "
                               "\\[Debug\\] now traced$")
                .match(ours.first())
                .hasMatch());
}

void ToolsTest::logKeepsNewestThousand() {
    TestEnvironment env(nullptr);
    ZovAdizuZadiRizov c(env.config);
    int maxSeen = 0;
    connect(&c, &ZovAdizuZadiRizov::willChange, this,
            [&] { maxSeen = std::max(maxSeen, int(c.logs().size())); });
    for (int i = 1; i <= 1500; ++i) {
        c.appendLog("n:" + QString::number(i));
    }
    drainMainQueue();
    QCOMPARE(c.logs().size(), kMaxLogEntries);
    QVERIFY(maxSeen <= kMaxLogEntries);
    // The controller's own checks log meanwhile; ours must be the newest run, oldest dropped.
    QStringList ours = logMessages(c.logs()).filter(QRegularExpression("^n:\\d+$"));
    QVERIFY(ours.size() > 900);
    QCOMPARE(ours.last(), QString("n:1500"));
    for (int k = 0; k < ours.size(); ++k) {
        QCOMPARE(ours.at(k), "n:" + QString::number(1500 - ours.size() + 1 + k));
    }
}

namespace {
QStringList captured;
void captureMessages(QtMsgType, const QMessageLogContext&, const QString& message) {
    captured << message;
}
}  // namespace

void ToolsTest::logMessageIsNeverAFormat() {
    TestEnvironment env(nullptr);
    ZovAdizuZadiRizov c(env.config);
    captured.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessages);
    c.appendLog("[Debug] 100%s done %d %n");
    qInstallMessageHandler(previous);
    QCOMPARE(captured.size(), 1);
    QVERIFY(captured.first().endsWith("] [Debug] 100%s done %d %n"));
}

void ToolsTest::statusChangesOnMainThreadLater() {
    TestEnvironment env(nullptr);
    ZovAdizuZadiRizov c(env.config);
    QVERIFY(waitForLog(c, "[Startup] Cleaned existing scrcpy processes"));
    QCOMPARE(c.statusText(), QString("Idle"));
    const qsizetype mark = c.logs().size();
    c.updateStatus("Idle");
    // Queued, not applied in the call.
    QSignalSpy spy(&c, &ZovAdizuZadiRizov::willChange);
    QCOMPARE(spy.count(), 0);
    QVERIFY(waitForLog(c, "[Debug] statusText changed to: Idle"));
    // The same text again still logs and still notifies.
    QVERIFY(spy.count() >= 1);
    QCOMPARE(messagesSince(c, mark).count("[Debug] statusText changed to: Idle"), 1);
}

QTEST_GUILESS_MAIN(ToolsTest)
#include "tst_tools.moc"
