#include "discovery/device_listing.h"

namespace sonavel {

namespace {

const QString kListHeader = QStringLiteral("List of devices");
const QString kDeviceState = QStringLiteral("device");
const QString kUSBPortField = QStringLiteral("usb:");
const QString kModelField = QStringLiteral("model:");

bool isTLSServiceSerial(const QString& serial) {
    const QString lower = serial.toLower();
    return lower.startsWith(QStringLiteral("adb-")) || lower.contains(QStringLiteral("._tcp"));
}

QString nameFromFields(const QStringList& fields, const QString& serial) {
    const QString rest = fields.mid(1).join(QLatin1Char(' '));
    const qsizetype at = rest.indexOf(kModelField);
    if (at < 0) {
        return serial;
    }
    const QStringList after =
        rest.mid(at + kModelField.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return after.isEmpty() ? serial : after.first();
}

bool hasIP(const DiscoveredDevice& row) {
    return row.ip && !row.ip->isEmpty();
}

DiscoveredDevice rebuilt(const DiscoveredDevice& from, const std::optional<QString>& ip) {
    DiscoveredDevice row;  // a fresh id
    row.serial = from.serial;
    row.name = from.name;
    row.state = from.state;
    row.ip = ip;
    row.transport = from.transport;
    return row;
}

}  // namespace

QStringList splitFields(const QString& trimmedLine) {
    QStringList fields;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= trimmedLine.size(); ++i) {
        const bool separator = i == trimmedLine.size() || trimmedLine[i] == QLatin1Char(' ') ||
                               trimmedLine[i] == QLatin1Char('\t');
        if (separator) {
            if (start >= 0) {
                fields << trimmedLine.mid(start, i - start);
                start = -1;
            }
        } else if (start < 0) {
            start = i;
        }
    }
    return fields;
}

DeviceListing parseDeviceListing(const QString& listing) {
    DeviceListing result;
    for (const QStringView rawLine : QStringView(listing).split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed().toString();
        if (line.isEmpty() || line.startsWith(kListHeader)) {
            continue;
        }
        const QStringList fields = splitFields(line);
        if (fields.size() < 2) {
            continue;
        }
        const QString& serial = fields[0];
        const QString state = fields[1].toLower();
        if (!state.contains(kDeviceState)) {
            continue;
        }
        if (isTLSServiceSerial(serial)) {
            result.ignoredTLSSerials << serial;
            continue;
        }
        DiscoveredDevice row;
        if (serial.contains(QLatin1Char(':'))) {
            row.transport = kTransportTCPIP;
            row.ip = serial;
        } else if (line.contains(kUSBPortField)) {
            row.transport = kTransportUSB;
        } else {
            continue;
        }
        row.serial = serial;
        row.name = nameFromFields(fields, serial);
        row.state = state;
        result.rows << row;
    }
    return result;
}

QString deviceRowKey(const DiscoveredDevice& row) {
    const QString name = row.name.trimmed().toLower();
    if (!name.isEmpty() && name != row.serial.toLower()) {
        return name;
    }
    return hasIP(row) ? row.ip->toLower() : row.serial.toLower();
}

QVector<DiscoveredDevice> buildVisibleRows(const QVector<DiscoveredDevice>& rows,
                                           const RowsInUse& inUse) {
    QVector<DiscoveredDevice> usbRows;
    QVector<DiscoveredDevice> wifiRows;
    for (const DiscoveredDevice& row : rows) {
        if (row.transport == kTransportUSB) {
            usbRows << row;
        } else if (row.transport == kTransportTCPIP && hasIP(row)) {
            wifiRows << row;
        }
    }

    QSet<QString> consumed;
    QVector<DiscoveredDevice> result;
    for (const DiscoveredDevice& usb : usbRows) {
        const QString key = deviceRowKey(usb);
        const DiscoveredDevice* partner = nullptr;
        for (const DiscoveredDevice& wifi : wifiRows) {
            if (!consumed.contains(*wifi.ip) &&
                (deviceRowKey(wifi) == key || wifi.name == usb.name)) {
                partner = &wifi;
                break;
            }
        }
        if (partner) {
            consumed.insert(*partner->ip);
            result << rebuilt(usb, partner->ip);
        } else {
            result << usb;
        }
    }

    for (const DiscoveredDevice& wifi : wifiRows) {
        if (consumed.contains(*wifi.ip)) {
            continue;
        }
        const QString key = deviceRowKey(wifi);
        const bool duplicate = std::any_of(result.begin(), result.end(), [&](const auto& r) {
            return (hasIP(r) && *r.ip == *wifi.ip) || deviceRowKey(r) == key;
        });
        if (!duplicate) {
            result << wifi;
            consumed.insert(*wifi.ip);
        }
    }

    for (const DiscoveredDevice& old : inUse.previousRows) {
        if (!hasIP(old)) {
            continue;
        }
        const QString& ip = *old.ip;
        const bool used = inUse.enabledEndpoints.contains(ip) ||
                          inUse.runningEndpoints.contains(ip) ||
                          inUse.batteryEndpoints.contains(ip);
        if (!used) {
            continue;
        }
        const bool listed = std::any_of(result.begin(), result.end(), [&](const auto& r) {
            return r.ip == old.ip || r.serial == old.serial;
        });
        if (!listed) {
            result << old;
        }
    }
    return result;
}

QVector<DiscoveredDevice> mergeWithPreviousRows(const QVector<DiscoveredDevice>& visible,
                                                const QVector<DiscoveredDevice>& previous) {
    QVector<DiscoveredDevice> merged = visible;
    for (const DiscoveredDevice& old : previous) {
        const bool matched = std::any_of(merged.begin(), merged.end(), [&](const auto& m) {
            return m.serial == old.serial || m.ip == old.ip ||
                   (!m.name.isEmpty() && m.name == old.name);
        });
        if (!matched) {
            merged << old;
        }
    }
    return merged;
}

std::optional<DiscoveredDevice> findDeviceRow(const QVector<DiscoveredDevice>& rows,
                                              const QString& identifier) {
    for (const DiscoveredDevice& row : rows) {
        if (row.serial == identifier) {
            return row;
        }
    }
    for (const DiscoveredDevice& row : rows) {
        if (row.ip && *row.ip == identifier) {
            return row;
        }
    }
    return std::nullopt;
}

USBPresence findUSBDevice(const QString& listing) {
    for (const QStringView rawLine : QStringView(listing).split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed().toString();
        if (line.isEmpty() || line.startsWith(kListHeader)) {
            continue;
        }
        const QStringList fields = splitFields(line);
        if (fields.size() < 2) {
            continue;
        }
        const QString& serial = fields[0];
        if (serial.contains(QLatin1Char(':')) ||
            serial.toLower().startsWith(QStringLiteral("adb-"))) {
            continue;
        }
        if (line.contains(kUSBPortField)) {
            return {true, serial, fields[1].toLower()};
        }
    }
    return {};
}

}  // namespace sonavel
