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

// One device line of a listing, with its first two fields read:
//   "R5CT1234               device usb:1-1 product:p model:SM_S918B device:d transport_id:1"
struct DeviceLine {
    QStringView line;
    QStringView serial;
    QStringView state;
    QStringView fromState;  // the rest of the line from the state on
};

// Calls visit on each line that is not blank, not the header and has a state; stops at the first
// line for which visit returns true.
template <typename Visit>
void forEachDeviceLine(const QString& listing, Visit&& visit) {
    for (const QStringView rawLine : QStringTokenizer(listing, u'\n')) {
        const QStringView line = rawLine.trimmed();
        if (line.isEmpty() || isListHeader(line)) {
            continue;
        }
        FieldCursor fields(line);
        const QStringView serial = fields.next();
        const QStringView state = fields.next();
        if (state.isEmpty()) {
            continue;
        }
        if (visit(DeviceLine{line, serial, state, line.mid(fields.start())})) {
            return;
        }
    }
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
    forEachDeviceLine(listing, [&](const DeviceLine& d) {
        if (!isUsableState(d.state)) {
            return false;
        }
        if (isTLSServiceSerial(d.serial)) {
            result.ignoredTLSSerials << d.serial.toString();
            return false;
        }
        DiscoveredDevice row;
        row.serial = d.serial.toString();
        if (d.serial.contains(u':')) {
            row.transport = kTransportTCPIP;
            row.ip = row.serial;
        } else if (findField(d.line, u"usb:") >= 0) {
            row.transport = kTransportUSB;
        } else {
            return false;
        }
        const QStringView model = modelName(d.fromState);
        row.name = model.isEmpty() ? row.serial : model.toString();
        row.state = stateWord(d.state);
        result.rows.append(std::move(row));
        return false;
    });
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
    USBPresence found;
    forEachDeviceLine(listing, [&](const DeviceLine& d) {
        if (d.serial.contains(u':') || d.serial.startsWith(u"adb-", Qt::CaseInsensitive) ||
            !d.line.contains(u"usb:")) {
            return false;
        }
        found = {true, d.serial.toString(), d.state.toString().toLower()};
        return true;
    });
    return found;
}

}  // namespace sonavel
