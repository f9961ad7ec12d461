#include "connect/auto_flow.h"

#include "app/controller.h"
#include "platform/dispatch.h"
#include "relay/connect_result.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

// Gives the refresh that starts the flow a moment to publish its rows.
constexpr double kRefreshSettleSeconds = 0.5;
// Only a short look after handing the phone to the USB setup: the setup itself waits 5 seconds,
// so a phone plugged in for the first time is normally picked up by the reconnect loop instead.
constexpr double kAfterSetupSeconds = 1.0;

// Shown in every language: the status the flow sets before the relay reports its own.
const QString kRelayActiveStatus = QStringLiteral("音声リレーがアクティブ");

void refresh(const ControllerRef& r) {
    r.post([](ZovAdizuZadiRizov& c) { c.refreshDevices(); });
}

void startReconnectLoop(const ControllerRef& r) {
    r.post([](ZovAdizuZadiRizov& c) { c.startReconnectTimer(); });
}

std::optional<QVector<DiscoveredDevice>> currentRows(const ControllerRef& r) {
    return r.read([](ZovAdizuZadiRizov& c) { return c.discoveredDevices(); });
}

void connectAndStart(const ControllerRef& r, const DiscoveredDevice& row,
                     const QString& selectionLine) {
    r.post([row, selectionLine](ZovAdizuZadiRizov& c) {
        c.selectedDevice.set(row);
        if (row.ip) {
            c.endpoint.set(*row.ip);
            c.saveEndpoint();
        }
        c.appendLog(selectionLine + row.name + QStringLiteral(" @ ") + row.ip.value_or(QString()));
        c.refreshSelectedDeviceBattery();
        c.startBatteryMonitoring();
    });
    const QString address = row.ip.value_or(QString());
    const AdbResult result = r.runADB(adb::connect(address));
    r.appendLog(QStringLiteral("[AutoFlow] adb connect output: ") + result.output);
    // adb exits 0 also when it could not connect; the output tells.
    if (connectSucceeded(result)) {
        r.updateStatus(kRelayActiveStatus);
        r.post([](ZovAdizuZadiRizov& c) {
            c.stopReconnectTimer();
            c.startRelay();
        });
        return;
    }
    r.updateStatus(QStringLiteral("[AutoFlow] Failed to connect to ") + address);
    startReconnectLoop(r);
}

}  // namespace

std::optional<DiscoveredDevice> pickWirelessRow(const QVector<DiscoveredDevice>& rows) {
    // A phone on USB whose endpoint is connected has one row, the USB one, carrying the
    // endpoint: it counts, or the flow would set up again a phone that is already on Wi-Fi and
    // never relay it.
    for (const DiscoveredDevice& row : rows) {
        if (row.ip && !row.ip->isEmpty()) {
            return row;
        }
    }
    return std::nullopt;
}

std::optional<DiscoveredDevice> pickUSBRow(const QVector<DiscoveredDevice>& rows) {
    for (const DiscoveredDevice& row : rows) {
        if (row.transport == kTransportUSB) {
            return row;
        }
    }
    return std::nullopt;
}

void runAutoFlow(const ControllerRef& r) {
    refresh(r);
    r.sleep(kRefreshSettleSeconds);
    const auto rows = currentRows(r);
    if (!rows) {
        return;  // the controller is gone
    }
    if (const auto wireless = pickWirelessRow(*rows)) {
        connectAndStart(r, *wireless, QStringLiteral("[AutoFlow] Selected TCP/IP device: "));
        return;
    }
    const auto usb = pickUSBRow(*rows);
    if (!usb) {
        r.updateStatus(QStringLiteral("[AutoFlow] No devices to connect"));
        startReconnectLoop(r);
        return;
    }

    const QString serial = usb->serial;
    r.appendLog(
        QStringLiteral("[AutoFlow] No TCP/IP device found; trying USB -> TCP/IP for serial ") +
        serial);
    r.post([serial](ZovAdizuZadiRizov& c) { c.autoUSBSetupIfNeeded(serial); });
    r.sleep(kAfterSetupSeconds);
    refresh(r);
    const auto after = currentRows(r);
    if (!after) {
        return;
    }
    if (const auto wireless = pickWirelessRow(*after)) {
        connectAndStart(r, *wireless,
                        QStringLiteral("[AutoFlow] Selected TCP/IP device after USB setup: "));
        return;
    }
    r.updateStatus(QStringLiteral("[AutoFlow] No TCP/IP device found after USB setup"));
    startReconnectLoop(r);
}

void ZovAdizuZadiRizov::autoStartFullFlow() {
    appendLog(QStringLiteral("[AutoFlow] Starting autoStartFullFlow"));
    runInBackground(QoS::Default, runAutoFlow);
}

}  // namespace sonavel
