#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace sonavel {

// The shell command lines that ask a phone for its Wi-Fi IPv4 address, tried in this order: the
// "wlan0" interface, the "wifi0" interface (some vendors name it so), then the routing table, in
// which any "wlan" interface counts. Each is passed to the phone's shell as one argument.
const QStringList& ipProbeCommands();

// The source address of the first route through a Wi-Fi ("wlan") interface in the output of
// "ip route". Routes through mobile data ("rmnet_data0") or a 464XLAT tunnel ("v4-rmnet_data0",
// whose address is 192.0.0.4) reach no computer on the user's network, so they never count.
// One line looks like:
//   192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.23
std::optional<QString> wifiAddressFromRoutes(const QString& output);

// The address in the output of one IP probe command: the first line, trimmed, when it is an IPv4
// address, else the Wi-Fi route's source address of a routing table. An error text ("Device
// "wlan0" does not exist."), a second address on a later line and an empty output give none or
// are ignored.
std::optional<QString> addressFromProbeOutput(const QString& output);

// True when the whole text is four groups of one to three digits joined by dots. The groups are
// not range-tested: the probe only has to tell an address from an error message.
bool isIPv4Text(const QString& text);

}  // namespace sonavel
