#include "app/controller.h"
#include "discovery/device_identity.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

std::optional<DiscoveredDevice> ZovAdizuZadiRizov::findDeviceRow(const QString&) const { return std::nullopt; }

}  // namespace sonavel

namespace sonavel {
std::optional<QString> lookupDeviceName(const ControllerRef&, const QString&) { return std::nullopt; }
}  // namespace sonavel
