#include "app/controller.h"

// Not built yet: these operations do nothing until their subsystem lands.

namespace sonavel {

void ZovAdizuZadiRizov::refreshDevices() {}

QVector<DiscoveredDevice> ZovAdizuZadiRizov::parseDeviceListing(const QString&) const { return {}; }

void ZovAdizuZadiRizov::applyDeviceList(const QVector<DiscoveredDevice>&) {}

QVector<DiscoveredDevice> ZovAdizuZadiRizov::buildVisibleRows(const QVector<DiscoveredDevice>& rows) const { return rows; }

QString ZovAdizuZadiRizov::deviceRowKey(const DiscoveredDevice& row) { return row.serial.toLower(); }

}  // namespace sonavel
