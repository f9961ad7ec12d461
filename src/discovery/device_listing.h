#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

#include "discovery/discovered_device.h"

// Pure functions over the output of "adb devices -l" and over device rows. They touch no
// controller state and run no process, so any thread may call them.

namespace sonavel {

// The usable rows of a long device listing, in listing order, and the TLS service serials that
// were dropped (the caller logs them).
struct DeviceListing {
    QVector<DiscoveredDevice> rows;
    QStringList ignoredTLSSerials;
};

// One device line of "adb devices -l" looks like:
//   0123456789ABCDEF       device usb:1-1 product:panther model:Pixel_7 device:panther
//   transport_id:2 192.168.1.20:5555      device product:panther model:Pixel_7 device:panther
//   transport_id:3
// Only rows in the state "device" survive; USB rows need the "usb:" port field (so emulators are
// never listed) and adb's wireless-debugging service names are dropped.
DeviceListing parseDeviceListing(const QString& listing);

// The key by which a USB row and a wireless row of one phone are paired: the model name when the
// row has one of its own, else the endpoint or serial; lower-cased.
QString deviceRowKey(const DiscoveredDevice& row);

// What decides whether a wireless row of the previous list is still in use and must stay listed
// although adb no longer lists it.
struct RowsInUse {
    QVector<DiscoveredDevice> previousRows;  // the current connectedTCPIPDevices
    QSet<QString> enabledEndpoints;
    QSet<QString> runningEndpoints;  // endpoints whose scrcpy process still runs
    QSet<QString> batteryEndpoints;  // endpoints with a battery reading
};

// USB rows (each paired with the wireless row of the same phone when there is one), then the
// unpaired wireless rows, then the previous wireless rows still in use.
QVector<DiscoveredDevice> buildVisibleRows(const QVector<DiscoveredDevice>& rows,
                                           const RowsInUse& inUse);

// The visible rows followed by every previous row that none of them (nor an earlier carried row)
// matches by serial, by ip (two absent ips match) or by a non-empty name: a refresh never drops
// a row by itself.
QVector<DiscoveredDevice> mergeWithPreviousRows(const QVector<DiscoveredDevice>& visible,
                                                const QVector<DiscoveredDevice>& previous);

// The first row whose serial, else whose ip, equals the identifier exactly.
std::optional<DiscoveredDevice> findDeviceRow(const QVector<DiscoveredDevice>& rows,
                                              const QString& identifier);

// The first device attached by cable in a long listing, in whatever state adb reports it.
struct USBPresence {
    bool found = false;
    QString serial;
    QString state;  // lower-cased; empty when nothing was found
};
USBPresence findUSBDevice(const QString& listing);

// The pieces of one trimmed line split at spaces and tabs, empty pieces dropped.
QStringList splitFields(const QString& trimmedLine);

}  // namespace sonavel
