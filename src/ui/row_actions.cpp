#include "ui/row_actions.h"

#include "app/controller.h"

namespace sonavel {

void tapSummaryRow(ZovAdizuZadiRizov& c) {
    if (const std::optional<DiscoveredDevice> selected = c.selectedDevice()) {
        c.selectedDevice.set(selected);
        if (selected->ip) {
            c.endpoint.set(*selected->ip);
            c.saveEndpoint();
        }
    }
    c.refreshSelectedDeviceBattery();
}

void tapDeviceRow(ZovAdizuZadiRizov& c, const DiscoveredDevice& entry) {
    c.selectedDevice.set(entry);
    if (entry.ip) {
        c.endpoint.set(*entry.ip);
        c.saveEndpoint();
        c.refreshBatteryLevel(*entry.ip);
    } else {
        c.refreshBatteryLevel(entry.serial);
    }
}

}  // namespace sonavel
