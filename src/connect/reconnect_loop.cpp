#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

void ZovAdizuZadiRizov::startReconnectTimer() {}

void ZovAdizuZadiRizov::stopReconnectTimer() {}

void ZovAdizuZadiRizov::reconnectTick() {}

void ZovAdizuZadiRizov::reconnectMissingEndpoints() {}

void ZovAdizuZadiRizov::finishReconnectPass() {}

}  // namespace sonavel
