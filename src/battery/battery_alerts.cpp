#include "app/controller.h"
#include "battery/alert_decision.h"
#include "battery/alert_notice.h"
#include "battery/system_alert_sound.h"
#include "platform/dispatch.h"

namespace sonavel {

namespace {

// One loop of the shipped alert sound lasts 1.2 s: beeps standing in for it keep that pace.
constexpr double kAlertBeepIntervalSec = 1.2;

bool sameCondition(const BatteryAlertCondition& a, const BatteryAlertCondition& b) {
    return a.identifier == b.identifier && a.kind == b.kind;
}

// Names the phone, its level and what to do, in the language of this moment.
void postAlertNotice(ZovAdizuZadiRizov& c, const BatteryAlertCondition& condition) {
    if (!c.alertNotifier) {
        const auto& make = c.ref().config().makeAlertNotifier;
        if (!make) {
            return;
        }
        // The notifier belongs to the controller, so its clicks never outlive it.
        c.alertNotifier = make([&c] { emit c.alertNoticeClicked(); });
        if (!c.alertNotifier) {
            return;
        }
    }
    const QString name =
        alertDeviceName(c.connectedTCPIPDevices() + c.discoveredDevices(), condition.identifier);
    c.alertNotifier->show(
        batteryAlertNotice(condition, name, [&c](TextKey key) { return c.text(key); }));
}

// While the alert plays: its sound when that can be heard, else beeps at the sound's pace. Asked
// again at every evaluation, so that a sound output that comes or goes is followed.
void soundOrBeep(ZovAdizuZadiRizov& c, bool starting) {
    const bool heard = c.alertSound->audible();
    const bool beeping = c.alertBeepTimer != nullptr;
    if (!starting && heard != beeping) {
        return;
    }
    if (heard) {
        c.alertBeepTimer.reset();
        c.alertSound->play();
    } else {
        if (!starting) {
            c.alertSound->stop();
        }
        c.alertBeepTimer = std::make_unique<RepeatingTimer>(c.ref().time(), kAlertBeepIntervalSec,
                                                            [&c] { c.alertSound->beep(); });
        c.alertSound->beep();
    }
    c.alertHasNoSoundOutput.set(!heard);
}

}  // namespace

void ZovAdizuZadiRizov::evaluateBatteryAlerts() {
    Q_ASSERT(isMainThread());
    const BatteryAlertDecision decision = decideBatteryAlert(batteryLevels(), batteryCharging(),
                                                             batteryAlert(), stoppedBatteryAlerts);
    if (decision.logLine) {
        appendLog(*decision.logLine);
    } else if (alertNotifier) {
        // No phone meets a condition any more: a notice left on screen would ask to charge or
        // unplug a phone that no longer needs it.
        alertNotifier->withdraw();
    }
    stoppedBatteryAlerts = decision.stopped;
    if (!decision.sounding) {
        if (isAlertPlaying()) {
            stopAlertSound(false);
        }
        return;
    }
    if (!isAlertPlaying()) {
        startAlertSound(*decision.sounding);
        return;
    }
    const std::optional<BatteryAlertCondition> before = batteryAlert();
    batteryAlert.set(decision.sounding);
    if (!before || !sameCondition(*before, *decision.sounding)) {
        // The condition that sounded has cleared and another one takes the alert over.
        postAlertNotice(*this, *decision.sounding);
    }
    if (alertSound) {
        soundOrBeep(*this, false);
    }
}

void ZovAdizuZadiRizov::startAlertSound(const BatteryAlertCondition& condition) {
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
    batteryAlert.set(condition);
    soundOrBeep(*this, true);
    isAlertPlaying.set(true);
    appendLog(QStringLiteral("[BatteryAlert] Started looping alert sound"));
    postAlertNotice(*this, condition);
}

void ZovAdizuZadiRizov::stopAlertSound(bool userInitiated) {
    Q_ASSERT(isMainThread());
    if (alertSound) {
        alertSound->stop();
    }
    alertBeepTimer.reset();
    // The user silences the condition that sounded, not every later one.
    if (userInitiated && batteryAlert()) {
        stoppedBatteryAlerts.insert(batteryAlert()->identifier, batteryAlert()->kind);
    }
    isAlertPlaying.set(false);
    batteryAlert.set(std::nullopt);
    alertHasNoSoundOutput.set(false);
    appendLog(QStringLiteral("[BatteryAlert] Stopped alert sound (userInitiated=") +
              (userInitiated ? QStringLiteral("true") : QStringLiteral("false")) +
              QLatin1Char(')'));
}

}  // namespace sonavel
