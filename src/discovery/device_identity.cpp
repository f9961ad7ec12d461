#include "discovery/device_identity.h"

#include "app/controller.h"
#include "discovery/device_listing.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

// Model name first (what the user recognises), then the device's code name, then its serial.
const char* const kNameProperties[] = {"ro.product.model", "ro.product.device", "ro.serialno"};

}  // namespace

std::optional<DiscoveredDevice> ZovAdizuZadiRizov::findDeviceRow(const QString& identifier) const {
    return sonavel::findDeviceRow(discoveredDevices(), identifier);
}

std::optional<QString> lookupDeviceName(const ControllerRef& ref, const QString& target) {
    for (const char* property : kNameProperties) {
        const AdbResult result = ref.runADB(adb::getprop(target, QString::fromLatin1(property)));
        const QString value = result.output.trimmed();
        // An unset property answers with an empty line; a device that is gone fails: both move
        // on to the next property.
        if (result.status == 0 && !value.isEmpty()) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace sonavel
