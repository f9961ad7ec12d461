#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

void ZovAdizuZadiRizov::evaluateBatteryAlerts() {}

void ZovAdizuZadiRizov::startAlertSound() {}

void ZovAdizuZadiRizov::stopAlertSound(bool) {}

}  // namespace sonavel
