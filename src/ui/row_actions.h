#pragma once

#include "discovery/discovered_device.h"

namespace sonavel {

class ZovAdizuZadiRizov;

// What a click on a device row does. Main thread.

// The summary row: re-selects the selected device (making its ip the endpoint, which is stored),
// then refreshes the selected device's battery.
void tapSummaryRow(ZovAdizuZadiRizov& c);

// A wireless entry's row: selects it, makes its ip the stored endpoint and refreshes its battery
// (by serial when it has no ip).
void tapDeviceRow(ZovAdizuZadiRizov& c, const DiscoveredDevice& entry);

}  // namespace sonavel
