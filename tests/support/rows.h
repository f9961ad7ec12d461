#pragma once

#include "discovery/discovered_device.h"

// Device rows as the listing builds them, for tests that set the controller's lists directly.
namespace sonavel::test {

inline DiscoveredDevice usbRow(const QString& serial, const QString& name = QString()) {
    DiscoveredDevice row;
    row.serial = serial;
    row.name = name.isEmpty() ? serial : name;
    row.state = QStringLiteral("device");
    row.transport = kTransportUSB;
    return row;
}

inline DiscoveredDevice wirelessRow(const QString& endpoint, const QString& name = QString()) {
    DiscoveredDevice row = usbRow(endpoint, name);
    row.ip = endpoint;
    row.transport = kTransportTCPIP;
    return row;
}

}  // namespace sonavel::test
