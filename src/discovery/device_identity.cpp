#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

std::optional<DiscoveredDevice> ZovAdizuZadiRizov::findDeviceRow(const QString&) const { return std::nullopt; }

}  // namespace sonavel
