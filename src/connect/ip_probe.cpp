#include "connect/ip_probe.h"

#include <QRegularExpression>

namespace sonavel {

const QStringList& ipProbeCommands() {
    static const QStringList commands = {
        QStringLiteral(
            "ip -f inet addr show wlan0 | grep 'inet ' | awk '{print $2}' | cut -d/ -f1"),
        QStringLiteral(
            "ip -f inet addr show wifi0 | grep 'inet ' | awk '{print $2}' | cut -d/ -f1"),
        QStringLiteral("ip route"),
    };
    return commands;
}

std::optional<QString> wifiAddressFromRoutes(const QString& output) {
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const qsizetype dev = fields.indexOf(QStringLiteral("dev"));
        const qsizetype src = fields.indexOf(QStringLiteral("src"));
        if (dev < 0 || src < 0 || dev + 1 >= fields.size() || src + 1 >= fields.size()) {
            continue;
        }
        if (fields[dev + 1].startsWith(QStringLiteral("wlan")) && isIPv4Text(fields[src + 1])) {
            return fields[src + 1];
        }
    }
    return std::nullopt;
}

std::optional<QString> addressFromProbeOutput(const QString& output) {
    const QString first = output.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (first.isEmpty() || !isIPv4Text(first)) {
        return wifiAddressFromRoutes(output);
    }
    return first;
}

bool isIPv4Text(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("\\A(?:[0-9]{1,3}\\.){3}[0-9]{1,3}\\z"));
    return pattern.match(text).hasMatch();
}

}  // namespace sonavel
