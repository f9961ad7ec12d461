#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "tools/child_run.h"
#include "tools/tool_files.h"

using namespace sonavel;

// How a one-shot command is run and how the tool files are found, with real processes and files.
class ToolsTest : public QObject {
    Q_OBJECT
private slots:
    void commandsRunToTheirEnd();
    void commandsThatMisbehave();
    void toolFiles();
};

namespace {

ChildRun sh(const QString& script, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    return runChild("/bin/sh", {"-c", script}, limit);
}

}  // namespace

void ToolsTest::commandsRunToTheirEnd() {
    const ChildRun plain = sh("printf 'out\\n'; printf 'err\\n' >&2; exit 3");
    QVERIFY(plain.started);
    QVERIFY(!plain.crashed);
    QCOMPARE(plain.exitCode, 3);
    QCOMPARE(plain.standardOutput, QByteArray("out\n"));
    QCOMPARE(plain.standardError, QByteArray("err\n"));

    // Both streams far beyond a pipe's buffer, interleaved: neither side may wait for the other.
    const ChildRun big =
        sh("i=0; while [ $i -lt 2000 ]; do "
           "printf '%0100d\\n' $i; printf '%0100d\\n' $i >&2; i=$((i+1)); done");
    QCOMPARE(big.exitCode, 0);
    QCOMPARE(big.standardOutput.size(), 2000 * 101);
    QCOMPARE(big.standardError.size(), 2000 * 101);

    // The input is empty, never the terminal or a pipe left open.
    QCOMPARE(sh("cat; echo done").standardOutput, QByteArray("done\n"));

    // A process the command started keeps its output open (as adb's server does): the command's
    // end is the end, with what it wrote.
    const ChildRun starter = sh("sleep 121 & echo started", std::chrono::seconds(60));
    QVERIFY(!starter.timedOut);
    QCOMPARE(starter.exitCode, 0);
    QCOMPARE(starter.standardOutput, QByteArray("started\n"));
    QProcess::execute("pkill", {"-f", "^sleep 121$"});
}

void ToolsTest::commandsThatMisbehave() {
    const ChildRun missing = runChild("/nonexistent/adb", {"devices"}, std::chrono::seconds(5));
    QVERIFY(!missing.started);
    QVERIFY(!missing.startError.isEmpty());

    const ChildRun killed = sh("echo before; kill -KILL $$");
    QVERIFY(killed.started);
    QVERIFY(killed.crashed);
    QCOMPARE(killed.standardOutput, QByteArray("before\n"));

    // Past its time it is killed, what it wrote kept; it is not left running.
    const ChildRun hung = sh("echo waiting; exec sleep 122", std::chrono::milliseconds(300));
    QVERIFY(hung.timedOut);
    QVERIFY(hung.crashed);
    QCOMPARE(hung.standardOutput, QByteArray("waiting\n"));
    QCOMPARE(QProcess::execute("pgrep", {"-f", "^sleep 122$"}), 1);

    // A signal this process ignores is the child's to take, as after any exec.
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGTERM, &ignore, &previous);
    const ChildRun terminated = sh("kill -TERM $$; echo survived");
    sigaction(SIGTERM, &previous, nullptr);
    QVERIFY(terminated.crashed);
    QVERIFY(terminated.standardOutput.isEmpty());
}

void ToolsTest::toolFiles() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString d = dir.path();
    const auto write = [&](const QString& name, QFile::Permissions permissions) {
        QFile file(d + "/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        QVERIFY(file.setPermissions(permissions));
    };
    write("adb", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    write("scrcpy", QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY(QDir(d).mkdir("scrcpy-server"));
    QVERIFY(QFile::link(d + "/adb", d + "/linked"));

    QCOMPARE(toolPath(d, "adb"), d + "/adb");
    QCOMPARE(toolPath(d + "/", "adb"), d + "/adb");
    QVERIFY(toolFileUsable(toolPath(d, "adb"), true));
    QVERIFY(toolFileUsable(toolPath(d, "linked"), true));   // bundles may link their tools
    QVERIFY(!toolFileUsable(toolPath(d, "scrcpy"), true));  // not executable
    QVERIFY(toolFileUsable(toolPath(d, "scrcpy"), false));
    QVERIFY(!toolFileUsable(toolPath(d, "none"), false));
    QVERIFY(!toolFileUsable(toolPath(d, "scrcpy-server"), true));  // a folder is no program
    QVERIFY(toolFileUsable(toolPath(d, "scrcpy-server"), false));
    QCOMPARE(missingToolFiles(d), (QStringList{"scrcpy"}));
    QCOMPARE(missingToolFiles(std::nullopt), (QStringList{"adb", "scrcpy", "scrcpy-server"}));
}

QTEST_GUILESS_MAIN(ToolsTest)
#include "tst_tools.moc"
