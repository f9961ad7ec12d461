#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace sonavel {

class AlertNotifier;
class AlertSound;
class VirtualClock;

// Everything the controller takes from its surroundings. The application uses standard(); tests
// replace single members (a temporary resources folder, a scaled clock, a private settings file,
// a debugger probe that says "traced" so that the log records).
struct ControllerConfig {
    // The folder that holds adb, scrcpy, scrcpy-server and the text resources; none when the
    // application has no resources folder at all.
    std::optional<QString> resourcesDir;

    // Flow time to real time: 1 in the application, a small fraction in tests.
    double timeScale = 1.0;
    // When set, flow time is this clock's, which moves only when a test moves it (timeScale is
    // then unused).
    std::shared_ptr<VirtualClock> clock;

    // How long one one-shot adb command may run before it is killed and counts as failed. Real
    // adb commands end within seconds (a connect to an unreachable phone gives up well before
    // this); one that never ends would otherwise hold its worker, and every flow waiting on it,
    // for good. Real time, not flow time: it is a safety net, not a step of the flows.
    std::chrono::milliseconds adbCallLimit = std::chrono::minutes(2);

    std::function<bool()> debuggerProbe;
    std::function<QStringList()> preferredLanguages;

    // Opens the settings store. Called on whichever thread needs it; every call returns a new
    // object, since one QSettings object must not be shared between threads.
    std::function<std::unique_ptr<QSettings>()> openSettings;

    // The program that ends stray scrcpy processes ("-f" "scrcpy" is passed to it).
    QString pkillPath = QStringLiteral("/usr/bin/pkill");

    // Makes the looping alert sound; nullptr means the platform's sound.
    std::function<std::unique_ptr<AlertSound>()> makeAlertSound;

    // Makes the desktop notifier of battery alerts, given what a click on a notice does; nullptr
    // means no notifications (tests must not post to the desktop they run on).
    std::function<std::unique_ptr<AlertNotifier>(std::function<void()> clicked)> makeAlertNotifier;

    // The configuration of the installed application: resources next to the executable, real
    // time, the real debugger probe, the system's languages, settings store and notifications.
    static ControllerConfig standard();
};

// The resources folder of the running executable: Contents/Resources inside the app bundle on
// macOS, ../share/sonavel next to bin/ elsewhere. None when that folder does not exist.
std::optional<QString> applicationResourcesDir();

}  // namespace sonavel
