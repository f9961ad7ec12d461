#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "ui/device_block.h"
#include "ui/glass.h"
#include "ui/main_view.h"
#include "ui/switch_button.h"
#include "ui/symbols.h"
#include "window_rig.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kPhoneA = QStringLiteral("192.168.1.20:5555");
const QString kPhoneB = QStringLiteral("192.168.1.21:5555");

QString en(TextKey key) {
    return text(key, Language::English);
}

// A view over the rig's controller, shown offscreen so that clicks reach it.
struct ShownView {
    explicit ShownView(ZovAdizuZadiRizov* c) : view(c) {
        view.resize(460, 640);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    // Lets the queued redraw run.
    void settle() {
        const int before = view.redrawCount();
        QTRY_VERIFY(view.redrawCount() > before);
    }
    RirAvoruVara view;
};

bool shown(const QWidget* w, const QWidget* root) {
    return w->isVisibleTo(root);
}

void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(4, w->height() / 2));
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void noDeviceShowsSetupGuideAndPlaceholderRow();
    void usbDeviceNotYetWireless();
    void redrawsOncePerTurnAndLooksTextsUpAgain();
    void wirelessEntriesGetOneRowEachAndTapSelects();
    void manyEntriesAllGetTheirRowsAcrossTurns();
    void summaryRowTapReselectsAndRefreshesBattery();
    void relaySwitchStartsAndStopsTheEndpoint();
    void rowSaysWhyItsRelayIsSilent();
    void videoSwitchAndBufferSlider();
    void alertRowStopsTheAlert();
    void statusBarSpringsWhenRunningChanges();
    void glassCardFillsItsWidthWithInsets();
};

void WindowTest::noDeviceShowsSetupGuideAndPlaceholderRow() {
    WindowRig rig;
    ShownView v(rig.c.get());
    RirAvoruVara& view = v.view;
    QCOMPARE(view.statusLabelText(), en(TextKey::unavailable));
    QCOMPARE(view.guideIconName(), QStringLiteral("info.circle"));
    QCOMPARE(view.guideText(), en(TextKey::guideSetup));
    QCOMPARE(view.guideText(), rig.c->connectionGuideText());
    QCOMPARE(view.rows().size(), 1);
    DeviceBlock* row = view.rows().first();
    QCOMPARE(row->nameLabel()->text(), QStringLiteral("Not detected"));
    QVERIFY(!shown(row->batteryGroup(), &view));
    QVERIFY(!shown(row->audioLine(), &view));
    QVERIFY(!shown(row->wirelessLine(), &view));
    QVERIFY(!row->relayControl());
    QVERIFY(!shown(view.alertRow(), &view));
    QCOMPARE(view.hintText(), en(TextKey::perDeviceSettingsHint));
}

void WindowTest::usbDeviceNotYetWireless() {
    WindowRig rig;
    ShownView v(rig.c.get());
    rig.c->isUSBDeviceConnected.set(true);
    v.settle();
    QCOMPARE(v.view.statusLabelText(), QStringLiteral("USB detected"));
    QCOMPARE(v.view.guideIconName(), QStringLiteral("cable.connector"));
    QCOMPARE(v.view.guideText(),
             QStringLiteral("Android detected. Preparing wireless connection."));
    DeviceBlock* row = v.view.rows().first();
    QCOMPARE(row->nameLabel()->text(), QStringLiteral("Detecting Android\u2026"));
    QCOMPARE(row->audioLine()->text(), QStringLiteral("USB detected"));
    QCOMPARE(row->wirelessLine()->text(), QStringLiteral("Preparing wireless connection\u2026"));
    QVERIFY(shown(row->wirelessLine(), &v.view));
}

void WindowTest::redrawsOncePerTurnAndLooksTextsUpAgain() {
    WindowRig rig;
    ShownView v(rig.c.get());
    const int before = v.view.redrawCount();
    rig.c->isUSBDeviceConnected.set(true);
    rig.c->endpoint.set(kPhoneA);
    rig.c->audioBufferMs.set(180);
    QCOMPARE(v.view.redrawCount(), before);  // nothing drawn inside the turn that changed state
    QTRY_COMPARE(v.view.redrawCount(), before + 1);
    QTest::qWait(30);
    QCOMPARE(v.view.redrawCount(), before + 1);

    // The language is read at each redraw: the next change shows Japanese.
    *rig.languages = {QStringLiteral("ja-JP"), QStringLiteral("en-US")};
    rig.c->isUSBDeviceConnected.set(true);
    v.settle();
    QCOMPARE(v.view.statusLabelText(), text(TextKey::usbDetected, Language::Japanese));
    QCOMPARE(v.view.guideText(), text(TextKey::guideAndroidDetected, Language::Japanese));
    QCOMPARE(v.view.hintText(), text(TextKey::perDeviceSettingsHint, Language::Japanese));
}

void WindowTest::wirelessEntriesGetOneRowEachAndTapSelects() {
    WindowRig rig;
    ShownView v(rig.c.get());
    const DiscoveredDevice a = wirelessEntry(kPhoneA, QStringLiteral("Pixel_7"));
    const DiscoveredDevice b = wirelessEntry(kPhoneB, QStringLiteral("SM_S918B"));
    rig.c->batteryLevels.set({{kPhoneA, 85}});
    rig.c->batteryCharging.set({{kPhoneA, true}});
    rig.c->connectedTCPIPDevices.set({a, b});
    v.settle();
    QCOMPARE(v.view.statusLabelText(), QStringLiteral("Ready"));
    QCOMPARE(v.view.guideIconName(), QStringLiteral("checkmark.circle"));
    QCOMPARE(v.view.rows().size(), 2);  // no summary row
    DeviceBlock* rowA = v.view.rows()[0];
    DeviceBlock* rowB = v.view.rows()[1];
    QCOMPARE(rowA->nameLabel()->text(), QStringLiteral("Pixel_7"));
    QCOMPARE(rowA->batteryText()->text(), QStringLiteral("85%"));
    QVERIFY(shown(rowA->boltIcon(), &v.view));
    QCOMPARE(rowA->audioLine()->text(), QStringLiteral("Ready"));
    QCOMPARE(rowA->wirelessLine()->text(), QStringLiteral("Wireless ready"));
    QVERIFY(!shown(rowB->batteryGroup(), &v.view));
    // A very long name is cut short instead of pushing the relay control out of the window.
    rig.c->connectedTCPIPDevices.set({a, wirelessEntry(kPhoneB, QString(200, QLatin1Char('W')))});
    v.settle();
    QVERIFY(rowB->minimumSizeHint().width() < 420 - 48);
    QVERIFY(rowB->relayControl()->geometry().right() <= rowB->width());
    QCOMPARE(rowB->relayControl()->endpoint(), kPhoneB);

    // A click on the row's name (not on a control) is a click on the row.
    click(rowB->nameLabel());
    QCOMPARE(rig.c->selectedDevice()->serial, kPhoneB);
    QCOMPARE(rig.c->endpoint(), kPhoneB);
    QCOMPARE(rig.env.settings()->value(QStringLiteral("endpoint")).toString(), kPhoneB);
    const QStringList battery = {"-s", kPhoneB, "shell", "dumpsys", "battery"};
    QVERIFY(waitUntil([&] { return rig.resources.arguments("adb").contains(battery); }));
    // A click on the switch is the switch's, not the row's.
    rig.c->selectedDevice.set(std::nullopt);
    v.settle();
    click(rowA->relayControl()->videoSwitch());
    QVERIFY(!rig.c->selectedDevice());
}

void WindowTest::manyEntriesAllGetTheirRowsAcrossTurns() {
    WindowRig rig;
    ShownView v(rig.c.get());
    const auto entries = [](int count, const QString& prefix) {
        QVector<DiscoveredDevice> list;
        for (int i = 0; i < count; ++i) {
            list << wirelessEntry(QStringLiteral("192.168.1.%1:5555").arg(30 + i),
                                  prefix + QString::number(i));
        }
        return list;
    };
    const auto rowsShow = [&](const QVector<DiscoveredDevice>& list) {
        const QVector<DeviceBlock*> rows = v.view.rows();
        if (rows.size() != list.size()) {
            return false;
        }
        for (int i = 0; i < rows.size(); ++i) {
            if (rows[i]->nameLabel()->text() != list[i].name ||
                rows[i]->relayControl()->endpoint() != *list[i].ip) {
                return false;
            }
        }
        return true;
    };
    // A list that changes while its rows are still being added ends with the newer list's rows.
    rig.c->connectedTCPIPDevices.set(entries(12, QStringLiteral("Old_")));
    v.settle();
    const QVector<DiscoveredDevice> newer = entries(9, QStringLiteral("New_"));
    rig.c->connectedTCPIPDevices.set(newer);
    QTRY_VERIFY(rowsShow(newer));
    rig.c->connectedTCPIPDevices.set(newer.mid(0, 2));
    v.settle();
    QVERIFY(rowsShow(newer.mid(0, 2)));
}

void WindowTest::summaryRowTapReselectsAndRefreshesBattery() {
    WindowRig rig;
    ShownView v(rig.c.get());
    rig.c->selectedDevice.set(wirelessEntry(kPhoneA, QStringLiteral("Pixel_7")));
    rig.c->batteryLevel.set(40);
    rig.c->batteryCharging.set({{kPhoneA, true}});
    v.settle();
    DeviceBlock* row = v.view.rows().first();
    QCOMPARE(row->nameLabel()->text(), QStringLiteral("Pixel_7"));
    QCOMPARE(row->batteryText()->text(), QStringLiteral("40%"));
    QVERIFY(!shown(row->boltIcon(), &v.view));  // never on the summary row
    QCOMPARE(row->relayControl()->endpoint(), kPhoneA);

    QSignalSpy changes(rig.c.get(), &ZovAdizuZadiRizov::willChange);
    click(row->nameLabel());
    QVERIFY(changes.count() >= 1);
    QCOMPARE(rig.c->endpoint(), kPhoneA);
    QCOMPARE(rig.env.settings()->value(QStringLiteral("endpoint")).toString(), kPhoneA);
    const QStringList battery = {"-s", kPhoneA, "shell", "dumpsys", "battery"};
    QVERIFY(waitUntil([&] { return rig.resources.arguments("adb").contains(battery); }));
}

void WindowTest::relaySwitchStartsAndStopsTheEndpoint() {
    WindowRig rig;
    ShownView v(rig.c.get());
    rig.c->connectedTCPIPDevices.set({wirelessEntry(kPhoneA, QStringLiteral("Pixel_7"))});
    v.settle();
    DeviceBlock* row = v.view.rows().first();
    SwitchButton* relay = row->relayControl()->relaySwitch();
    QVERIFY(!relay->isChecked());

    click(relay);
    QVERIFY(waitUntil([&] {
        return rig.c->scrcpyActive() && row->audioLine()->text() == en(TextKey::audioRelayActive);
    }));
    // The fake writes its journal just after it starts; the controller may see it running first.
    QVERIFY(waitUntil([&] { return rig.resources.arguments("scrcpy").size() == 1; }));
    QTRY_COMPARE(v.view.statusLabelText(), en(TextKey::audioRelayActive));
    QCOMPARE(v.view.guideIconName(), QStringLiteral("waveform"));
    QVERIFY(relay->isChecked());
    QCOMPARE(row->wirelessLine()->text(), QStringLiteral("Ready"));
    QCOMPARE(row->audioLine()->palette().color(QPalette::WindowText).green(), 167);

    click(relay);
    QVERIFY(waitUntil([&] { return !rig.c->enabledEndpoints().contains(kPhoneA); }));
    QTRY_VERIFY(!relay->isChecked());
    QTRY_COMPARE(row->audioLine()->text(), QStringLiteral("Ready"));
}

void WindowTest::rowSaysWhyItsRelayIsSilent() {
    // Flow time a hundred times faster: the reconnect loop tries again every 100 ms.
    RelayRig rig(kHangingScrcpy, "when connect .*\nout connected to " + kPhoneA + "\n", 0.01);
    ShownView v(rig.c.get());
    rig.c->connectedTCPIPDevices.set({wirelessEntry(kPhoneA, QStringLiteral("Pixel_7"))});
    v.settle();
    DeviceBlock* row = v.view.rows().first();
    SwitchButton* relay = row->relayControl()->relaySwitch();
    const auto showsCause = [&](TextKey wording) {
        return shown(row->silenceCauseLine(), &v.view) &&
               row->silenceCauseText()->text() == en(wording);
    };
    const auto printsAndExits = [](const QString& lines) {
        return QStringLiteral("when .*\n") + lines + QStringLiteral("exit 1\n");
    };

    // What scrcpy 3.3.4 prints before it exits, for an Android 10 phone and for a computer
    // without sound output.
    rig.resources.setScript(
        "scrcpy",
        printsAndExits("out [server] INFO: Device: [HUAWEI] HONOR HLK-AL00 (Android 10)\n"
                       "err [server] WARN: Audio disabled: it is not supported before Android 11\n"
                       "err WARN: Demuxer 'audio': stream explicitly disabled by the device\n"
                       "err ERROR: Demuxer error\n"));
    click(relay);
    QVERIFY(waitUntil([&] { return showsCause(TextKey::silentAndroidTooOld); }));
    rig.resources.setScript(
        "scrcpy",
        printsAndExits("err ERROR: Could not open audio device: ALSA: Couldn't open audio "
                       "device: No such file or directory\n"));
    QVERIFY(waitUntil([&] { return showsCause(TextKey::silentNoAudioOutput); }));
    rig.resources.remove("scrcpy-server");
    QVERIFY(waitUntil([&] { return showsCause(TextKey::silentToolMissing); }));
    // Switched off, the cause goes with the switch.
    click(relay);
    QVERIFY(!rig.c->silenceCauses().contains(kPhoneA));
    QTRY_VERIFY(!shown(row->silenceCauseLine(), &v.view));

    // A locked Android 11 phone: the line at every try, until the phone is unlocked.
    rig.resources.writeFile("scrcpy-server", QByteArray("jar"), false);
    rig.resources.setScript(
        "scrcpy", printsAndExits("err [server] ERROR: On Android 11, audio capture must be started "
                                 "in the foreground, make sure that the device is unlocked when "
                                 "starting scrcpy.\nerr ERROR: Demuxer error\n"));
    const qsizetype before = rig.scrcpyRuns().size();
    click(relay);
    QVERIFY(waitUntil([&] {
        return rig.scrcpyRuns().size() >= before + 2 && showsCause(TextKey::silentPhoneLocked);
    }));
    rig.resources.setScript("scrcpy", kHangingScrcpy);
    QVERIFY(waitUntil([&] {
        return rig.running(kPhoneA) && !shown(row->silenceCauseLine(), &v.view) &&
               row->audioLine()->text() == en(TextKey::audioRelayActive);
    }));
}

void WindowTest::videoSwitchAndBufferSlider() {
    WindowRig rig;
    ShownView v(rig.c.get());
    rig.c->connectedTCPIPDevices.set({wirelessEntry(kPhoneA, QStringLiteral("Pixel_7")),
                                      wirelessEntry(kPhoneB, QStringLiteral("SM_S918B"))});
    v.settle();
    DeviceRelayControl* control = v.view.rows().first()->relayControl();
    QCOMPARE(control->width(), DeviceRelayControl::kWidth);
    QCOMPARE(control->videoSwitch()->text(), QStringLiteral("Video"));

    click(control->videoSwitch());
    QCOMPARE(rig.c->videoEnabledByEndpoint().value(kPhoneA), true);
    v.settle();
    QVERIFY(control->videoSwitch()->isChecked());

    // An unset buffer shows 150; dragging to 220 writes each step, releasing stores 220 once.
    QCOMPARE(control->bufferLabel()->text(), QStringLiteral("150ms"));
    QSlider* slider = control->bufferSlider();
    slider->setSliderDown(true);
    QList<int> seen;
    for (int position = 16; position <= 22; ++position) {
        slider->setSliderPosition(position);
        seen << rig.c->audioBufferMs();
    }
    QCOMPARE(seen, QList<int>({160, 170, 180, 190, 200, 210, 220}));
    QVERIFY(!rig.c->audioBufferMsByEndpoint().contains(kPhoneA));
    QCOMPARE(control->bufferLabel()->text(), QStringLiteral("220ms"));
    slider->setSliderDown(false);
    QCOMPARE(rig.c->audioBufferMsByEndpoint().value(kPhoneA), 220);
    v.settle();
    QCOMPARE(control->bufferLabel()->text(), QStringLiteral("220ms"));
    QCOMPARE(slider->value() * 10, 220);

    // The other row relays. A press and release on its knob changes nothing; a click on its
    // groove that moves the knob (the middle button here) applies its own value, restarting once.
    rig.c->setRelayEnabled(kPhoneB, true);
    const auto connects = [&] {
        return rig.resources.arguments("adb").count({QStringLiteral("connect"), kPhoneB});
    };
    QVERIFY(waitUntil([&] { return rig.c->scrcpyActive() && connects() == 1; }));
    QSlider* other = v.view.rows()[1]->relayControl()->bufferSlider();
    other->setSliderDown(true);
    other->setSliderDown(false);
    QTest::mouseClick(other, Qt::MiddleButton, {}, QPoint(other->width() - 2, other->height() / 2));
    const int chosen = other->value() * 10;
    QVERIFY(chosen > 150);
    QVERIFY(waitUntil([&] { return rig.resources.arguments("scrcpy").size() == 2; }));
    QTest::qWait(100);
    QCOMPARE(connects(), 2);
    QCOMPARE(rig.resources.arguments("scrcpy").last().last(),
             QStringLiteral("--audio-buffer=") + QString::number(chosen));
    QCOMPARE(rig.c->audioBufferMsByEndpoint(),
             (QMap<QString, int>{{kPhoneA, 220}, {kPhoneB, chosen}}));
}

void WindowTest::alertRowStopsTheAlert() {
    WindowRig rig;
    ShownView v(rig.c.get());
    rig.c->isAlertPlaying.set(true);
    v.settle();
    QVERIFY(shown(v.view.alertRow(), &v.view));
    QCOMPARE(v.view.stopAlertButton()->text(), QStringLiteral("Stop Alert"));
    QTest::mouseClick(v.view.stopAlertButton(), Qt::LeftButton);
    QVERIFY(!rig.c->isAlertPlaying());
    QVERIFY(rig.c->alertSuppressed);
    QVERIFY(waitForLog(*rig.c, "[BatteryAlert] Stopped alert sound (userInitiated=true)"));
    QTRY_VERIFY(!shown(v.view.alertRow(), &v.view));
}

void WindowTest::statusBarSpringsWhenRunningChanges() {
    WindowRig rig;
    ShownView v(rig.c.get());
    rig.c->isUSBDeviceConnected.set(true);
    v.settle();
    QVERIFY(!v.view.statusLabel()->isAnimating());
    rig.c->isRunning.set(true);
    v.settle();
    QCOMPARE(v.view.statusLabelText(), en(TextKey::connecting));
    QVERIFY(v.view.statusLabel()->isAnimating());
    QTRY_VERIFY(!v.view.statusLabel()->isAnimating());
}

void WindowTest::glassCardFillsItsWidthWithInsets() {
    QWidget container;
    auto* layout = new QVBoxLayout(&container);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("Hi"));
    auto* card = new GlassCard(20, label);
    layout->addWidget(card);
    layout->addStretch();
    container.resize(400, 300);
    container.show();
    QVERIFY(QTest::qWaitForWindowExposed(&container));
    QCOMPARE(card->width(), 400);
    QCOMPARE(label->geometry().topLeft(), QPoint(18, 14));
    QCOMPARE(card->height(), label->height() + 28);
    QCOMPARE(card->cornerRadius(), 20.0);
    // The hairline border is drawn inside: the card's size is its content plus the insets only.
    QCOMPARE(card->sizeHint().height(), label->sizeHint().height() + 28);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
