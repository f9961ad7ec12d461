#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

void ZovAdizuZadiRizov::setRelayEnabled(const QString&, bool) {}

void ZovAdizuZadiRizov::setVideoEnabled(const QString&, bool) {}

void ZovAdizuZadiRizov::setAudioBuffer(const QString&, int) {}

void ZovAdizuZadiRizov::restartEndpoint(const QString&) {}

bool ZovAdizuZadiRizov::allEnabledEndpointsRunning() const { return false; }

}  // namespace sonavel
