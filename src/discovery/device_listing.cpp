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

std::optional<QString> phoneOf(const DiscoveredDevice& row, const SerialNumbers& serialNumbers) {
    if (row.transport == kTransportUSB) {
        return row.serial;
    }
    if (hasIP(row)) {
        if (const auto it = serialNumbers.constFind(*row.ip); it != serialNumbers.cend()) {
            return *it;
        }
    }
    return std::nullopt;
}

bool deviceListingAnswered(int exitStatus, const QString& output) {
    return exitStatus == 0 && output.contains(QLatin1String("List of devices attached"));
}

QStringList endpointsToIdentify(const QVector<DiscoveredDevice>& rows, const SerialNumbers& known) {
    QStringList endpoints;
    for (const DiscoveredDevice& row : rows) {
        if (row.transport == kTransportTCPIP && hasIP(row) && !known.contains(*row.ip) &&
            !endpoints.contains(*row.ip)) {
            endpoints << *row.ip;
        }
    }
    return endpoints;
}

QMap<QString, QString> endpointsMoved(const SerialNumbers& away, const SerialNumbers& listedNow) {
    QMap<QString, QString> moved;
    for (auto gone = away.cbegin(); gone != away.cend(); ++gone) {
        if (listedNow.contains(gone.key())) {
            continue;
        }
        for (auto now = listedNow.cbegin(); now != listedNow.cend(); ++now) {
            if (now.value() == gone.value()) {
                moved.insert(gone.key(), now.key());
                break;
            }
        }
    }
    return moved;
}

namespace {

bool samePhone(const DiscoveredDevice& a, const DiscoveredDevice& b, const SerialNumbers& known) {
    const auto phoneA = phoneOf(a, known);
    const auto phoneB = phoneOf(b, known);
    return phoneA && phoneB && *phoneA == *phoneB;
}

}  // namespace

QVector<DiscoveredDevice> buildVisibleRows(const QVector<DiscoveredDevice>& rows,
                                           const RowsInUse& inUse) {
    const SerialNumbers& known = inUse.serialNumbers;
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
        // The phone's own number first: a twin of the same model listed earlier must not take it.
        for (const DiscoveredDevice& wifi : wifiRows) {
            if (!consumed.contains(*wifi.ip) && samePhone(usb, wifi, known)) {
                partner = &wifi;
                break;
            }
        }
        for (const DiscoveredDevice& wifi : wifiRows) {
            if (partner) {
                break;
            }
            if (!consumed.contains(*wifi.ip) && !phoneOf(wifi, known) &&
                (deviceRowKey(wifi) == key || wifi.name == usb.name)) {
                partner = &wifi;
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
        const bool duplicate = std::any_of(result.begin(), result.end(), [&](const auto& r) {
            return (hasIP(r) && *r.ip == *wifi.ip) || samePhone(r, wifi, known);
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
        if (listed) {
            continue;
        }
        // The phone is still here on USB: its endpoint, and so its switch, stay on its one row.
        const auto phone = phoneOf(old, known);
        const auto usb = std::find_if(result.begin(), result.end(), [&](const auto& r) {
            return r.transport == kTransportUSB && !hasIP(r) && phone && r.serial == *phone;
        });
        if (usb != result.end()) {
            *usb = rebuilt(*usb, old.ip);
        } else {
            result << old;
        }
    }
    return result;
}

QVector<DiscoveredDevice> mergeWithPreviousRows(const QVector<DiscoveredDevice>& visible,
                                                const RowsInUse& inUse) {
    QVector<DiscoveredDevice> merged = visible;
    const auto standsFor = [&merged](const QString& serial, const std::optional<QString>& ip) {
        return std::any_of(merged.begin(), merged.end(), [&](const auto& m) {
            return m.serial == serial || (hasIP(m) && m.ip == ip) || (ip && m.serial == *ip) ||
                   (hasIP(m) && *m.ip == serial);
        });
    };
    for (const DiscoveredDevice& old : inUse.previousRows) {
        const QString key = relayKeyOf(old);
        if ((inUse.enabledEndpoints.contains(key) || inUse.runningEndpoints.contains(key)) &&
            !standsFor(old.serial, old.ip)) {
            merged << old;
        }
    }
    // A switch left on for a phone not seen yet (stored from an earlier run): its row says so and
    // lets the user turn it off.
    QStringList switchedOn(inUse.enabledEndpoints.begin(), inUse.enabledEndpoints.end());
    switchedOn.sort();
    for (const QString& key : switchedOn) {
        const bool wireless = key.contains(QLatin1Char(':'));
        if (standsFor(key, wireless ? std::optional<QString>(key) : std::nullopt)) {
            continue;
        }
        DiscoveredDevice row;
        row.serial = key;
        row.name = key;
        row.state = QStringLiteral("offline");
        row.transport = wireless ? kTransportTCPIP : kTransportUSB;
        if (wireless) {
            row.ip = key;
        }
        merged << row;
    }
    return merged;
}

QStringList distinctRowNames(const QVector<DiscoveredDevice>& rows,
                             const SerialNumbers& serialNumbers) {
    QMap<QString, int> uses;
    for (const DiscoveredDevice& row : rows) {
        ++uses[row.name];
    }
    QStringList names;
    for (const DiscoveredDevice& row : rows) {
        if (uses.value(row.name) < 2) {
            names << row.name;
            continue;
        }
        // An endpoint not asked yet: its address, since every endpoint ends in the same port.
        const QString fallback = hasIP(row) ? row.ip->section(QLatin1Char(':'), 0, 0) : row.serial;
        const QString phone = phoneOf(row, serialNumbers).value_or(fallback);
        names << row.name + QStringLiteral(" (") + phone.right(4) + QLatin1Char(')');
    }
    return names;
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

bool usbFindingChangesView(const USBPresence& presence, const USBView& view) {
    if (presence.found != view.connected) {
        return true;
    }
    if (!presence.found) {
        return false;
    }
    // A phone first seen waiting for the user's authorisation changes nothing else when the user
    // accepts: same serial, same flag. Its turn to "device" counts as a change.
    return view.observed != presence.serial || (presence.state == QStringLiteral("device") &&
                                                view.awaitingReady.contains(presence.serial));
}

}  // namespace sonavel
