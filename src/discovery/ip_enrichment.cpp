#include "discovery/ip_enrichment.h"

#include "app/controller.h"
#include "connect/ip_probe.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

constexpr int kProbeAttempts = 3;
constexpr double kRetryPauseSec = 0.4;

// answered: set when the phone ran a probe command, so that finding no address means it has no
// Wi-Fi address rather than that it could not be asked.
std::optional<QString> probeOnce(const ControllerRef& r, const QString& serial, bool& answered) {
    for (const QString& command : ipProbeCommands()) {
        const AdbResult result = r.runADB(adb::shell(serial, command));
        answered = answered || result.status == 0;
        if (auto address = addressFromProbeOutput(result.output)) {
            return address;
        }
    }
    return std::nullopt;
}

std::optional<QString> probeWithRetries(const ControllerRef& r, const QString& serial,
                                        bool& answered) {
    for (int attempt = 1; attempt <= kProbeAttempts; ++attempt) {
        if (auto address = probeOnce(r, serial, answered)) {
            return address;
        }
        r.appendLog(QStringLiteral("[Debug] enrichIPsForUSBDevices retry #") +
                    QString::number(attempt) + QStringLiteral(" for serial ") + serial);
        r.sleep(kRetryPauseSec);
    }
    return std::nullopt;
}

QVector<DiscoveredDevice> currentRows(const ControllerRef& r) {
    return r.read([](ZovAdizuZadiRizov& c) { return c.discoveredDevices(); })
        .value_or(QVector<DiscoveredDevice>());
}

}  // namespace

void startIPEnrichment(const ControllerRef& ref) {
    ref.runInBackground(QoS::UserInitiated, [](const ControllerRef& r) {
        const QVector<DiscoveredDevice> listed = currentRows(r);
        const auto usbCount = std::count_if(listed.begin(), listed.end(), [](const auto& row) {
            return row.transport == kTransportUSB;
        });
        if (usbCount == 0) {
            return;
        }
        r.appendLog(QStringLiteral("[Debug] enrichIPsForUSBDevices started for ") +
                    QString::number(usbCount) + QStringLiteral(" USB device(s)"));
        // The rebuilt rows stay in this copy: the list shown keeps what adb listed.
        QVector<DiscoveredDevice> copy = currentRows(r);
        for (DiscoveredDevice& row : copy) {
            if (row.transport != kTransportUSB) {
                continue;
            }
            bool answered = false;
            const auto address = probeWithRetries(r, row.serial, answered);
            r.post([serial = row.serial, offWifi = !address && answered](ZovAdizuZadiRizov& c) {
                if (c.serialsWithoutWifi().contains(serial) != offWifi) {
                    c.serialsWithoutWifi.mutate([&](QSet<QString>& set) {
                        offWifi ? void(set.insert(serial)) : void(set.remove(serial));
                    });
                }
            });
            if (address) {
                const QString endpoint = adb::endpointFor(*address);
                DiscoveredDevice rebuilt;
                rebuilt.serial = row.serial;
                rebuilt.name = row.name;
                rebuilt.state = row.state;
                rebuilt.transport = row.transport;
                rebuilt.ip = endpoint;
                row = rebuilt;
                r.appendLog(QStringLiteral("[Debug] IP resolved for device ") + row.serial +
                            QStringLiteral(": ") + endpoint);
                r.post([serial = row.serial, endpoint](ZovAdizuZadiRizov& c) {
                    c.noteProbedEndpoint(serial, endpoint);
                });
            } else {
                r.appendLog(QStringLiteral("[Debug] IP not resolved for device ") + row.serial);
            }
        }
        r.post([](ZovAdizuZadiRizov& c) {
            c.appendLog(QStringLiteral(
                "[Debug] enriched IP check finished; UI rows remain based on adb devices -l"));
        });
    });
}

void ZovAdizuZadiRizov::enrichIPsForUSBDevices() {
    startIPEnrichment(ref());
}

}  // namespace sonavel
