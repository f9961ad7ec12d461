#include "connect/ip_probe.h"

#include <QRegularExpression>

namespace sonavel {

const QStringList& ipProbeCommands() {
    static const QStringList commands = {
        QStringLiteral(
            "ip -f inet addr show wlan0 | grep 'inet ' | awk '{print $2}' | cut -d/ -f1"),
        QStringLiteral(
            "ip -f inet addr show wifi0 | grep 'inet ' | awk '{print $2}' | cut -d/ -f1"),
        QStringLiteral("ip route get 1 | awk '{print $7; exit}'"),
    };
    return commands;
}

bool isIPv4Text(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("\\A(?:[0-9]{1,3}\\.){3}[0-9]{1,3}\\z"));
    return pattern.match(text).hasMatch();
}

}  // namespace sonavel
