#pragma once

#include <QString>
#include <QVector>
#include <optional>

#include "app/controller_ref.h"
#include "discovery/discovered_device.h"

// The USB-to-wireless setup: its pure decisions and its blocking run.

namespace sonavel {

// Whether the row reaches the phone the setup has just found at `address`: its ip is exactly the
// new endpoint, or the same address with another port (a connection made earlier by hand). The
// address is compared whole, so 192.168.1.2 does not pick a row of 192.168.1.20.
bool rowReachesAddress(const DiscoveredDevice& row, const QString& endpoint,
                       const QString& address);

// The row shown for a freshly connected endpoint until the device list lists it with its model.
DiscoveredDevice provisionalWirelessRow(const QString& endpoint);

// Appends the provisional row unless a row already stands for its endpoint (same serial, or the
// same ip). Returns whether it was appended.
bool appendUnlessListed(QVector<DiscoveredDevice>& rows, const DiscoveredDevice& row);

// The whole setup for one USB serial, on a worker: start-server, "tcpip 5555", the 5-second pause,
// one pass over the IP probe, then the endpoint and connect steps, which are handed to the main
// thread. Blocks for at least 5.3 seconds of flow time. Never call it on the main thread.
void runUSBSetup(const ControllerRef& r, const QString& serial);

}  // namespace sonavel
