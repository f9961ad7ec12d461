#pragma once

#include <QString>
#include <QStringList>

namespace sonavel {

// The shell command lines that ask a phone for its Wi-Fi IPv4 address, tried in this order: the
// "wlan0" interface, the "wifi0" interface (some vendors name it so), then the source address the
// phone would use to reach 0.0.0.1. Each is passed to the phone's shell as one argument.
const QStringList& ipProbeCommands();

// True when the whole text is four groups of one to three digits joined by dots. The groups are
// not range-tested: the probe only has to tell an address from an error message.
bool isIPv4Text(const QString& text);

}  // namespace sonavel
