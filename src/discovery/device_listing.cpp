#include "discovery/device_listing.h"

#include <QStringTokenizer>

#include "discovery/line_fields.h"

namespace sonavel {

namespace {

// Where needle first occurs in text, or -1. The fields searched here are short and their first
// letters rare, so finding that letter with Qt's vectorised character search and comparing is
// several times faster than the general substring search.
qsizetype findField(QStringView text, QStringView needle) {
    qsizetype at = text.indexOf(needle.front());
    while (at >= 0) {
        if (text.mid(at).startsWith(needle)) {
            return at;
        }
        at = text.indexOf(needle.front(), at + 1);
    }
    return -1;
}

bool isListHeader(QStringView line) {
    return line.startsWith(u"List of devices");
}

bool isTLSServiceSerial(QStringView serial) {
    return serial.startsWith(u"adb-", Qt::CaseInsensitive) ||
           (serial.contains(u'_') && serial.contains(u"._tcp", Qt::CaseInsensitive));
}

// The state word lower-cased; the usual one is shared rather than copied.
QString stateWord(QStringView state) {
    static const QString device = QStringLiteral("device");
    return state == device ? device : state.toString().toLower();
}

bool isUsableState(QStringView state) {
    return state == u"device" || state.contains(u"device", Qt::CaseInsensitive);
}

// The first piece after the first "model:" of the fields from the state on, or none. Searching
// the line itself gives the same piece as searching those fields joined by single spaces.
QStringView modelName(QStringView fromState) {
    const qsizetype at = findField(fromState, u"model:");
    if (at < 0) {
        return {};
    }
    return FieldCursor(fromState.mid(at + 6)).next();
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
    FieldCursor cursor(trimmedLine);
    for (QStringView field = cursor.next(); !field.isEmpty(); field = cursor.next()) {
        fields << field.toString();
    }
    return fields;
}

DeviceListing parseDeviceListing(const QString& listing) {
    DeviceListing result;
    for (const QStringView rawLine : QStringTokenizer(listing, u'\n')) {
        const QStringView line = rawLine.trimmed();
        if (line.isEmpty() || isListHeader(line)) {
            continue;
        }
        FieldCursor fields(line);
        const QStringView serial = fields.next();
        const QStringView state = fields.next();
        const QStringView fromState = line.mid(fields.start());
        if (state.isEmpty() || !isUsableState(state)) {
            continue;
        }
        if (isTLSServiceSerial(serial)) {
            result.ignoredTLSSerials << serial.toString();
            continue;
        }
        DiscoveredDevice row;
        row.serial = serial.toString();
        if (serial.contains(u':')) {
            row.transport = kTransportTCPIP;
            row.ip = row.serial;
        } else if (findField(line, u"usb:") >= 0) {
            row.transport = kTransportUSB;
        } else {
            continue;
        }
        const QStringView model = modelName(fromState);
        row.name = model.isEmpty() ? row.serial : model.toString();
        row.state = stateWord(state);
        result.rows.append(std::move(row));
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
    for (const QStringView rawLine : QStringTokenizer(listing, u'\n')) {
        const QStringView line = rawLine.trimmed();
        if (line.isEmpty() || isListHeader(line)) {
            continue;
        }
        FieldCursor fields(line);
        const QStringView serial = fields.next();
        const QStringView state = fields.next();
        if (state.isEmpty() || serial.contains(u':') ||
            serial.startsWith(u"adb-", Qt::CaseInsensitive)) {
            continue;
        }
        if (line.contains(u"usb:")) {
            return {true, serial.toString(), state.toString().toLower()};
        }
    }
    return {};
}

}  // namespace sonavel
