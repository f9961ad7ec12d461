#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

void ZovAdizuZadiRizov::autoStartFullFlow() {}

}  // namespace sonavel
