#pragma once

#include <QString>
#include <QUuid>
#include <optional>

namespace sonavel {

inline const QString kTransportUSB = QStringLiteral("usb");
inline const QString kTransportTCPIP = QStringLiteral("tcpip");

// A fresh random (version 4) UUID for a row. Rows are rebuilt on every refresh, so this is drawn
// from the application's seeded generator rather than from the system's entropy source, which
// costs a system call per id.
QUuid newRowId();

// One row of the device list. A plain value: every rebuilt row gets a fresh id, so rows of two
// refreshes never compare equal; flows that look for "the same device" compare serial or ip.
struct DiscoveredDevice {
    QUuid id = newRowId();
    // USB serial, or for a wireless device the endpoint "host:port" as adb lists it.
    QString serial;
    QString name;               // the listing's model (underscores kept), else the serial
    QString state;              // adb's state word, lower-cased; only "device" is usable
    std::optional<QString> ip;  // endpoint that reaches the device (paired wireless row), if any
    QString transport;          // kTransportUSB or kTransportTCPIP

    friend bool operator==(const DiscoveredDevice&, const DiscoveredDevice&) = default;
};

// The name a row's relay switch and settings go by: its wireless endpoint when it has one, else
// its USB serial. A relay runs under this name whichever transport carries it.
inline QString relayKeyOf(const DiscoveredDevice& row) {
    return row.ip ? *row.ip : row.serial;
}

}  // namespace sonavel
