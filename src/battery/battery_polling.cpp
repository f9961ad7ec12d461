#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

void ZovAdizuZadiRizov::startBatteryMonitoring() {}

void ZovAdizuZadiRizov::stopBatteryMonitoring() {}

void ZovAdizuZadiRizov::refreshAllBatteryLevels() {}

void ZovAdizuZadiRizov::refreshBatteryLevel(const QString&) {}

void ZovAdizuZadiRizov::refreshSelectedDeviceBattery() {}

}  // namespace sonavel
