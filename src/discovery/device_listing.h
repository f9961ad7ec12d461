#pragma once

#include <QMap>
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

// adb answered "devices -l" with a device table (possibly empty), rather than failing: a listing
// that failed (the server restarting, adb killed or timed out) says nothing about the phones.
bool deviceListingAnswered(int exitStatus, const QString& output);

// The key by which a USB row and a wireless row of one phone are paired when the phone behind the
// endpoint could not be asked: the model name when the row has one of its own, else the endpoint
// or serial; lower-cased.
QString deviceRowKey(const DiscoveredDevice& row);

// The serial number ("ro.serialno") of the phone behind each wireless endpoint, as that phone
// answered it. A USB serial is the phone's serial number itself.
using SerialNumbers = QMap<QString, QString>;

// The phone a row stands for: its USB serial, or the serial number its endpoint answered; none
// for an endpoint not asked yet.
std::optional<QString> phoneOf(const DiscoveredDevice& row, const SerialNumbers& serialNumbers);

// The wireless endpoints of a listing that still have to be asked for their phone's serial number.
QStringList endpointsToIdentify(const QVector<DiscoveredDevice>& rows, const SerialNumbers& known);

// Switched-on endpoints whose phone has gone (with that phone's serial number), against the
// endpoints listed now: a phone back at another endpoint (a new Wi-Fi address, a new wireless
// debugging port) is the same phone, and its switch follows it. Returns each old endpoint with
// its new one; an old endpoint listed again itself has not moved.
QMap<QString, QString> endpointsMoved(const SerialNumbers& away, const SerialNumbers& listedNow);

// What decides whether a row of the previous list is still in use and must stay listed although
// adb no longer lists it.
struct RowsInUse {
    QVector<DiscoveredDevice> previousRows;  // the current connectedTCPIPDevices
    QSet<QString> enabledEndpoints;
    QSet<QString> runningEndpoints;  // endpoints whose scrcpy process still runs
    QSet<QString> batteryEndpoints;  // endpoints with a battery reading
    SerialNumbers serialNumbers;
};

// USB rows (each paired with the wireless row of the same phone when there is one), then the
// unpaired wireless rows, then the previous wireless rows still in use. Rows are one phone when
// they are the same phone by serial number; the model name pairs them only when the endpoint's
// phone is not known, and never tells two known phones apart. A previous endpoint of a phone now
// listed on USB only goes back to that phone's row, so its switch stays where it was.
QVector<DiscoveredDevice> buildVisibleRows(const QVector<DiscoveredDevice>& rows,
                                           const RowsInUse& inUse);

// The visible rows, then the previous rows no visible row stands for whose relay is switched on or
// runs (a phone that has gone is shown as such while the user wants it), then a row for each
// switched-on name no row stands for. A row whose phone has gone and whose switch is off leaves.
QVector<DiscoveredDevice> mergeWithPreviousRows(const QVector<DiscoveredDevice>& visible,
                                                const RowsInUse& inUse);

// Two or more rows under one name: the last four characters of each one's phone (its serial
// number, else its serial) tell them apart. Returns the display name of each row.
QStringList distinctRowNames(const QVector<DiscoveredDevice>& rows,
                             const SerialNumbers& serialNumbers);

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

// The controller's view of the cable, as a USB check compares its finding with it.
struct USBView {
    std::optional<QString> observed;  // the serial last seen by cable
    bool connected = false;
    QSet<QString> awaitingReady;  // serials first seen before the user allowed debugging
};

// Whether a check's finding changes anything in that view: the cable's presence, the serial, or a
// phone that was waiting for the user's authorisation and is now ready.
bool usbFindingChangesView(const USBPresence& presence, const USBView& view);

// The pieces of one trimmed line split at spaces and tabs, empty pieces dropped.
QStringList splitFields(const QString& trimmedLine);

}  // namespace sonavel
