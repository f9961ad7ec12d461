#include "relay/relay_targets.h"

namespace sonavel {

QStringList relayCandidates(const QVector<DiscoveredDevice>& devices,
                            const QVector<DiscoveredDevice>& tcpipDevices) {
    QStringList usb;
    for (const DiscoveredDevice& row : devices) {
        if (row.transport == kTransportUSB && row.state == QLatin1String("device")) {
            usb << relayKeyOf(row);
        }
    }
    if (!usb.isEmpty()) {
        return usb;
    }
    QStringList wireless;
    for (const DiscoveredDevice& row : tcpipDevices) {
        if (row.ip && !row.ip->isEmpty()) {
            wireless << *row.ip;
        }
    }
    return wireless;
}

std::optional<QString> usbSerialCarrying(const QString& key,
                                         const QVector<DiscoveredDevice>& devices) {
    for (const DiscoveredDevice& row : devices) {
        if (row.transport == kTransportUSB && row.state == QLatin1String("device") &&
            (row.serial == key || row.ip == key)) {
            return row.serial;
        }
    }
    return std::nullopt;
}

RelayTargets chooseRelayTargets(const QStringList& candidates, const QSet<QString>& enabled) {
    RelayTargets result;
    if (candidates.size() <= 1) {
        result.targets = candidates;
        return result;
    }
    QSet<QString> effective = enabled;
    if (effective.isEmpty()) {
        effective = QSet<QString>(candidates.begin(), candidates.end());
        result.seededEnabled = effective;
    }
    for (const QString& candidate : candidates) {
        if (effective.contains(candidate)) {
            result.targets << candidate;
        }
    }
    return result;
}

}  // namespace sonavel
