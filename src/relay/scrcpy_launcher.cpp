#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

bool ZovAdizuZadiRizov::videoEnabledForEndpoint(const QString&) const { return false; }

int ZovAdizuZadiRizov::audioBufferForEndpoint(const QString&) const { return audioBufferMs(); }

void ZovAdizuZadiRizov::handleScrcpyTermination(const QString&, QProcess*) {}

}  // namespace sonavel
