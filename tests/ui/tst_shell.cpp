#include <signal.h>

#include <QDir>
#include <QMenuBar>
#include <QProcess>
#include <QTest>

#include "app/app_delegate.h"
#include "app/application.h"
#include "app/root_view.h"
#include "ui/main_view.h"
#include "window_rig.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kPkill = QStringLiteral("/usr/bin/pkill");

bool running(const QPointer<QProcess>& p) {
    return p && p->state() == QProcess::Running;
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void windowOpensAtDefaultSizeAndKeepsItsMinimum();
    void menuCommandsOpenTheTextResources();
    void quittingEndsOurRelaysOnly();
    void failedCleanupAtQuitGoesToTheSystemLog();
    void quitSignalsQuitNormally();
    void programQuitsCleanlyOnSigterm();
};

void ShellTest::windowOpensAtDefaultSizeAndKeepsItsMinimum() {
    WindowRig rig({QStringLiteral("en")}, false);
    RootView window(rig.env.config);
    rig.settle(*window.controller());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.centralWidget()->size(), QSize(460, 640));
    window.resize(200, 200);
    QTRY_VERIFY(window.centralWidget()->width() >= 420);
    QVERIFY(window.centralWidget()->height() >= 540);
    QVERIFY(window.centralWidget()->width() <= 430);  // shrinks down to the minimum
}

void ShellTest::menuCommandsOpenTheTextResources() {
    WindowRig rig({QStringLiteral("en")}, false);
    rig.resources.writeFile(QStringLiteral("RARER_IDAZARI.txt"), "About", false);
    QStringList opened;
    RootView window(rig.env.config, [&](const QString& path) { opened << path; });
    rig.settle(*window.controller());
    QCOMPARE(window.aboutAction()->text(), QStringLiteral("About Sonavel"));
    QCOMPARE(window.licensesAction()->text(), QStringLiteral("Open Source Licenses"));
    const QList<QAction*> items = window.menuBar()->actions().first()->menu()->actions();
    QCOMPARE(items.size(), 3);
    QVERIFY(items[1]->isSeparator());

    window.aboutAction()->trigger();
    const QString dir = *window.controller()->ref().config().resourcesDir;
    QCOMPARE(opened, QStringList{dir + QStringLiteral("/RARER_IDAZARI.txt")});
    // The licence file is missing: the command does nothing at all.
    window.licensesAction()->trigger();
    QCOMPARE(opened.size(), 1);

    *rig.languages = {QStringLiteral("ja")};
    window.controller()->isRunning.set(false);
    QTRY_COMPARE(window.aboutAction()->text(), text(TextKey::aboutMenuTitle, Language::Japanese));
    QCOMPARE(window.licensesAction()->text(),
             text(TextKey::openSourceLicensesMenuTitle, Language::Japanese));
}

void ShellTest::quittingEndsOurRelaysOnly() {
    WindowRig rig;
    // A decoy whose command line names a scrcpy, but not ours: it must survive.
    FakeResources other;
    other.installFake(QStringLiteral("scrcpy"), kHangingScrcpy);
    QProcess decoy;
    decoy.start(other.path(QStringLiteral("scrcpy")), {QStringLiteral("--no-window")});
    QVERIFY(decoy.waitForStarted());

    rig.c->connectedTCPIPDevices.set({wirelessEntry(QStringLiteral("192.168.1.20:5555"), "A"),
                                      wirelessEntry(QStringLiteral("192.168.1.21:5555"), "B")});
    rig.c->setRelayEnabled(QStringLiteral("192.168.1.20:5555"), true);
    rig.c->setRelayEnabled(QStringLiteral("192.168.1.21:5555"), true);
    QVERIFY(waitUntil([&] {
        return running(rig.c->scrcpyProcesses.value("192.168.1.20:5555")) &&
               running(rig.c->scrcpyProcesses.value("192.168.1.21:5555"));
    }));
    const QPointer<QProcess> first = rig.c->scrcpyProcesses.value("192.168.1.20:5555");
    const QPointer<QProcess> second = rig.c->scrcpyProcesses.value("192.168.1.21:5555");

    AppDelegate delegate(kPkill, rig.c->ref().config().resourcesDir);
    delegate.applicationWillTerminate();
    QVERIFY(waitUntil([&] { return !running(first) && !running(second); }));
    QTest::qWait(50);
    QCOMPARE(decoy.state(), QProcess::Running);
    decoy.kill();
    decoy.waitForFinished();
}

void ShellTest::failedCleanupAtQuitGoesToTheSystemLog() {
    FakeResources resources;
    AppDelegate delegate(QStringLiteral("/nonexistent/pkill"), resources.dir());
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression(QStringLiteral("^\\[App\\] Failed to cleanup scrcpy on terminate: .+")));
    delegate.applicationWillTerminate();
}

void ShellTest::quitSignalsQuitNormally() {
    int quits = 0;
    struct sigaction before = {};
    ::sigaction(SIGTERM, nullptr, &before);
    {
        QuitOnSignals watcher([&] { ++quits; });
        ::raise(SIGTERM);
        QTRY_COMPARE(quits, 1);
        ::raise(SIGINT);
        QTRY_COMPARE(quits, 2);
        ::raise(SIGHUP);  // the terminal that started it was closed
        QTRY_COMPARE(quits, 3);
    }
    // Gone: the previous handlers are back.
    struct sigaction current = {};
    ::sigaction(SIGTERM, nullptr, &current);
    QVERIFY(current.sa_handler == before.sa_handler);
}

// The built program, told to stop by SIGTERM, leaves its event loop and exits normally (status 0),
// and its clean-up at quit ends the relays of its resources folder, not other scrcpy processes.
// The program runs from a copy whose resources folder is a fake one.
void ShellTest::programQuitsCleanlyOnSigterm() {
    const QString built =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/sonavel");
    if (!QFileInfo(built).isExecutable()) {
        QSKIP("the program is not built next to the tests");
    }
    FakeResources resources;
    resources.installFake(QStringLiteral("adb"), kQuietAdb);
    resources.installFake(QStringLiteral("scrcpy"), kHangingScrcpy);
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("bin")));
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("share")));
    const QString program = root.filePath(QStringLiteral("bin/sonavel"));
    QVERIFY(QFile::copy(built, program));
    QVERIFY(QFile::link(resources.dir(), root.filePath(QStringLiteral("share/sonavel"))));

    // Two relays of that folder, and a decoy of another one.
    FakeResources other;
    other.installFake(QStringLiteral("scrcpy"), kHangingScrcpy);
    QProcess relayA, relayB, decoy;
    relayA.start(resources.path(QStringLiteral("scrcpy")), {QStringLiteral("-s"), "10.0.0.2:5555"});
    relayB.start(resources.path(QStringLiteral("scrcpy")), {QStringLiteral("-s"), "10.0.0.3:5555"});
    decoy.start(other.path(QStringLiteral("scrcpy")), {QStringLiteral("-s"), "10.0.0.4:5555"});
    QVERIFY(relayA.waitForStarted() && relayB.waitForStarted() && decoy.waitForStarted());

    // A crashed earlier run left its lock (its process is gone) and its socket: both are taken
    // over.
    QTemporaryDir config, runtime;
    QProcess gone;
    gone.start(QStringLiteral("/bin/true"));
    QVERIFY(gone.waitForStarted());
    const qint64 gonePid = gone.processId();
    QVERIFY(gone.waitForFinished());
    QFile lock(runtime.filePath(QStringLiteral("sonavel.lock")));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(gonePid) + "\nsonavel\n\n");
    lock.close();
    QFile socket(runtime.filePath(QStringLiteral("sonavel.socket")));
    QVERIFY(socket.open(QIODevice::WriteOnly));
    socket.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(program, {});
    QVERIFY(app.waitForStarted());
    // The window is up once the watcher's adb runs.
    QVERIFY(waitUntil(
        [&] {
            for (const QStringList& call : resources.arguments(QStringLiteral("adb"))) {
                if (call.contains(QStringLiteral("track-devices"))) {
                    return true;
                }
            }
            return false;
        },
        20000));
    // The start-up clean-up also ends our relays: start a fresh one after it has run.
    QVERIFY(waitUntil([&] { return relayA.state() == QProcess::NotRunning; }));
    relayA.start(resources.path(QStringLiteral("scrcpy")), {QStringLiteral("-s"), "10.0.0.5:5555"});
    QVERIFY(relayA.waitForStarted());
    QVERIFY(waitUntil([&] { return relayB.state() == QProcess::NotRunning; }));
    relayB.start(resources.path(QStringLiteral("scrcpy")), {QStringLiteral("-s"), "10.0.0.6:5555"});
    QVERIFY(relayB.waitForStarted());

    // A second launch hands over to the running instance, which answers, and leaves at once
    // without its start-up clean-up.
    QProcess again;
    again.setProcessEnvironment(environment);
    again.start(program, {});
    QVERIFY(again.waitForFinished(20000));
    QCOMPARE(again.exitStatus(), QProcess::NormalExit);
    QCOMPARE(again.exitCode(), 0);
    QCOMPARE(relayA.state(), QProcess::Running);
    QCOMPARE(app.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    QVERIFY(app.waitForFinished(20000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    QVERIFY(waitUntil([&] { return relayA.state() == QProcess::NotRunning; }));
    QVERIFY(waitUntil([&] { return relayB.state() == QProcess::NotRunning; }));
    QCOMPARE(decoy.state(), QProcess::Running);
    decoy.kill();
    decoy.waitForFinished();

    QSettings stored(config.filePath(QStringLiteral("Sonavel/Sonavel.conf")), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("NSQuitAlwaysKeepsWindows")).toString(),
             QStringLiteral("false"));
}

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
