#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

void ZovAdizuZadiRizov::autoUSBSetupIfNeeded(const QString&) {}

}  // namespace sonavel
