#include <signal.h>

#include <QAccessible>
#include <QMenuBar>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <thread>

#include "app/app_delegate.h"
#include "app/application.h"
#include "app/root_view.h"
#include "app/single_instance.h"
#include "support/rig.h"
#include "ui/device_block.h"
#include "ui/glass.h"
#include "ui/main_view.h"
#include "ui/switch_button.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kA = "192.168.1.20:5555";
const QString kB = "192.168.1.21:5555";

// A shown window over the rig's controller once start-up's USB check is over. Flow time stands
// still unless a case waits for it to pass, so the state a test sets stays.
struct Shown {
    explicit Shown(double scale = kFrozenTime, QStringList languages = {"en-US"})
        : rig({.adb = "when connect .*\nout connected to 192.168.1.20:5555\n",
               .scale = scale,
               .languages = std::move(languages)}),
          view(rig.c.get()) {
        QVERIFY(rig.waitForLog("[USBCheck] USB connected: false serial: nil state: "));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    void listPhones(const QVector<DiscoveredDevice>& phones) {
        c().connectedTCPIPDevices.set(phones);
        QTRY_VERIFY(view.rows().size() == phones.size() && control(0));
    }
    bool shows(const QWidget* w) const { return w->isVisibleTo(&view); }
    DeviceBlock* row(int i) const { return view.rows().value(i); }
    DeviceRelayControl* control(int i) const { return row(i)->relayControl(); }
    ZovAdizuZadiRizov& c() { return *rig.c; }
    Rig rig;
    RirAvoruVara view;
};

QString accessible(QWidget* w, QAccessible::Text what = QAccessible::Name) {
    return QAccessible::queryAccessibleInterface(w)->text(what);
}

// A dark scheme as macOS Dark Mode or a dark desktop theme gives it.
QPalette darkPalette() {
    QPalette p;
    for (const auto& [role, color] : {std::pair{QPalette::Window, QColor(30, 30, 32)},
                                      {QPalette::WindowText, QColor(236, 236, 236)},
                                      {QPalette::Base, QColor(24, 24, 26)},
                                      {QPalette::Text, QColor(236, 236, 236)},
                                      {QPalette::Button, QColor(52, 52, 56)},
                                      {QPalette::ButtonText, QColor(236, 236, 236)},
                                      {QPalette::Highlight, QColor(10, 132, 255)}}) {
        p.setColor(role, color);
    }
    return p;
}

// Every text the view draws whose contrast with what is behind it is below WCAG's 4.5:1. Behind a
// text: the view's background at either end, or an ancestor that fills its own, with the cards
// and buttons it sits in laid over it.
QStringList illegibleTexts(const RirAvoruVara& view) {
    QStringList found;
    for (QWidget* w : view.findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            text = button->text();
        } else if (auto* spring = qobject_cast<SpringLabel*>(w)) {
            text = spring->text();
        }
        if (text.isEmpty() || !w->isVisibleTo(&view)) {
            continue;
        }
        QList<QColor> behind = view.backgroundColors();
        QList<QColor> layers;
        for (QWidget* a = w; a != &view; a = a->parentWidget()) {
            if (auto* card = qobject_cast<GlassCard*>(a)) {
                layers.prepend(card->fillColor());
            } else if (qobject_cast<GlassButton*>(a)) {
                layers.prepend(a->palette().color(QPalette::Button));
            }
            if (a->autoFillBackground()) {
                behind = {a->palette().color(a->backgroundRole())};
                break;
            }
        }
        for (const QColor& layer : layers) {
            for (QColor& color : behind) {
                color = compositeOver(layer, color);
            }
        }
        for (const QColor& background : behind) {
            const double ratio = contrastRatio(w->palette().color(w->foregroundRole()), background);
            if (ratio < kMinimumTextContrast) {
                found << QStringLiteral("%1 (%2:1)").arg(text.left(30)).arg(ratio, 0, 'f', 2);
            }
        }
    }
    return found;
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void noDeviceShowsTheGuideInTheUsersLanguage() {
        Shown w(kFrozenTime, {"ja-JP", "en-US"});
        const auto ja = [](TextKey key) { return text(key, Language::Japanese); };
        QCOMPARE(w.view.guideText(), ja(TextKey::guideSetup));
        QCOMPARE(w.view.statusLabelText(), ja(TextKey::unavailable));
        // One placeholder row, with nothing to switch.
        QVERIFY(w.view.rows().size() == 1 && !w.control(0));
        QCOMPARE(w.row(0)->nameLabel()->text(), ja(TextKey::notDetected));

        w.c().isAlertPlaying.set(true);
        QTRY_VERIFY(w.shows(w.view.alertRow()));
        QTest::mouseClick(w.view.stopAlertButton(), Qt::LeftButton);
        QVERIFY(!w.c().isAlertPlaying());
        QTRY_VERIFY(!w.shows(w.view.alertRow()));

        // Only the first preferred language counts, and it is looked up at each redraw.
        *w.rig.languages = {"en-US", "ja-JP"};
        w.c().notifyWillChange();
        QTRY_COMPARE(w.view.guideText(), en(TextKey::guideSetup));

        // A tool missing from the resources: the guide names it and says what to do.
        w.rig.resources.remove("adb");
        w.rig.resources.remove("scrcpy-server");
        w.c().notifyWillChange();
        QTRY_COMPARE(w.view.guideText(), en(TextKey::guideToolsMissing).arg("adb, scrcpy-server"));
        QCOMPARE(w.view.guideIconName(), "exclamationmark.triangle.fill");
    }

    void wirelessRowsGetOneRowEachAndATapSelects() {
        Shown w;
        w.c().batteryLevels.set({{kA, 85}});
        w.listPhones({wirelessRow(kA, "Pixel_7"), wirelessRow(kB)});  // no summary row
        QCOMPARE(w.row(0)->nameLabel()->text(), "Pixel_7");
        QCOMPARE(w.row(0)->batteryText()->text(), "85%");
        QCOMPARE(w.control(1)->endpoint(), kB);

        // A click on the row's name is a click on the row; one on a switch is the switch's.
        click(w.row(1)->nameLabel());
        QCOMPARE(w.rig.env.settings()->value("endpoint").toString(), kB);
        const QStringList battery = {"-s", kB, "shell", "dumpsys", "battery"};
        QVERIFY(waitUntil([&] { return w.rig.adbCalls().contains(battery); }));
        click(w.control(0)->videoSwitch());
        QVERIFY(w.c().endpoint() == kB && w.c().videoEnabledByEndpoint().value(kA));
    }

    void manyPhonesGetTheirRowsInOrderOverSeveralTurns() {
        Shown w;
        QVector<DiscoveredDevice> phones;
        for (int i = 0; i < 9; ++i) {
            phones << wirelessRow(QStringLiteral("192.168.1.%1:5555").arg(40 + i),
                                  QStringLiteral("Phone_%1").arg(i));
        }
        w.c().connectedTCPIPDevices.set(phones);
        // One delivery of what is posted builds a row, not the whole list.
        QCoreApplication::sendPostedEvents();
        QVERIFY(!w.view.rows().isEmpty() && w.view.rows().size() < phones.size());
        // The list changes while its rows are still being built: one phone leaves, one comes.
        phones.remove(2);
        phones.prepend(wirelessRow(kB, "Pixel_8"));
        w.c().connectedTCPIPDevices.set(phones);
        QTRY_COMPARE(w.view.rows().size(), phones.size());
        for (int i = 0; i < phones.size(); ++i) {
            QCOMPARE(w.row(i)->nameLabel()->text(), phones[i].name);
            QCOMPARE(w.control(i)->endpoint(), phones[i].serial);
        }
        // Down the window in the same order.
        QTRY_VERIFY(w.row(phones.size() - 1)->y() > w.row(phones.size() - 2)->y());
        for (int i = 1; i < phones.size(); ++i) {
            QVERIFY(w.row(i)->y() > w.row(i - 1)->y());
        }
    }

    void rowSaysWhyItsRelayIsSilent() {
        Shown w(kVirtualTime);  // the reconnect loop tries again as the test waits
        w.listPhones({wirelessRow(kA)});
        const auto showsCause = [&](TextKey cause) {
            return w.shows(w.row(0)->silenceCauseLine()) &&
                   w.row(0)->silenceCauseText()->text() == en(cause);
        };
        // What scrcpy 3.3.4 prints before it exits for a locked Android 11 phone: the cause shows
        // at every try, until the phone is unlocked.
        w.rig.resources.setScript(
            "scrcpy",
            "when .*\nerr [server] ERROR: On Android 11, audio capture must be started in the "
            "foreground, make sure that the device is unlocked when starting scrcpy.\nexit 1\n");
        click(w.control(0)->relaySwitch());
        QVERIFY(waitUntil([&] {
            return w.rig.scrcpyRuns().size() >= 3 && showsCause(TextKey::silentPhoneLocked);
        }));
        w.rig.resources.setScript("scrcpy", kHangingScrcpy);
        QVERIFY(
            waitUntil([&] { return w.rig.running(kA) && !w.shows(w.row(0)->silenceCauseLine()); }));
        // Without its server the relay cannot start; switched off, the cause goes with the switch.
        w.rig.resources.remove("scrcpy-server");
        w.rig.endAllScrcpy();
        QVERIFY(waitUntil([&] { return showsCause(TextKey::silentToolMissing); }));
        click(w.control(0)->relaySwitch());
        const int drawn = w.view.redrawCount();
        w.c().silenceCauses.set({{kA, SilenceCause::PhoneLocked}});  // even one still recorded
        QTRY_VERIFY(w.view.redrawCount() > drawn);
        QVERIFY(!w.shows(w.row(0)->silenceCauseLine()));
    }

    void relaySwitchAndBufferSlider() {
        Shown w;
        w.listPhones({wirelessRow(kA), wirelessRow(kB)});
        QSlider* slider = w.control(0)->bufferSlider();
        const auto stored = [&](const QString& ep) {
            return w.c().audioBufferMsByEndpoint().value(ep);
        };
        // A drag shows its value at once; only the release stores it (a store restarts a relay).
        slider->setSliderDown(true);
        slider->setSliderPosition(183);
        QVERIFY(w.c().audioBufferMs() == 180 && w.control(0)->bufferLabel()->text() == "180ms");
        QCOMPARE(stored(kA), 0);
        slider->setSliderDown(false);
        QCOMPARE(stored(kA), 180);

        // In a window too small for its rows, the wheel over a slider scrolls the list.
        w.view.resize(RootView::kMinimumWidth, 200);
        QScrollBar* scroll = w.view.findChild<QScrollArea*>()->verticalScrollBar();
        QTRY_VERIFY(scroll->maximum() > 0);
        QWheelEvent notch(QPointF(60, 5), slider->mapToGlobal(QPointF(60, 5)), {}, {0, -120},
                          Qt::NoButton, {}, Qt::NoScrollPhase, false);
        // As from the mouse (sendEvent would make it synthetic): Qt passes it on when ignored.
        QSpontaneKeyEvent::setSpontaneous(&notch);
        const int before = slider->value();
        qApp->notify(slider, &notch);
        QVERIFY(scroll->value() > 0 && slider->value() == before);

        // Its switch starts the other row's relay. A press and release on that row's knob changes
        // nothing; the top of the range applies, restarting the relay once.
        click(w.control(1)->relaySwitch());
        // The fake notes its run only once it is running: ended sooner, it would not count.
        QVERIFY(waitUntil([&] {
            return w.rig.running(kB) && w.rig.scrcpyRuns().size() == 1 &&
                   w.row(1)->audioLine()->text() == en(TextKey::audioRelayActive) &&
                   w.view.statusLabelText() == en(TextKey::audioRelayActive);
        }));
        QSlider* other = w.control(1)->bufferSlider();
        other->setSliderDown(true);
        other->setSliderDown(false);
        // Steps by keys show at once and are applied once, when the hand rests.
        for (const auto key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_End}) {
            QTest::keyClick(other, key);
        }
        QVERIFY(w.control(1)->bufferLabel()->text() == "300ms" && stored(kB) == 0);
        QVERIFY(w.control(1)->bufferChangePending());
        w.control(1)->applyPendingBuffer();
        QVERIFY(waitUntil([&] { return w.rig.scrcpyRuns().size() == 2; }));
        settle();
        QVERIFY(w.rig.adbCalls().count({"connect", kB}) == 2 && w.rig.scrcpyRuns().size() == 2);
        QVERIFY(stored(kB) == 300 && w.rig.scrcpyRuns().last().last() == "--audio-buffer=300");

        // Switched off, the relay ends and stays ended.
        click(w.control(1)->relaySwitch());
        QVERIFY(waitUntil([&] { return !w.c().scrcpyProcesses.contains(kB); }));
        QTRY_COMPARE(w.row(1)->audioLine()->text(), en(TextKey::ready));
        QVERIFY(!w.control(1)->relaySwitch()->isChecked() && w.c().enabledEndpoints().isEmpty());
        settle();
        QCOMPARE(w.rig.scrcpyRuns().size(), 2);
        QTest::keyClick(other, Qt::Key_Left);  // left waiting: applied as the window goes
    }

    void textsStayLegibleInLightAndDark() {
        Shown w;
        w.listPhones({wirelessRow(kA, "Pixel_7"), wirelessRow(kB, "SM_S918B")});
        w.c().batteryLevels.set({{kA, 85}, {kB, 2}});
        w.c().batteryCharging.set({{kA, true}});
        w.c().isAlertPlaying.set(true);
        click(w.control(1)->relaySwitch());
        QVERIFY(waitUntil([&] { return w.rig.running(kB); }));
        w.c().silenceCauses.set({{kB, SilenceCause::NoAudioOutput}});
        QTRY_VERIFY(w.shows(w.row(1)->silenceCauseLine()) && w.shows(w.view.alertRow()));
        QCOMPARE(w.row(1)->audioLine()->text(), en(TextKey::audioRelayActive));

        QVERIFY2(illegibleTexts(w.view).isEmpty(), qPrintable(illegibleTexts(w.view).join("; ")));
        w.view.setPalette(darkPalette());
        QVERIFY(w.view.backgroundColors().first().lightnessF() < 0.2);
        QVERIFY2(illegibleTexts(w.view).isEmpty(), qPrintable(illegibleTexts(w.view).join("; ")));
    }

    void keyboardAndScreenReaders() {
        Shown w(1.0, {"ja-JP"});
        const auto ja = [](TextKey key) { return text(key, Language::Japanese); };
        const QString longName = "Galaxy_S23_Ultra_Enterprise_Edition";
        w.c().batteryLevels.set({{kA, 85}});
        w.c().batteryCharging.set({{kA, true}});
        w.c().isAlertPlaying.set(true);
        w.listPhones({wirelessRow(kA, "Pixel_7"), wirelessRow(kB, longName)});
        w.view.resize(RootView::kMinimumWidth, RootView::kMinimumHeight);

        // Each control is named for its phone, in the window's language, and so is each row.
        QCOMPARE(accessible(w.control(0)->relaySwitch()),
                 ja(TextKey::relaySwitchName).arg("Pixel_7"));
        QCOMPARE(accessible(w.control(0)->videoSwitch()),
                 ja(TextKey::videoSwitchName).arg("Pixel_7"));
        QCOMPARE(accessible(w.control(0)->bufferSlider()),
                 "Pixel_7のオーディオバッファ、150ミリ秒");
        QCOMPARE(QAccessible::queryAccessibleInterface(w.control(0)->bufferSlider())
                     ->valueInterface()
                     ->currentValue(),
                 150);
        QCOMPARE(accessible(w.view.statusLabel()), ja(TextKey::readyToConnect));
        QCOMPARE(accessible(w.row(0)), "Pixel_7");
        QCOMPARE(accessible(w.row(0), QAccessible::Description),
                 "バッテリー85%、充電中、接続準備完了、ワイヤレス接続OK");
        // A name cut short in the row is whole for the pointer and the screen reader.
        QTRY_COMPARE(w.row(1)->nameLabel()->toolTip(), longName);
        QCOMPARE(accessible(w.row(1)), longName);

        // Tab reaches every control, down the window, with a ring on each; Space selects a row.
        QList<QWidget*> expected;
        for (int i = 0; i < 2; ++i) {
            expected << w.row(i) << w.control(i)->relaySwitch() << w.control(i)->videoSwitch()
                     << w.control(i)->bufferSlider();
        }
        expected << w.view.stopAlertButton();
        w.view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.view));
        QApplication::focusWidget()->clearFocus();
        QList<QImage> unfocused;
        for (QWidget* control : expected) {
            unfocused << control->grab().toImage();
        }
        w.row(0)->setFocus(Qt::TabFocusReason);
        QList<QWidget*> reached;
        for (const QImage& before : unfocused) {
            QWidget* focused = QApplication::focusWidget();
            reached << focused;
            QVERIFY2(focused->grab().toImage() != before, "no focus ring");
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(reached, expected);
        QTest::keyClick(w.row(1), Qt::Key_Space);
        QCOMPARE(w.c().endpoint(), kB);
    }

    void menusFollowThePlatform() {
        Rig rig({.scale = kFrozenTime, .makeController = false});
        QStringList opened;
        rig.resources.writeFile("RARER_IDAZARI.txt", "Sonavel", false);
        RootView window(rig.env.config, [&](const QString& path) { opened << path; });
        Rig::settleStartup(*window.controller());
        // Linux: Quit under File with the platform's key, About and the licences under Help.
        QCOMPARE(window.quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        const QList<QAction*> menus = window.menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[1]->text(), en(TextKey::helpMenuTitle));
        QVERIFY(menus[1]->menu()->actions().contains(window.licensesAction()));
        window.aboutAction()->trigger();
        QCOMPARE(opened, QStringList{rig.resources.path("RARER_IDAZARI.txt")});
    }

    void observersToldFirstAndWorkFindsTheControllerGone() {
        TestEnvironment env(nullptr);
        auto c = std::make_unique<ZovAdizuZadiRizov>(env.config);
        QList<bool> seen;
        connect(c.get(), &ZovAdizuZadiRizov::willChange, this, [&] { seen << c->isRunning(); });
        c->isRunning.set(true);
        QCOMPARE(seen, QList<bool>{false});

        // Queued before the controller goes, run after: nothing happens.
        const ControllerRef ref = c->ref();
        std::atomic<int> ran{0};
        dispatchAfter(QoS::UserInitiated, std::chrono::milliseconds(50), [ref, &ran] {
            ref.runInBackground(QoS::UserInitiated, [&ran](const ControllerRef&) { ++ran; });
            ref.post([&ran](ZovAdizuZadiRizov&) { ++ran; });
            ran += 100;
        });
        c.reset();
        QVERIFY(waitUntil([&] { return ran >= 100; }));
        settle();
        QCOMPARE(ran.load(), 100);
        QCOMPARE(ref.read([](ZovAdizuZadiRizov&) { return 1; }), std::nullopt);
    }

    void cleanUpEndsOurRelaysOnly() {
        RigOptions options;
        options.makeController = false;
        Rig rig(options);
        const QString ours = rig.resources.path("scrcpy");
        // Decoys: a tool whose path begins with ours, and a command line that merely contains ours.
        rig.resources.installFake("scrcpy-helper", kHangingScrcpy);
        QProcess relay, prefixed, mentions;
        relay.start(ours, {"-s", kA});
        prefixed.start(ours + "-helper", {});
        mentions.start("/bin/sh", {"-c", "sleep 60; true", ours});
        const auto decoysLive = [&] {
            return prefixed.state() == QProcess::Running && mentions.state() == QProcess::Running;
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
    }

    void quitSignalsQuitTheProgram() {
        int quits = 0;
        QuitOnSignals watcher([&] { ++quits; });
        ::raise(SIGTERM);
        QTRY_COMPARE(quits, 1);
        ::raise(SIGHUP);  // the terminal that started it was closed
        QTRY_COMPARE(quits, 2);
    }

    void secondLaunchHandsOverAndACrashedRunsLockIsTakenOver() {
        QTemporaryDir runtime;
        const QByteArray before = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", before); });
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        // A crashed run left its lock and socket file; its process (no pid is this high) is gone.
        QFile lock(runtime.filePath("sonavel.lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write("2147483647\nsonavel\n\n") > 0);
        lock.close();
        QVERIFY(QFile(runtime.filePath("sonavel.socket")).open(QIODevice::WriteOnly));

        SingleInstance first, second;
        QSignalSpy asked(&first, &SingleInstance::activationRequested);
        QVERIFY(first.claim() && !second.claim());
        // The hand-over blocks until answered; the running one answers from this thread's loop.
        std::atomic<int> handed{-1};
        std::thread launch([&] { handed = second.handOver(); });
        waitUntil([&] { return handed >= 0; });
        launch.join();
        QVERIFY(handed == 1 && asked.size() == 1);
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
