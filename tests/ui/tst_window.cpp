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

const QString kA = "192.168.1.20:5555";
const QString kB = "192.168.1.21:5555";

// A shown window over the rig's controller once start-up's USB check is over. In real time
// (scale 1) the repeating checks do not fire during a test, so the state a test sets stays.
struct Shown {
    explicit Shown(double scale = 1.0, QStringList languages = {"en-US"})
        : rig(options(scale, std::move(languages))), view(rig.c.get()) {
        QVERIFY(rig.waitForLog("[USBCheck] USB connected: false serial: nil state: "));
        view.resize(460, 640);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    static RigOptions options(double scale, QStringList languages) {
        RigOptions o;
        o.adb = "when connect .*\nout connected to 192.168.1.20:5555\n";
        o.scale = scale;
        o.languages = std::move(languages);
        return o;
    }
    bool shows(const QWidget* w) const { return w->isVisibleTo(&view); }
    DeviceBlock* row(int i) const { return view.rows().value(i); }
    SwitchButton* relaySwitch(int i) const { return row(i)->relayControl()->relaySwitch(); }
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
    void programQuitsCleanlyOnSignals();
};

void WindowTest::noDeviceShowsTheGuideInTheUsersLanguage() {
    Shown w(1.0, {"ja-JP", "en-US"});
    const auto ja = [](TextKey key) { return text(key, Language::Japanese); };
    QCOMPARE(w.view.statusLabelText(), ja(TextKey::unavailable));
    QCOMPARE(w.view.guideText(), ja(TextKey::guideSetup));
    QCOMPARE(w.c().connectionGuideText(), ja(TextKey::guideSetup));
    // One placeholder row, with nothing to switch.
    QCOMPARE(w.view.rows().size(), 1);
    QCOMPARE(w.row(0)->nameLabel()->text(), ja(TextKey::notDetected));
    QVERIFY(!w.row(0)->relayControl() && !w.shows(w.view.alertRow()));

    w.c().isAlertPlaying.set(true);
    QTRY_COMPARE(w.view.stopAlertButton()->text(), ja(TextKey::stopAlert));
    QTest::mouseClick(w.view.stopAlertButton(), Qt::LeftButton);
    QVERIFY(!w.c().isAlertPlaying() && w.c().alertSuppressed);
    QTRY_VERIFY(!w.shows(w.view.alertRow()));

    // Only the first preferred language counts, and it is looked up at each redraw.
    *w.rig.languages = {"en-US", "ja-JP"};
    w.c().notifyWillChange();
    QTRY_COMPARE(w.view.guideText(), en(TextKey::guideSetup));
    QCOMPARE(w.view.statusLabelText(), en(TextKey::unavailable));
    QCOMPARE(w.c().connectionGuideText(), en(TextKey::guideSetup));
}

void WindowTest::wirelessRowsGetOneRowEachAndATapSelects() {
    Shown w;
    w.c().batteryLevels.set({{kA, 85}});
    w.c().connectedTCPIPDevices.set({wirelessRow(kA, "Pixel_7"), wirelessRow(kB, "SM_S918B")});
    QTRY_COMPARE(w.view.rows().size(), 2);  // no summary row
    QCOMPARE(w.row(0)->nameLabel()->text(), "Pixel_7");
    QCOMPARE(w.row(0)->batteryText()->text(), "85%");
    QCOMPARE(w.row(1)->relayControl()->endpoint(), kB);

    // A click on the row's name is a click on the row.
    click(w.row(1)->nameLabel());
    QCOMPARE(w.c().endpoint(), kB);
    QCOMPARE(w.rig.env.settings()->value("endpoint").toString(), kB);
    const QStringList battery = {"-s", kB, "shell", "dumpsys", "battery"};
    QVERIFY(waitUntil([&] { return w.rig.adbCalls().contains(battery); }));
    // A click on a switch is the switch's, not the row's.
    w.c().selectedDevice.set(std::nullopt);
    click(w.row(0)->relayControl()->videoSwitch());
    QVERIFY(!w.c().selectedDevice() && w.c().videoEnabledByEndpoint().value(kA));

    // A list that changes while its rows are still being built ends with the newer list's rows.
    QVector<DiscoveredDevice> many;
    QStringList endpoints;
    for (int i = 0; i < 12; ++i) {
        many << wirelessRow(QString("192.168.1.%1:5555").arg(30 + i));
        endpoints << many.last().serial;
    }
    const auto shown = [&] {
        QStringList rows;
        for (DeviceBlock* row : w.view.rows()) {
            rows << (row->relayControl() ? row->relayControl()->endpoint() : "-");
        }
        return rows;
    };
    w.c().connectedTCPIPDevices.set(many);
    QTRY_VERIFY(w.view.rows().size() > 2);
    w.c().connectedTCPIPDevices.set(many.mid(3));
    QTRY_COMPARE(shown(), endpoints.mid(3));
}

void WindowTest::relaySwitchStartsAndStopsTheEndpoint() {
    Shown w;
    w.c().connectedTCPIPDevices.set({wirelessRow(kA, "Pixel_7")});
    QTRY_VERIFY(w.row(0)->relayControl());
    DeviceBlock* row = w.row(0);
    click(w.relaySwitch(0));
    QVERIFY(waitUntil([&] {
        return w.rig.running(kA) && row->audioLine()->text() == en(TextKey::audioRelayActive) &&
               w.view.statusLabelText() == en(TextKey::audioRelayActive);
    }));
    QVERIFY(w.relaySwitch(0)->isChecked());

    click(w.relaySwitch(0));
    QVERIFY(waitUntil([&] { return !w.c().scrcpyProcesses.contains(kA); }));
    QTRY_COMPARE(row->audioLine()->text(), en(TextKey::ready));
    QVERIFY(!w.relaySwitch(0)->isChecked() && w.c().enabledEndpoints().isEmpty());
    settle();
    QCOMPARE(w.rig.scrcpyRuns().size(), 1);
}

void WindowTest::rowSaysWhyItsRelayIsSilent() {
    Shown w(0.01);  // the reconnect loop tries again every 100 ms
    w.c().connectedTCPIPDevices.set({wirelessRow(kA, "Pixel_7")});
    QTRY_VERIFY(w.row(0)->relayControl());
    DeviceBlock* row = w.row(0);
    const auto showsCause = [&](TextKey cause) {
        return waitUntil([&] {
            return w.shows(row->silenceCauseLine()) && row->silenceCauseText()->text() == en(cause);
        });
    };
    const auto exitsAfter = [&](const QString& lines) {
        w.rig.resources.setScript("scrcpy", "when .*\n" + lines + "exit 1\n");
    };
    // What scrcpy 3.3.4 prints before it exits: for an Android 10 phone, for a computer without
    // sound output, for a locked Android 11 phone (at every try until it is unlocked).
    exitsAfter(
        "err [server] WARN: Audio disabled: it is not supported before Android 11\n"
        "err WARN: Demuxer 'audio': stream explicitly disabled by the device\n");
    click(w.relaySwitch(0));
    QVERIFY(showsCause(TextKey::silentAndroidTooOld));
    exitsAfter("err ERROR: Could not open audio device: ALSA: Couldn't open audio device\n");
    QVERIFY(showsCause(TextKey::silentNoAudioOutput));
    exitsAfter(
        "err [server] ERROR: On Android 11, audio capture must be started in the foreground, make "
        "sure that the device is unlocked when starting scrcpy.\nerr ERROR: Demuxer error\n");
    QVERIFY(showsCause(TextKey::silentPhoneLocked));
    const qsizetype tries = w.rig.scrcpyRuns().size();
    QVERIFY(waitUntil([&] { return w.rig.scrcpyRuns().size() >= tries + 2; }));
    QVERIFY(showsCause(TextKey::silentPhoneLocked));
    w.rig.resources.setScript("scrcpy", kHangingScrcpy);
    QVERIFY(waitUntil([&] { return w.rig.running(kA) && !w.shows(row->silenceCauseLine()); }));

    w.rig.resources.remove("scrcpy-server");
    w.rig.endAllScrcpy();
    QVERIFY(showsCause(TextKey::silentToolMissing));
    // Switched off, the cause goes with the switch.
    click(w.relaySwitch(0));
    QVERIFY(w.c().silenceCauses().isEmpty());
    QTRY_VERIFY(!w.shows(row->silenceCauseLine()));
}

void WindowTest::bufferSliderAppliesOnReleaseOnly() {
    Shown w;
    w.c().connectedTCPIPDevices.set({wirelessRow(kA, "Pixel_7"), wirelessRow(kB, "SM_S918B")});
    QTRY_COMPARE(w.view.rows().size(), 2);
    DeviceRelayControl* control = w.row(0)->relayControl();
    QSlider* slider = control->bufferSlider();
    const auto stored = [&](const QString& ep) {
        return w.c().audioBufferMsByEndpoint().value(ep);
    };

    // A drag shows each step; only the release stores the value (a store restarts a relay).
    slider->setSliderDown(true);
    QList<int> seen;
    for (int position = 16; position <= 18; ++position) {
        slider->setSliderPosition(position);
        seen << w.c().audioBufferMs();
    }
    QCOMPARE(seen, QList<int>({160, 170, 180}));
    QCOMPARE(control->bufferLabel()->text(), "180ms");
    QCOMPARE(stored(kA), 0);
    slider->setSliderDown(false);
    QCOMPARE(stored(kA), 180);
    // Both ends of the range can be chosen.
    QTest::keyClick(slider, Qt::Key_End);
    QCOMPARE(stored(kA), 300);
    QTest::keyClick(slider, Qt::Key_Home);
    QCOMPARE(stored(kA), 100);

    // The other row relays. A press and release on its knob changes nothing; a click on its
    // groove that moves the knob (the middle button here) applies its own value, restarting once.
    w.c().setRelayEnabled(kB, true);
    QVERIFY(waitUntil([&] { return w.rig.running(kB); }));
    QSlider* other = w.row(1)->relayControl()->bufferSlider();
    other->setSliderDown(true);
    other->setSliderDown(false);
    QTest::mouseClick(other, Qt::MiddleButton, {}, QPoint(other->width() - 2, other->height() / 2));
    QVERIFY(other->value() * 10 > 150);
    QVERIFY(waitUntil([&] { return w.rig.scrcpyRuns().size() == 2; }));
    settle();
    QCOMPARE(w.rig.adbCalls().count({"connect", kB}), 2);
    QCOMPARE(w.rig.scrcpyRuns().size(), 2);
    QCOMPARE(w.rig.scrcpyRuns().last().last(), "--audio-buffer=" + QString::number(stored(kB)));
    QCOMPARE(stored(kB), other->value() * 10);
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
    QVERIFY(waitUntil([&] { return posted.load(); }));
    settle();
    QCOMPARE(ran.load(), 0);
    QCOMPARE(ref.read([](ZovAdizuZadiRizov&) { return 1; }), std::nullopt);
}

void WindowTest::cleanUpEndsOurRelaysOnly() {
    RigOptions options;
    options.makeController = false;
    Rig rig(options);
    const QString ours = rig.resources.path("scrcpy");
    // Decoys: a tool whose path begins with ours, a command line that merely contains ours, and
    // another installation's scrcpy.
    rig.resources.installFake("scrcpy-helper", kHangingScrcpy);
    FakeResources other;
    other.installFake("scrcpy", kHangingScrcpy);
    QProcess relay, prefixed, mentions, foreign;
    relay.start(ours, {"-s", kA});
    prefixed.start(ours + "-helper", {});
    mentions.start("/bin/sh", {"-c", "sleep 60; true", ours});
    foreign.start(other.path("scrcpy"), {});
    const auto decoysLive = [&] {
        return prefixed.state() == QProcess::Running && mentions.state() == QProcess::Running &&
               foreign.state() == QProcess::Running;
    };
    QVERIFY(waitUntil([&] { return relay.state() == QProcess::Running && decoysLive(); }));

    // A relay left over from an earlier run ends at start-up, and ours end at quit.
    rig.c = std::make_unique<ZovAdizuZadiRizov>(rig.env.config);
    QVERIFY(waitUntil([&] { return relay.state() == QProcess::NotRunning; }));
    relay.start(ours, {"-s", kA});
    QVERIFY(relay.waitForStarted());
    AppDelegate("/usr/bin/pkill", rig.resources.dir()).applicationWillTerminate();
    QVERIFY(waitUntil([&] { return relay.state() == QProcess::NotRunning; }));
    settle();
    QVERIFY(decoysLive());

    // A clean-up that cannot run is reported to the system log (the application's is gone).
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Failed to cleanup"));
    AppDelegate("/nonexistent/pkill", rig.resources.dir()).applicationWillTerminate();
}

void WindowTest::programQuitsCleanlyOnSignals() {
    int quits = 0;
    {
        QuitOnSignals watcher([&] { ++quits; });
        ::raise(SIGTERM);
        QTRY_COMPARE(quits, 1);
        ::raise(SIGHUP);  // the terminal that started it was closed
        QTRY_COMPARE(quits, 2);
    }

    // The built program, run from a copy whose resources folder is a fake one.
    const QString built = QCoreApplication::applicationDirPath() + "/../bin/sonavel";
    if (!QFileInfo(built).isExecutable()) {
        QSKIP("the program is not built next to the tests");
    }
    FakeResources resources, other;
    resources.installFake("adb", kQuietAdb);
    resources.installFake("scrcpy", kHangingScrcpy);
    other.installFake("scrcpy", kHangingScrcpy);
    QTemporaryDir root, config, runtime;
    const QString program = root.filePath("bin/sonavel");
    QVERIFY(QDir(root.path()).mkpath("bin") && QDir(root.path()).mkpath("share"));
    QVERIFY(QFile::copy(built, program));
    QVERIFY(QFile::link(resources.dir(), root.filePath("share/sonavel")));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", config.path());
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess relay, decoy, app, again;
    relay.start(resources.path("scrcpy"), {});
    decoy.start(other.path("scrcpy"), {});
    QVERIFY(relay.waitForStarted() && decoy.waitForStarted());
    app.setProcessEnvironment(environment);
    app.start(program, {});
    // Its start-up clean-up ends that relay: the program is up, and a new relay is started.
    QVERIFY(waitUntil([&] { return relay.state() == QProcess::NotRunning; }));
    relay.start(resources.path("scrcpy"), {});
    QVERIFY(relay.waitForStarted());

    // A second launch hands over to the running one and leaves, without a clean-up of its own.
    again.setProcessEnvironment(environment);
    again.start(program, {});
    QVERIFY(again.waitForFinished(kWaitMs));
    QVERIFY(again.exitStatus() == QProcess::NormalExit && again.exitCode() == 0);
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
