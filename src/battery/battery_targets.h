#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include "discovery/discovered_device.h"

// Which identifiers the battery polling addresses. Pure functions of copies of controller state.
// An identifier is the text passed to adb after "-s"; it is never normalised, so one phone can be
// polled under its USB serial and under its wireless endpoint.

namespace sonavel {

// The identifier of a selected row: the serial of a USB row, else the row's ip when it has one,
// else its serial.
QString selectedDeviceIdentifier(const DiscoveredDevice& row);

// What a timer tick polls: the first non-empty of the endpoints that have a relay process (running
// or not), the enabled endpoints, and the ips of the wireless rows in row order.
QStringList batteryPollTargets(const QStringList& relayEndpoints,
                               const QSet<QString>& enabledEndpoints,
                               const QVector<DiscoveredDevice>& wirelessRows);

}  // namespace sonavel
