#pragma once

#include <QVector>
#include <optional>

#include "app/controller_ref.h"
#include "discovery/discovered_device.h"

// The automatic full flow: from a phone that is plugged in or reachable to a running relay.

namespace sonavel {

// The first row that has a wireless address to connect to, in list order: a wireless row, or a
// USB row paired with its phone's endpoint.
std::optional<DiscoveredDevice> pickWirelessRow(const QVector<DiscoveredDevice>& rows);

// The first USB row, whatever its state: an unauthorised phone is still worth a setup attempt.
std::optional<DiscoveredDevice> pickUSBRow(const QVector<DiscoveredDevice>& rows);

// The flow on a worker: refresh, pick a wireless row (else set up the first USB row and pick
// again), connect it and start the relay. Every end without a relay hands over to the reconnect
// loop. Blocks for 1.5 seconds of flow time plus one adb connect. Never call it on the main thread.
void runAutoFlow(const ControllerRef& r);

}  // namespace sonavel
