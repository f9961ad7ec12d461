#include "app/controller.h"
#include "discovery/device_listing.h"
#include "discovery/ip_enrichment.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

QString ipText(const std::optional<QString>& ip) {
    return ip ? *ip : QStringLiteral("nil");
}

// The listing parse as a worker runs it: the controller may be gone, so the dropped TLS rows are
// logged through the weak handle.
QVector<DiscoveredDevice> parseAndLog(const ControllerRef& r, const QString& listing) {
    DeviceListing parsed = sonavel::parseDeviceListing(listing);
    for (const QString& serial : parsed.ignoredTLSSerials) {
        r.appendLog(QStringLiteral("[Debug] Ignored adb TLS row: ") + serial);
    }
    return parsed.rows;
}

}  // namespace

void ZovAdizuZadiRizov::refreshDevices() {
    runInBackground(QoS::UserInitiated, [](const ControllerRef& r) {
        r.appendLog(QStringLiteral("[Debug] refreshDevices started"));
        const QString output = r.runADB(adb::devicesLong()).output;
        r.appendLog(QStringLiteral("\n=== adb devices -l の実行結果 ===\n") + output +
                    QStringLiteral("\n==========================\n"));
        QVector<DiscoveredDevice> rows = parseAndLog(r, output);
        // Each endpoint is asked once which phone it reaches, before its row is paired: two
        // phones of one model must never share a row or a switch.
        const auto known = r.read([](ZovAdizuZadiRizov& c) { return c.serialNumberByEndpoint; });
        SerialNumbers answered;
        for (const QString& endpoint : endpointsToIdentify(rows, known.value_or(SerialNumbers{}))) {
            const AdbResult result = r.runADB(adb::serialNumber(endpoint));
            const QString number = result.output.trimmed();
            if (result.status == 0 && !number.isEmpty() && !number.contains(QLatin1Char('\n'))) {
                answered.insert(endpoint, number);
            }
        }
        r.post([rows = std::move(rows), answered](ZovAdizuZadiRizov& c) {
            for (auto it = answered.cbegin(); it != answered.cend(); ++it) {
                c.serialNumberByEndpoint.insert(it.key(), it.value());
            }
            c.applyDeviceList(rows);
        });
        // Not ordered against the step above: the probe may still read the previous list.
        startIPEnrichment(r);
    });
}

QVector<DiscoveredDevice> ZovAdizuZadiRizov::parseDeviceListing(const QString& listing) const {
    return parseAndLog(ref(), listing);
}

void ZovAdizuZadiRizov::applyDeviceList(const QVector<DiscoveredDevice>& rows) {
    appendLog(QStringLiteral("[Debug] Detected adb devices count: ") +
              QString::number(rows.size()));
    for (const DiscoveredDevice& row : rows) {
        appendLog(QStringLiteral("[Debug] ADB Device: serial=") + row.serial +
                  QStringLiteral(", name=") + row.name + QStringLiteral(", state=") + row.state +
                  QStringLiteral(", ip=") + ipText(row.ip) + QStringLiteral(", transport=") +
                  row.transport);
    }
    QSet<QString> listed;
    for (const DiscoveredDevice& row : rows) {
        listed.insert(row.serial);
        if (row.transport == kTransportUSB) {
            knownPhysicalSerials.insert(row.serial);
        }
    }
    // An endpoint that is no longer connected may reach another phone when it is next: its answer
    // is asked again then.
    serialNumberByEndpoint.removeIf(
        [&listed](const auto& it) { return !listed.contains(it.key()); });
    const QVector<DiscoveredDevice> visible = buildVisibleRows(rows);
    adoptPairedRelays(visible);
    const QVector<DiscoveredDevice> merged = mergeWithPreviousRows(visible, rowsInUse());
    listedSerials.set(listed);
    discoveredDevices.set(merged);
    connectedTCPIPDevices.set(merged);
    dropBatteryReadingsNotListed(listed);
    appendLog(QStringLiteral("[Debug] Visible device rows count: ") +
              QString::number(visible.size()));
    for (const DiscoveredDevice& row : visible) {
        appendLog(QStringLiteral("[Debug] Visible Row: serial=") + row.serial +
                  QStringLiteral(", name=") + row.name + QStringLiteral(", ip=") + ipText(row.ip) +
                  QStringLiteral(", transport=") + row.transport);
    }
}

QVector<DiscoveredDevice> ZovAdizuZadiRizov::buildVisibleRows(
    const QVector<DiscoveredDevice>& rows) const {
    return sonavel::buildVisibleRows(rows, rowsInUse());
}

RowsInUse ZovAdizuZadiRizov::rowsInUse() const {
    RowsInUse inUse;
    inUse.serialNumbers = serialNumberByEndpoint;
    inUse.previousRows = connectedTCPIPDevices();
    inUse.enabledEndpoints = enabledEndpoints();
    for (auto it = scrcpyProcesses.cbegin(); it != scrcpyProcesses.cend(); ++it) {
        if (it.value() && it.value()->state() != QProcess::NotRunning) {
            inUse.runningEndpoints.insert(it.key());
        }
    }
    const QMap<QString, int> levels = batteryLevels();
    for (auto it = levels.cbegin(); it != levels.cend(); ++it) {
        inUse.batteryEndpoints.insert(it.key());
    }
    return inUse;
}

QString ZovAdizuZadiRizov::deviceRowKey(const DiscoveredDevice& row) {
    return sonavel::deviceRowKey(row);
}

}  // namespace sonavel
