#include "app/controller.h"
#include "battery/alert_decision.h"
#include "battery/system_alert_sound.h"
#include "platform/dispatch.h"

namespace sonavel {

void ZovAdizuZadiRizov::evaluateBatteryAlerts() {
    Q_ASSERT(isMainThread());
    const BatteryAlertDecision decision =
        decideBatteryAlert(batteryLevels(), batteryCharging(), isAlertPlaying(), alertSuppressed);
    if (decision.logLine) {
        appendLog(*decision.logLine);
    }
    if (decision.startSound) {
        startAlertSound();
    }
    if (decision.stopSound) {
        stopAlertSound(false);
    }
    if (decision.clearSuppression) {
        alertSuppressed = false;
    }
}

void ZovAdizuZadiRizov::startAlertSound() {
    Q_ASSERT(isMainThread());
    if (!alertSound) {
        const ControllerConfig& config = ref().config();
        alertSound = config.makeAlertSound ? config.makeAlertSound()
                                           : loadPlatformAlertSound(config.resourcesDir);
    }
    if (!alertSound) {
        // Nothing to loop: one beep now, and the state stays quiet so the next reading beeps again.
        playSystemBeep();
        return;
    }
    alertSound->play();
    isAlertPlaying.set(true);
    appendLog(QStringLiteral("[BatteryAlert] Started looping alert sound"));
}

void ZovAdizuZadiRizov::stopAlertSound(bool userInitiated) {
    Q_ASSERT(isMainThread());
    if (alertSound) {
        alertSound->stop();
    }
    isAlertPlaying.set(false);
    if (userInitiated) {
        alertSuppressed = true;
    }
    appendLog(QStringLiteral("[BatteryAlert] Stopped alert sound (userInitiated=") +
              (userInitiated ? QStringLiteral("true") : QStringLiteral("false")) +
              QLatin1Char(')'));
}

}  // namespace sonavel
