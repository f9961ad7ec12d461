#include "battery/battery_targets.h"

#include <algorithm>

namespace sonavel {

QString selectedDeviceIdentifier(const DiscoveredDevice& row) {
    if (row.transport == kTransportUSB) {
        return row.serial;
    }
    return row.ip ? *row.ip : row.serial;
}

QStringList batteryPollTargets(const QStringList& relayEndpoints,
                               const QSet<QString>& enabledEndpoints,
                               const QVector<DiscoveredDevice>& wirelessRows) {
    if (!relayEndpoints.isEmpty()) {
        return relayEndpoints;
    }
    if (!enabledEndpoints.isEmpty()) {
        QStringList enabled(enabledEndpoints.cbegin(), enabledEndpoints.cend());
        // A set has no order; sorting keeps the log of one tick the same from run to run.
        std::sort(enabled.begin(), enabled.end());
        return enabled;
    }
    QStringList ips;
    for (const DiscoveredDevice& row : wirelessRows) {
        // An empty ip would become "adb -s ''", which addresses whichever single device adb has.
        if (row.ip && !row.ip->isEmpty()) {
            ips << *row.ip;
        }
    }
    return ips;
}

}  // namespace sonavel
