// Renders the window in its main states, in English and Japanese, with a light and a dark
// palette, to PNG files for review: render_window <output folder>. The controller runs over fake
// tools; each state is set directly. Files are named <state>-<language>-<light|dark>.png.
#include <QApplication>
#include <QDir>
#include <QStyle>
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

// A dark scheme as macOS Dark Mode or a dark desktop theme gives it.
QPalette darkPalette() {
    QPalette p = QApplication::style()->standardPalette();
    p.setColor(QPalette::Window, QColor(30, 30, 32));
    p.setColor(QPalette::WindowText, QColor(236, 236, 236));
    p.setColor(QPalette::Base, QColor(24, 24, 26));
    p.setColor(QPalette::AlternateBase, QColor(40, 40, 44));
    p.setColor(QPalette::Text, QColor(236, 236, 236));
    p.setColor(QPalette::Button, QColor(52, 52, 56));
    p.setColor(QPalette::ButtonText, QColor(236, 236, 236));
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, QColor(70, 70, 74));
    p.setColor(QPalette::Midlight, QColor(60, 60, 64));
    p.setColor(QPalette::Mid, QColor(44, 44, 48));
    p.setColor(QPalette::Dark, QColor(20, 20, 22));
    p.setColor(QPalette::Shadow, Qt::black);
    return p;
}

void setState(ZovAdizuZadiRizov& c, Rig& rig, QWidget& window, const QString& state) {
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
    } else if (state == QStringLiteral("tools-missing")) {
        rig.resources.remove(QStringLiteral("adb"));
        rig.resources.remove(QStringLiteral("scrcpy"));
        c.notifyWillChange();
    } else if (state == QStringLiteral("minimum-size-long-names")) {
        // More phones than fit, one with a name longer than its row.
        c.connectedTCPIPDevices.set(
            {wirelessRow(QStringLiteral("192.168.1.23:5555"),
                         QStringLiteral("Galaxy_S23_Ultra_Enterprise_Edition")),
             pixel, wirelessRow(kPhoneB, QStringLiteral("SM_S918B")),
             wirelessRow(QStringLiteral("192.168.1.22:5555"), QStringLiteral("moto_g54"))});
        c.batteryLevels.set({{kPhoneA, 100}, {kPhoneB, 42}});
        c.batteryCharging.set({{kPhoneA, true}});
        window.resize(RootView::kMinimumWidth, RootView::kMinimumHeight);
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
    QStringList states = {QStringLiteral("no-device"),
                          QStringLiteral("usb-detected"),
                          QStringLiteral("wireless-ready"),
                          QStringLiteral("two-phones-relaying"),
                          QStringLiteral("alert-playing"),
                          QStringLiteral("tools-missing"),
                          QStringLiteral("minimum-size-long-names")};
    states += kSilenceCauses.keys();
    const QPalette light = QApplication::style()->standardPalette();
    for (const auto& [scheme, palette] :
         {std::pair{QStringLiteral("light"), light}, {QStringLiteral("dark"), darkPalette()}}) {
        QApplication::setPalette(palette);
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
                setState(c, rig, window, state);
                QTest::qWait(50);
                waitUntil([&] { return !window.mainView()->statusLabel()->isAnimating(); });
                const QString file = out.filePath(state + QLatin1Char('-') + language +
                                                  QLatin1Char('-') + scheme + ".png");
                if (!window.grab().save(file)) {
                    std::fprintf(stderr, "could not write %s\n", qPrintable(file));
                    return 1;
                }
                std::printf("%s\n", qPrintable(file));
            }
        }
    }
    return 0;
}
