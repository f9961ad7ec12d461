#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

void ZovAdizuZadiRizov::startTrackDevicesWatcher() {}

void ZovAdizuZadiRizov::stopTrackDevicesWatcher() {}

void ZovAdizuZadiRizov::processTrackSnapshot(const QStringList&) {}

void ZovAdizuZadiRizov::applyDerivedConnectionStates(bool, bool) {}

}  // namespace sonavel
