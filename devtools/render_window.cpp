// Renders the window in its main states, in English and Japanese, to PNG files for review:
// render_window <output folder>. The controller runs over fake tools; each state is set directly.
#include <QApplication>
#include <QDir>
#include <QTest>
#include <cstdio>

#include "app/root_view.h"
#include "support/rig.h"
#include "ui/main_view.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kPhoneA = QStringLiteral("192.168.1.20:5555");
const QString kPhoneB = QStringLiteral("192.168.1.21:5555");

const QMap<QString, SilenceCause> kSilenceCauses{
    {QStringLiteral("silent-android-10"), SilenceCause::AndroidTooOld},
    {QStringLiteral("silent-locked"), SilenceCause::PhoneLocked},
    {QStringLiteral("silent-no-output"), SilenceCause::NoAudioOutput},
    {QStringLiteral("silent-tool-missing"), SilenceCause::ToolMissing},
};

void setState(ZovAdizuZadiRizov& c, const QString& state) {
    const DiscoveredDevice pixel = wirelessRow(kPhoneA, QStringLiteral("Pixel_7"));
    if (state == QStringLiteral("usb-detected")) {
        c.isUSBDeviceConnected.set(true);
    } else if (state == QStringLiteral("wireless-ready")) {
        c.isUSBDeviceConnected.set(true);
        c.connectedTCPIPDevices.set({pixel});
        c.batteryLevels.set({{kPhoneA, 64}});
    } else if (state == QStringLiteral("two-phones-relaying")) {
        c.connectedTCPIPDevices.set({pixel, wirelessRow(kPhoneB, QStringLiteral("SM_S918B"))});
        c.setRelayEnabled(kPhoneA, true);
        waitUntil([&] { return c.scrcpyActive(); });
        c.batteryLevels.set({{kPhoneA, 85}, {kPhoneB, 42}});
        c.batteryCharging.set({{kPhoneA, true}});
    } else if (kSilenceCauses.contains(state)) {
        // The switch on, the relay silent: the state alone, nothing started.
        c.connectedTCPIPDevices.set({pixel});
        c.batteryLevels.set({{kPhoneA, 64}});
        c.enabledEndpoints.set({kPhoneA});
        c.silenceCauses.set({{kPhoneA, kSilenceCauses.value(state)}});
    } else if (state == QStringLiteral("alert-playing")) {
        c.connectedTCPIPDevices.set({pixel});
        c.batteryLevels.set({{kPhoneA, 2}});
        c.isAlertPlaying.set(true);
        c.batteryAlert.set(BatteryAlertCondition{BatteryAlertKind::Low, kPhoneA, 2});
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2 || !QDir().mkpath(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: render_window <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QStringList states = {QStringLiteral("no-device"), QStringLiteral("usb-detected"),
                          QStringLiteral("wireless-ready"), QStringLiteral("two-phones-relaying"),
                          QStringLiteral("alert-playing")};
    states += kSilenceCauses.keys();
    for (const QString& language : {QStringLiteral("en"), QStringLiteral("ja")}) {
        for (const QString& state : states) {
            RigOptions options;
            options.adb = QStringLiteral("when connect .*\nout connected to ") + kPhoneA + "\n";
            options.scale = 1.0;  // the repeating checks stay away from the state set here
            options.languages = {language};
            options.makeController = false;
            Rig rig(options);
            RootView window(rig.env.config, [](const QString&) {});
            ZovAdizuZadiRizov& c = *window.controller();
            waitForLog(c, QStringLiteral("[Startup] Cleaned existing scrcpy processes"));
            window.show();
            if (!QTest::qWaitForWindowExposed(&window)) {
                return 1;
            }
            setState(c, state);
            QTest::qWait(50);
            waitUntil([&] { return !window.mainView()->statusLabel()->isAnimating(); });
            const QString file = out.filePath(state + QLatin1Char('-') + language + ".png");
            if (!window.grab().save(file)) {
                std::fprintf(stderr, "could not write %s\n", qPrintable(file));
                return 1;
            }
            std::printf("%s\n", qPrintable(file));
        }
    }
    return 0;
}
