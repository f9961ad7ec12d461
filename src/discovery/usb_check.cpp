#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

void ZovAdizuZadiRizov::startUSBDetection() {}

void ZovAdizuZadiRizov::checkUSBConnection() {}

void ZovAdizuZadiRizov::applyUSBCheckResult(const USBCheckResult&) {}

}  // namespace sonavel
