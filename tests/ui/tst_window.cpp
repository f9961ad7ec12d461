#include <signal.h>

#include <QTest>

#include "app/app_delegate.h"
#include "app/application.h"
#include "support/rig.h"
#include "ui/device_block.h"
#include "ui/main_view.h"
#include "ui/switch_button.h"
#include "ui/symbols.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kA = QStringLiteral("192.168.1.20:5555");
const QString kB = QStringLiteral("192.168.1.21:5555");

RigOptions windowOptions(double scale = 1.0, QStringList languages = {QStringLiteral("en-US")}) {
    RigOptions o;
    o.adb = QStringLiteral(
        "when connect .*\nout connected to 192.168.1.20:5555\n"
        "when -s .* shell dumpsys battery\nout Current Battery Service state:\n");
    o.scale = scale;
    o.languages = std::move(languages);
    return o;
}

// A shown window over the rig's controller, once start-up's own adb calls are over: in real time
// the repeating checks do not fire during a test, so the state a test sets stays.
struct Shown {
    explicit Shown(const RigOptions& options) : rig(options), view(rig.c.get()) {
        QVERIFY(
            rig.waitForLog(QStringLiteral("[USBCheck] USB connected: false serial: nil state: ")));
        QDeadlineTimer limit(kWaitMs);
        for (int quiet = 0; quiet < 5 && !limit.hasExpired();) {
            QTest::qWait(20);
            quiet = childProcesses(rig.resources.path(QStringLiteral("adb"))).size() <= 1
                        ? quiet + 1
                        : 0;
        }
        view.resize(460, 640);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    bool shows(const QWidget* w) const { return w->isVisibleTo(&view); }
    DeviceBlock* row(int i) const { return view.rows().value(i); }
    ZovAdizuZadiRizov& c() { return *rig.c; }
    Rig rig;
    RirAvoruVara view;
};

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void noDeviceShowsTheGuideInTheUsersLanguage();
    void wirelessRowsGetOneRowEachAndATapSelects();
    void relaySwitchStartsAndStopsTheEndpoint();
    void rowSaysWhyItsRelayIsSilent();
    void bufferSliderAppliesOnReleaseOnly();
    void observersToldFirstAndWorkFindsTheControllerGone();
    void cleanUpEndsOurRelaysOnly();
    void quitSignalsQuitNormally();
    void programQuitsCleanlyOnSigterm();
};

void WindowTest::noDeviceShowsTheGuideInTheUsersLanguage() {
    Shown w(windowOptions(1.0, {QStringLiteral("ja-JP"), QStringLiteral("en-US")}));
    const auto ja = [](TextKey key) { return text(key, Language::Japanese); };
    QCOMPARE(w.view.statusLabelText(), ja(TextKey::unavailable));
    QCOMPARE(w.view.guideIconName(), QStringLiteral("info.circle"));
    QCOMPARE(w.view.guideText(), ja(TextKey::guideSetup));
    QCOMPARE(w.c().connectionGuideText(), ja(TextKey::guideSetup));
    QCOMPARE(w.view.hintText(), ja(TextKey::perDeviceSettingsHint));
    // One placeholder row, with nothing to switch.
    QCOMPARE(w.view.rows().size(), 1);
    QCOMPARE(w.row(0)->nameLabel()->text(), ja(TextKey::notDetected));
    QVERIFY(!w.row(0)->relayControl() && !w.shows(w.row(0)->batteryGroup()));

    QVERIFY(!w.shows(w.view.alertRow()));
    w.c().isAlertPlaying.set(true);
    QTRY_VERIFY(w.shows(w.view.alertRow()));
    QCOMPARE(w.view.stopAlertButton()->text(), ja(TextKey::stopAlert));
    QTest::mouseClick(w.view.stopAlertButton(), Qt::LeftButton);
    QVERIFY(!w.c().isAlertPlaying() && w.c().alertSuppressed);
    QTRY_VERIFY(!w.shows(w.view.alertRow()));

    // Only the first preferred language counts, and it is looked up at each redraw.
    *w.rig.languages = {QStringLiteral("en-US"), QStringLiteral("ja-JP")};
    w.c().notifyWillChange();
    QTRY_COMPARE(w.view.statusLabelText(), en(TextKey::unavailable));
    QCOMPARE(w.view.guideText(), en(TextKey::guideSetup));
    QCOMPARE(w.c().connectionGuideText(), en(TextKey::guideSetup));
}

void WindowTest::wirelessRowsGetOneRowEachAndATapSelects() {
    Shown w(windowOptions());
    w.c().batteryLevels.set({{kA, 85}});
    w.c().batteryCharging.set({{kA, true}});
    w.c().connectedTCPIPDevices.set(
        {wirelessRow(kA, QStringLiteral("Pixel_7")), wirelessRow(kB, QStringLiteral("SM_S918B"))});
    QTRY_COMPARE(w.view.rows().size(), 2);  // no summary row
    QCOMPARE(w.row(0)->nameLabel()->text(), QStringLiteral("Pixel_7"));
    QCOMPARE(w.row(0)->batteryText()->text(), QStringLiteral("85%"));
    QVERIFY(w.shows(w.row(0)->boltIcon()) && !w.shows(w.row(1)->batteryGroup()));
    QCOMPARE(w.row(1)->relayControl()->endpoint(), kB);

    // A click on the row's name is a click on the row.
    click(w.row(1)->nameLabel());
    QCOMPARE(w.c().selectedDevice()->serial, kB);
    QCOMPARE(w.c().endpoint(), kB);
    QCOMPARE(w.rig.env.settings()->value(QStringLiteral("endpoint")).toString(), kB);
    const QStringList battery = {"-s", kB, "shell", "dumpsys", "battery"};
    QVERIFY(waitUntil([&] { return w.rig.adbCalls().contains(battery); }));
    // A click on a switch is the switch's, not the row's.
    w.c().selectedDevice.set(std::nullopt);
    click(w.row(0)->relayControl()->videoSwitch());
    QVERIFY(!w.c().selectedDevice());
    QVERIFY(w.c().videoEnabledByEndpoint().value(kA));

    // A list that changes while its rows are still being built ends with the newer list's rows.
    QVector<DiscoveredDevice> many;
    for (int i = 0; i < 12; ++i) {
        many << wirelessRow(QStringLiteral("192.168.1.%1:5555").arg(30 + i), QString::number(i));
    }
    const auto showsRows = [&](const QVector<DiscoveredDevice>& list) {
        QStringList shown, wanted;
        for (DeviceBlock* row : w.view.rows()) {
            shown << row->nameLabel()->text() +
                         (row->relayControl() ? row->relayControl()->endpoint() : QString());
        }
        for (const DiscoveredDevice& d : list) {
            wanted << d.name + *d.ip;
        }
        return shown == wanted;
    };
    w.c().connectedTCPIPDevices.set(many);
    const int drawn = w.view.redrawCount();
    QTRY_VERIFY(w.view.redrawCount() > drawn);
    w.c().connectedTCPIPDevices.set(many.mid(3));
    QTRY_VERIFY(showsRows(many.mid(3)));
    w.c().connectedTCPIPDevices.set(many.mid(0, 2));
    QTRY_VERIFY(showsRows(many.mid(0, 2)));
}

void WindowTest::relaySwitchStartsAndStopsTheEndpoint() {
    Shown w(windowOptions());
    w.c().connectedTCPIPDevices.set({wirelessRow(kA, QStringLiteral("Pixel_7"))});
    QTRY_VERIFY(w.row(0)->relayControl());
    DeviceBlock* row = w.row(0);
    SwitchButton* relay = row->relayControl()->relaySwitch();
    QVERIFY(!relay->isChecked());

    click(relay);
    QVERIFY(waitUntil([&] {
        return w.rig.running(kA) && row->audioLine()->text() == en(TextKey::audioRelayActive) &&
               w.view.statusLabelText() == en(TextKey::audioRelayActive);
    }));
    QVERIFY(relay->isChecked());
    QCOMPARE(w.view.guideIconName(), QStringLiteral("waveform"));

    click(relay);
    QVERIFY(waitUntil([&] { return !w.c().scrcpyProcesses.contains(kA); }));
    QTRY_COMPARE(row->audioLine()->text(), en(TextKey::ready));
    QVERIFY(!relay->isChecked() && !w.c().enabledEndpoints().contains(kA));
    settle();
    QCOMPARE(w.rig.scrcpyRuns().size(), 1);
}

void WindowTest::rowSaysWhyItsRelayIsSilent() {
    // Flow time a hundred times faster: the reconnect loop tries again every 100 ms.
    Shown w(windowOptions(0.01));
    w.c().connectedTCPIPDevices.set({wirelessRow(kA, QStringLiteral("Pixel_7"))});
    QTRY_VERIFY(w.row(0)->relayControl());
    DeviceBlock* row = w.row(0);
    const auto showsCause = [&](TextKey wording) {
        return w.shows(row->silenceCauseLine()) && row->silenceCauseText()->text() == en(wording);
    };
    const auto exitsAfter = [&](const QString& lines) {
        w.rig.resources.setScript(QStringLiteral("scrcpy"), "when .*\n" + lines + "exit 1\n");
    };

    // What scrcpy 3.3.4 prints before it exits, for an Android 10 phone and for a computer
    // without sound output.
    exitsAfter(
        "out [server] INFO: Device: [HUAWEI] HONOR HLK-AL00 (Android 10)\n"
        "err [server] WARN: Audio disabled: it is not supported before Android 11\n"
        "err WARN: Demuxer 'audio': stream explicitly disabled by the device\n"
        "err ERROR: Demuxer error\n");
    click(row->relayControl()->relaySwitch());
    QVERIFY(waitUntil([&] { return showsCause(TextKey::silentAndroidTooOld); }));
    exitsAfter(
        "err ERROR: Could not open audio device: ALSA: Couldn't open audio device: No such file "
        "or directory\n");
    QVERIFY(waitUntil([&] { return showsCause(TextKey::silentNoAudioOutput); }));
    w.rig.resources.remove(QStringLiteral("scrcpy-server"));
    QVERIFY(waitUntil([&] { return showsCause(TextKey::silentToolMissing); }));
    // Switched off, the cause goes with the switch.
    click(row->relayControl()->relaySwitch());
    QVERIFY(!w.c().silenceCauses().contains(kA));
    QTRY_VERIFY(!w.shows(row->silenceCauseLine()));

    // A locked Android 11 phone: the line at every try, until the phone is unlocked.
    w.rig.resources.writeFile(QStringLiteral("scrcpy-server"), QByteArray("jar"), false);
    exitsAfter(
        "err [server] ERROR: On Android 11, audio capture must be started in the foreground, make "
        "sure that the device is unlocked when starting scrcpy.\nerr ERROR: Demuxer error\n");
    const qsizetype before = w.rig.scrcpyRuns().size();
    click(row->relayControl()->relaySwitch());
    QVERIFY(waitUntil([&] {
        return w.rig.scrcpyRuns().size() >= before + 2 && showsCause(TextKey::silentPhoneLocked);
    }));
    w.rig.resources.setScript(QStringLiteral("scrcpy"), kHangingScrcpy);
    QVERIFY(waitUntil([&] {
        return w.rig.running(kA) && !w.shows(row->silenceCauseLine()) &&
               row->audioLine()->text() == en(TextKey::audioRelayActive);
    }));
}

void WindowTest::bufferSliderAppliesOnReleaseOnly() {
    Shown w(windowOptions());
    w.c().connectedTCPIPDevices.set(
        {wirelessRow(kA, QStringLiteral("Pixel_7")), wirelessRow(kB, QStringLiteral("SM_S918B"))});
    QTRY_COMPARE(w.view.rows().size(), 2);
    DeviceRelayControl* control = w.row(0)->relayControl();
    QSlider* slider = control->bufferSlider();

    // A drag shows each step; only the release stores the value (a store restarts a relay).
    slider->setSliderDown(true);
    QList<int> seen;
    for (int position = 16; position <= 22; ++position) {
        slider->setSliderPosition(position);
        seen << w.c().audioBufferMs();
    }
    QCOMPARE(seen, QList<int>({160, 170, 180, 190, 200, 210, 220}));
    QCOMPARE(control->bufferLabel()->text(), QStringLiteral("220ms"));
    QVERIFY(!w.c().audioBufferMsByEndpoint().contains(kA));
    slider->setSliderDown(false);
    QCOMPARE(w.c().audioBufferMsByEndpoint().value(kA), 220);
    // Both ends of the range can be chosen.
    QTest::keyClick(slider, Qt::Key_End);
    QCOMPARE(w.c().audioBufferMsByEndpoint().value(kA), 300);
    QTest::keyClick(slider, Qt::Key_Home);
    QCOMPARE(w.c().audioBufferMsByEndpoint().value(kA), 100);
    QTRY_COMPARE(control->bufferLabel()->text(), QStringLiteral("100ms"));

    // The other row relays. A press and release on its knob changes nothing; a click on its
    // groove that moves the knob (the middle button here) applies its own value, restarting once.
    w.c().setRelayEnabled(kB, true);
    const auto connects = [&] { return w.rig.adbCalls().count({QStringLiteral("connect"), kB}); };
    QVERIFY(waitUntil([&] { return w.rig.running(kB) && connects() == 1; }));
    QSlider* other = w.row(1)->relayControl()->bufferSlider();
    other->setSliderDown(true);
    other->setSliderDown(false);
    QTest::mouseClick(other, Qt::MiddleButton, {}, QPoint(other->width() - 2, other->height() / 2));
    const int chosen = other->value() * 10;
    QVERIFY(chosen > 150);
    QVERIFY(waitUntil([&] { return w.rig.scrcpyRuns().size() == 2; }));
    settle();
    QCOMPARE(connects(), 2);
    QCOMPARE(w.rig.scrcpyRuns().size(), 2);
    QCOMPARE(w.rig.scrcpyRuns().last().last(), "--audio-buffer=" + QString::number(chosen));
    QCOMPARE(w.c().audioBufferMsByEndpoint(), (QMap<QString, int>{{kA, 100}, {kB, chosen}}));
}

void WindowTest::observersToldFirstAndWorkFindsTheControllerGone() {
    TestEnvironment env(nullptr);
    auto c = std::make_unique<ZovAdizuZadiRizov>(env.config);
    QList<bool> seen;
    connect(c.get(), &ZovAdizuZadiRizov::willChange, this, [&] { seen << c->isRunning(); });
    c->isRunning.set(true);
    c->isRunning.set(true);
    QCOMPARE(seen, (QList<bool>{false, true}));

    // Queued before the controller goes, run after: nothing happens.
    const ControllerRef ref = c->ref();
    std::atomic<int> ran{0};
    std::atomic<bool> posted{false};
    dispatchAfter(QoS::UserInitiated, std::chrono::milliseconds(50), [ref, &ran, &posted] {
        ref.runInBackground(QoS::UserInitiated, [&ran](const ControllerRef&) { ++ran; });
        ref.post([&ran](ZovAdizuZadiRizov&) { ++ran; });
        posted = true;
    });
    c.reset();
    QVERIFY(!ref.alive());
    QVERIFY(waitUntil([&] { return posted.load(); }));
    settle();
    QCOMPARE(ran.load(), 0);
    QCOMPARE(ref.read([](ZovAdizuZadiRizov&) { return 1; }), std::nullopt);
}

void WindowTest::cleanUpEndsOurRelaysOnly() {
    RigOptions options;
    options.makeController = false;
    Rig rig(options);
    const QString ours = rig.resources.path(QStringLiteral("scrcpy"));
    // Decoys: a tool whose path begins with ours, a command line that merely contains ours, and
    // another installation's scrcpy.
    rig.resources.installFake(QStringLiteral("scrcpy-helper"), kHangingScrcpy);
    FakeResources other;
    other.installFake(QStringLiteral("scrcpy"), kHangingScrcpy);
    QProcess relay, prefixed, mentions, foreign;
    relay.start(ours, {QStringLiteral("-s"), QStringLiteral("10.0.0.2:5555")});
    prefixed.start(ours + QStringLiteral("-helper"), {});
    mentions.start(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"), QStringLiteral("sleep 60; true"), ours});
    foreign.start(other.path(QStringLiteral("scrcpy")), {});
    for (QProcess* p : {&relay, &prefixed, &mentions, &foreign}) {
        QVERIFY(p->waitForStarted());
    }
    const auto decoysLive = [&] {
        return prefixed.state() == QProcess::Running && mentions.state() == QProcess::Running &&
               foreign.state() == QProcess::Running;
    };

    // A relay left over from an earlier run ends at start-up.
    rig.c = std::make_unique<ZovAdizuZadiRizov>(rig.env.config);
    Rig::settleStartup(*rig.c);
    QVERIFY(waitUntil([&] { return relay.state() == QProcess::NotRunning; }));
    QVERIFY(decoysLive());

    // And ours end at quit.
    relay.start(ours, {QStringLiteral("-s"), QStringLiteral("10.0.0.2:5555")});
    QVERIFY(relay.waitForStarted());
    AppDelegate(QStringLiteral("/usr/bin/pkill"), rig.resources.dir()).applicationWillTerminate();
    QVERIFY(waitUntil([&] { return relay.state() == QProcess::NotRunning; }));
    settle();
    QVERIFY(decoysLive());

    // A clean-up that cannot run is reported to the system log (the application's is gone).
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Failed to cleanup")));
    AppDelegate(QStringLiteral("/nonexistent/pkill"), rig.resources.dir())
        .applicationWillTerminate();
}

void WindowTest::quitSignalsQuitNormally() {
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

// The built program, run from a copy whose resources folder is a fake one.
void WindowTest::programQuitsCleanlyOnSigterm() {
    const QString built =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/sonavel");
    if (!QFileInfo(built).isExecutable()) {
        QSKIP("the program is not built next to the tests");
    }
    FakeResources resources;
    resources.installFake(QStringLiteral("adb"), kQuietAdb);
    resources.installFake(QStringLiteral("scrcpy"), kHangingScrcpy);
    QTemporaryDir root, config, runtime;
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("bin")) &&
            QDir(root.path()).mkpath(QStringLiteral("share")));
    const QString program = root.filePath(QStringLiteral("bin/sonavel"));
    QVERIFY(QFile::copy(built, program));
    QVERIFY(QFile::link(resources.dir(), root.filePath(QStringLiteral("share/sonavel"))));

    // A crashed earlier run left its lock (its process is gone) and its socket: both are taken
    // over.
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
    QProcess relay, decoy, app, again;
    FakeResources other;
    other.installFake(QStringLiteral("scrcpy"), kHangingScrcpy);
    decoy.start(other.path(QStringLiteral("scrcpy")), {});
    relay.start(resources.path(QStringLiteral("scrcpy")), {});
    QVERIFY(decoy.waitForStarted() && relay.waitForStarted());
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(program, {});
    QVERIFY(app.waitForStarted());
    // Once its start-up clean-up has ended this relay, the program is up: a fresh one is started.
    QVERIFY(waitUntil([&] { return relay.state() == QProcess::NotRunning; }));
    relay.start(resources.path(QStringLiteral("scrcpy")), {});
    QVERIFY(relay.waitForStarted());

    // A second launch hands over to the running one and leaves, without a clean-up of its own.
    again.setProcessEnvironment(environment);
    again.start(program, {});
    QVERIFY(again.waitForFinished(kWaitMs));
    QCOMPARE(again.exitStatus(), QProcess::NormalExit);
    QCOMPARE(again.exitCode(), 0);
    QCOMPARE(relay.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    QVERIFY(app.waitForFinished(kWaitMs));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    QVERIFY(waitUntil([&] { return relay.state() == QProcess::NotRunning; }));
    QCOMPARE(decoy.state(), QProcess::Running);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
