#pragma once

#include <QString>
#include <QUuid>
#include <optional>

namespace sonavel {

inline const QString kTransportUSB = QStringLiteral("usb");
inline const QString kTransportTCPIP = QStringLiteral("tcpip");

// One row of the device list. A plain value: every rebuilt row gets a fresh id, so rows of two
// refreshes never compare equal; flows that look for "the same device" compare serial or ip.
struct DiscoveredDevice {
    QUuid id = QUuid::createUuid();
    QString
        serial;     // USB serial, or for a wireless device the endpoint "host:port" as adb lists it
    QString name;   // the listing's model (underscores kept), else the serial
    QString state;  // adb's state word, lower-cased; only "device" is usable
    std::optional<QString> ip;  // endpoint that reaches the device (paired wireless row), if any
    QString transport;          // kTransportUSB or kTransportTCPIP

    friend bool operator==(const DiscoveredDevice&, const DiscoveredDevice&) = default;
};

}  // namespace sonavel
