#include "app/controller.h"
#include "discovery/device_listing.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

constexpr double kUSBCheckIntervalSec = 10.0;
const QString kReadyState = QStringLiteral("device");

QString boolText(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
QString serialText(const std::optional<QString>& s) {
    return s ? *s : QStringLiteral("nil");
}

// The background step. It compares what it finds with the controller's state as the main thread
// last copied it: a check that finds what the controller already knows, as nearly every one does,
// then ends here without waking the main thread at all.
void runUSBCheck(const ControllerRef& r) {
    const ControllerEnv::USBCheckInputs inputs = r.usbCheckInputs();
    const bool allowAuto = inputs.allowAuto;
    const USBView& view = inputs.view;
    if (!allowAuto) {
        r.appendLog(QStringLiteral(
            "[USBCheck] Reconnecting; will update USB status only (no auto actions)"));
    }

    const AdbResult listing = r.runADB(adb::devicesLong());
    const QString& output = listing.output;
    r.appendLog(QStringLiteral("[USBCheck] ADB output for devices -l:\n") + output);
    // A failed call is no news of the cable: the next check looks again.
    if (!deviceListingAnswered(listing.status, output)) {
        return;
    }
    const USBPresence presence = findUSBDevice(output);
    if (presence.found && presence.state == kReadyState) {
        r.post([s = presence.serial](ZovAdizuZadiRizov& c) { c.setUpAgainIfWirelessLost(s); });
    }
    const std::optional<QString> serial =
        presence.found ? std::optional<QString>(presence.serial) : std::nullopt;
    r.appendLog(QStringLiteral("[USBCheck] USB connected: ") + boolText(presence.found) +
                QStringLiteral(" serial: ") + serialText(serial) + QStringLiteral(" state: ") +
                presence.state);
    r.appendLog(QStringLiteral("[Debug] USB state: found=") + boolText(presence.found) +
                QStringLiteral(", serial=") + serialText(serial) + QStringLiteral(", state=") +
                presence.state);

    if (!usbFindingChangesView(presence, view)) {
        return;
    }
    // The main step compares again with the state it finds then: the watcher or the setup may
    // have changed it while adb ran.
    const bool wasAwaiting = presence.found && view.awaitingReady.contains(presence.serial);
    r.post([presence, allowAuto, wasAwaiting](ZovAdizuZadiRizov& c) {
        USBView now{c.observedUSBSerial, c.isUSBDeviceConnected(), c.usbSerialsAwaitingReady};
        if (!usbFindingChangesView(presence, now)) {
            return;
        }
        const std::optional<QString> serial =
            presence.found ? std::optional<QString>(presence.serial) : std::nullopt;
        c.applyUSBCheckResult(
            {presence.found, now.observed, serial, presence.state, allowAuto, wasAwaiting});
        c.publishUSBCheckInputs();
    });
}

}  // namespace

void ZovAdizuZadiRizov::startUSBDetection() {
    usbDetectTimer.reset();
    publishUSBCheckInputs();
    usbDetectTimer = std::make_unique<WorkerTimer>(ref().time(), QoS::UserInitiated,
                                                   kUSBCheckIntervalSec, [r = ref()] {
                                                       if (r.alive()) {
                                                           runUSBCheck(r);
                                                       }
                                                   });
    checkUSBConnection();
}

void ZovAdizuZadiRizov::checkUSBConnection() {
    runInBackground(QoS::UserInitiated, [](const ControllerRef& r) { runUSBCheck(r); });
}

ControllerEnv::USBCheckInputs ZovAdizuZadiRizov::usbCheckInputsNow() const {
    return {setupCompleted() && !isReconnecting,
            {observedUSBSerial, isUSBDeviceConnected(), usbSerialsAwaitingReady}};
}

void ZovAdizuZadiRizov::publishUSBCheckInputs() {
    env_->setUSBCheckInputs(usbCheckInputsNow());
}

bool ZovAdizuZadiRizov::usbCheckInputsCurrent() const {
    const ControllerEnv::USBCheckInputs copy = env_->usbCheckInputs();
    const ControllerEnv::USBCheckInputs now = usbCheckInputsNow();
    return copy.allowAuto == now.allowAuto && copy.view.observed == now.view.observed &&
           copy.view.connected == now.view.connected &&
           copy.view.awaitingReady == now.view.awaitingReady;
}

void ZovAdizuZadiRizov::applyUSBCheckResult(const USBCheckResult& result) {
    appendLog(QStringLiteral("[Debug] USB device connection state changed/serial changed. found=") +
              boolText(result.found) + QStringLiteral(", previous=") + serialText(result.previous) +
              QStringLiteral(", current=") + serialText(result.serial));
    isUSBDeviceConnected.set(result.found);

    if (!result.found || !result.serial) {
        appendLog(QStringLiteral("No USB Android device detected"));
        observedUSBSerial.reset();
        isUSBDeviceConnected.set(false);
        refreshDevices();
        return;
    }

    const QString s = *result.serial;
    const bool changed = observedUSBSerial != s;
    const bool ready = result.state == kReadyState;
    const bool firstSighting = !knownPhysicalSerials.contains(s);
    // Exactly one of the check and the watcher sets up a phone that has just become ready.
    const bool newlyReady = ready && usbSerialsAwaitingReady.remove(s);
    const bool setUpByWatcher = ready && result.awaitingReady && !newlyReady;
    if (!ready && firstSighting) {
        usbSerialsAwaitingReady.insert(s);
    }
    observedUSBSerial = s;
    knownPhysicalSerials.insert(s);
    appendLog(QStringLiteral("[USBCheck] Observed USB serial set -> ") + s);
    appendLog(QStringLiteral("USB Android device detected"));

    if (result.state.contains(QStringLiteral("unauthorized"))) {
        appendLog(QStringLiteral(
            "Warning: USB device unauthorized. Please accept the USB debugging authorization "
            "dialog on your device."));
    } else if (result.state.contains(QStringLiteral("offline"))) {
        appendLog(QStringLiteral(
            "Warning: USB device is offline. Please check device connection and USB debugging "
            "status."));
    } else if (result.state.contains(QStringLiteral("unknown"))) {
        appendLog(QStringLiteral(
            "Warning: USB device state unknown. Please ensure device is properly connected and "
            "authorized."));
    } else if (ready) {
        if (setUpByWatcher) {
            return;  // the watcher saw it ready first and has refreshed and started the setup
        }
        refreshDevices();
        if (result.allowAuto || changed || newlyReady) {
            ref().post([s](ZovAdizuZadiRizov& c) { c.autoUSBSetupIfNeeded(s); });
        }
    } else {
        appendLog(QStringLiteral("[USBCheck] USB device is not ready yet: ") + result.state);
    }
}

}  // namespace sonavel
