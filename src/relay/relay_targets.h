#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

#include "discovery/discovered_device.h"

// Which endpoints a relay start uses. Pure: the start reads the lists on the main thread and
// decides here.

namespace sonavel {

// A wireless endpoint ("host:port") has to be connected with adb before scrcpy can reach it; any
// other endpoint is a USB serial.
inline bool isWirelessEndpoint(const QString& endpoint) {
    return endpoint.contains(QLatin1Char(':'));
}

// USB first: the USB rows in state "device", in list order; only when there is none, the
// endpoints of the wireless rows that have one, in list order. Each phone is named as its row's
// switch names it (relayKeyOf): the endpoint of a USB row paired with one, else its serial.
QStringList relayCandidates(const QVector<DiscoveredDevice>& devices,
                            const QVector<DiscoveredDevice>& tcpipDevices);

// The USB serial over which the phone named `key` can be relayed now, if it is attached and
// ready: its relay then runs over the cable, under the name `key`.
std::optional<QString> usbSerialCarrying(const QString& key,
                                         const QVector<DiscoveredDevice>& devices);

struct RelayTargets {
    QStringList targets;
    // Set when the enabled endpoints were empty and several candidates exist: on first use every
    // device is relayed, so all candidates become enabled.
    std::optional<QSet<QString>> seededEnabled;
};

// One candidate is relayed as it is, whatever is enabled. With several, the enabled ones are
// relayed in candidate order (all of them when nothing is enabled yet).
RelayTargets chooseRelayTargets(const QStringList& candidates, const QSet<QString>& enabled);

}  // namespace sonavel
