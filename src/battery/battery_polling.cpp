#include <QUuid>
#include <algorithm>

#include "app/controller.h"
#include "battery/battery_dump_parser.h"
#include "battery/battery_fetch.h"
#include "battery/battery_targets.h"
#include "discovery/device_identity.h"
#include "platform/dispatch.h"

namespace sonavel {

namespace {

// How often relayed phones are polled while relaying is active.
constexpr double kBatteryPollIntervalSec = 60.0;

BatteryFetchLimits fetchLimits(const ZovAdizuZadiRizov& c) {
    return {c.batteryCommandTimeoutSec, 1 + c.batteryMaxRetries};
}

void logCachedLevel(const ZovAdizuZadiRizov& c, const QString& identifier, int cached) {
    c.appendLog(QStringLiteral("[Battery] Using cached level for id=") + identifier +
                QStringLiteral(": ") + QString::number(cached) + QLatin1Char('%'));
}

QStringList currentPollTargets(const ZovAdizuZadiRizov& c) {
    return batteryPollTargets(c.scrcpyProcesses.keys(), c.enabledEndpoints(),
                              c.connectedTCPIPDevices());
}

// Forgets the readings of the identifiers `keep` rejects, and with `cacheToo` their cached levels,
// which a failed query would otherwise bring back. The alert is decided again when one went.
void dropReadings(ZovAdizuZadiRizov& c, const std::function<bool(const QString&)>& keep,
                  bool cacheToo, const QString& why) {
    QStringList ids = c.batteryLevels().keys() + c.batteryCharging().keys();
    if (cacheToo) {
        ids += c.lastBatteryByIdentifier.keys();
    }
    QStringList gone;
    for (const QString& id : ids) {
        if (!keep(id) && !gone.contains(id)) {
            gone << id;
        }
    }
    if (gone.isEmpty()) {
        return;
    }
    c.batteryLevels.mutate([&](QMap<QString, int>& levels) {
        for (const QString& id : gone) {
            levels.remove(id);
        }
    });
    c.batteryCharging.mutate([&](QMap<QString, bool>& charging) {
        for (const QString& id : gone) {
            charging.remove(id);
        }
    });
    if (cacheToo) {
        for (const QString& id : gone) {
            c.lastBatteryByIdentifier.remove(id);
        }
    }
    c.appendLog(QStringLiteral("[Battery] Forgot the readings of ") +
                gone.join(QStringLiteral(", ")) + QStringLiteral(": ") + why);
    c.evaluateBatteryAlerts();
}

// The main-thread half of refreshBatteryLevel.
void applyBatteryReading(ZovAdizuZadiRizov& c, const QString& identifier,
                         const BatteryReading& reading) {
    // Stored only when it differs: a reading like the last one, as most are, then leaves the
    // window as it is instead of redrawing it every minute.
    const auto storeLevel = [&](int level) {
        if (c.batteryLevels().value(identifier, -1) != level) {
            c.batteryLevels.mutate(
                [&](QMap<QString, int>& levels) { levels.insert(identifier, level); });
        }
    };
    if (reading.level) {
        const int level = clampBatteryLevel(*reading.level);
        c.lastBatteryByIdentifier.insert(identifier, level);
        storeLevel(level);
    } else if (c.lastBatteryByIdentifier.contains(identifier)) {
        const int cached = c.lastBatteryByIdentifier.value(identifier);
        storeLevel(cached);
        logCachedLevel(c, identifier, cached);
    }
    if (!c.batteryCharging().contains(identifier) ||
        c.batteryCharging().value(identifier) != reading.charging) {
        c.batteryCharging.mutate(
            [&](QMap<QString, bool>& charging) { charging.insert(identifier, reading.charging); });
    }
    const std::optional<DiscoveredDevice> selected = c.selectedDevice();
    if (selected && selectedDeviceIdentifier(*selected) == identifier &&
        c.batteryLevels().contains(identifier) &&
        c.batteryLevel() != c.batteryLevels().value(identifier)) {
        c.batteryLevel.set(c.batteryLevels().value(identifier));
    }
    c.evaluateBatteryAlerts();
}

// The name lookup's result, back on the main thread. `rowAtLookup` is the row the decision to look
// up was made on (none when the identifier had no row). The device list may have been rebuilt while
// adb was asked, so the decision is checked again against the list of this moment: a list that now
// has a row for the identifier is not replaced by a made-up one, and a row that is gone is not
// brought back.
void applyLookedUpName(ZovAdizuZadiRizov& c, const QString& identifier,
                       const std::optional<DiscoveredDevice>& rowAtLookup, const QString& name) {
    if (!rowAtLookup) {
        if (c.findDeviceRow(identifier)) {
            return;
        }
        const bool wireless = identifier.contains(QLatin1Char(':'));
        DiscoveredDevice row;
        row.serial = identifier;
        row.name = name;
        row.state = QStringLiteral("device");
        row.ip = wireless ? std::optional<QString>(identifier) : std::nullopt;
        row.transport = wireless ? kTransportTCPIP : kTransportUSB;
        c.discoveredDevices.set({row});
        c.selectedDevice.set(row);
        return;
    }

    QVector<DiscoveredDevice> rows = c.discoveredDevices();
    const auto it = std::find(rows.begin(), rows.end(), *rowAtLookup);
    if (it == rows.end()) {
        return;
    }
    DiscoveredDevice named = *it;
    named.name = name;
    named.id = QUuid::createUuid();
    *it = named;
    c.discoveredDevices.set(rows);

    const std::optional<DiscoveredDevice> selected = c.selectedDevice();
    const std::optional<QString> selectedIP = selected ? selected->ip : std::nullopt;
    if ((selected && selected->serial == rowAtLookup->serial) || selectedIP == rowAtLookup->ip) {
        c.selectedDevice.set(named);
    }
}

// Gives the identifier's row a real name when it has none. The lookup runs up to three adb
// commands; a wireless phone that stopped answering keeps each of them waiting, so it runs on a
// worker and only its result comes back to the main thread.
void completeDeviceName(ZovAdizuZadiRizov& c, const QString& identifier) {
    const std::optional<DiscoveredDevice> row = c.findDeviceRow(identifier);
    if (row && !row->name.isEmpty() && row->name != row->serial) {
        return;
    }
    c.runInBackground(QoS::Utility, [identifier, row](const ControllerRef& r) {
        const std::optional<QString> name = lookupDeviceName(r, identifier);
        if (!name) {
            return;
        }
        r.post([identifier, row, name = *name](ZovAdizuZadiRizov& c) {
            applyLookedUpName(c, identifier, row, name);
        });
    });
}

enum class BatteryQuery {
    Poll,  // a tick of the polling: its reading counts only while the phone is still polled
    Once,  // a tap on a row
};

void queryBattery(ZovAdizuZadiRizov& c, const QString& identifier, BatteryQuery query) {
    // An empty identifier would become "adb -s ''", which addresses whichever single device adb
    // has, and file its reading under the empty key.
    if (identifier.isEmpty() || c.batteryFetchesUnderWay.contains(identifier)) {
        return;
    }
    c.batteryFetchesUnderWay.insert(identifier);
    const BatteryFetchLimits limits = fetchLimits(c);
    c.runInBackground(QoS::Utility, [identifier, limits, query](const ControllerRef& r) {
        const BatteryReading reading = fetchBatteryReading(r, identifier, limits);
        r.post([identifier, reading, query](ZovAdizuZadiRizov& c) {
            c.batteryFetchesUnderWay.remove(identifier);
            // Polling stopped, or moved to other phones, while adb was asked: the reading would
            // stay for good, or until the next tick, and could keep an alarm going.
            if (query == BatteryQuery::Poll &&
                (!c.batteryTimer || !currentPollTargets(c).contains(identifier))) {
                return;
            }
            applyBatteryReading(c, identifier, reading);
        });
    });
}

// The main-thread half of refreshSelectedDeviceBattery. It leaves the per-device maps and the
// alerts alone: they follow the relayed devices, not the selection.
void applySelectedDeviceLevel(ZovAdizuZadiRizov& c, const QString& identifier,
                              std::optional<qint64> level) {
    if (level) {
        const int value = clampBatteryLevel(*level);
        c.lastBatteryByIdentifier.insert(identifier, value);
        c.batteryLevel.set(value);
    } else if (c.lastBatteryByIdentifier.contains(identifier)) {
        const int cached = c.lastBatteryByIdentifier.value(identifier);
        c.batteryLevel.set(cached);
        logCachedLevel(c, identifier, cached);
    } else {
        c.batteryLevel.set(std::nullopt);
    }
    completeDeviceName(c, identifier);
}

}  // namespace

void ZovAdizuZadiRizov::startBatteryMonitoring() {
    ref().post([](ZovAdizuZadiRizov& c) {
        c.batteryTimer.reset();
        // The timer belongs to the controller and dies with it, so it may hold the controller.
        c.batteryTimer = std::make_unique<RepeatingTimer>(c.ref().time(), kBatteryPollIntervalSec,
                                                          [&c] { c.refreshAllBatteryLevels(); });
        c.refreshAllBatteryLevels();
    });
}

void ZovAdizuZadiRizov::stopBatteryMonitoring() {
    ref().post([](ZovAdizuZadiRizov& c) {
        c.batteryTimer.reset();
        // Readings that are no longer renewed say nothing about the phones from now on.
        dropReadings(
            c, [](const QString&) { return false; }, false, QStringLiteral("polling stopped"));
    });
}

void ZovAdizuZadiRizov::refreshAllBatteryLevels() {
    Q_ASSERT(isMainThread());
    const QStringList targets = currentPollTargets(*this);
    dropReadings(
        *this, [&targets](const QString& id) { return targets.contains(id); }, false,
        QStringLiteral("no longer polled"));
    for (const QString& identifier : targets) {
        queryBattery(*this, identifier, BatteryQuery::Poll);
    }
}

void ZovAdizuZadiRizov::refreshBatteryLevel(const QString& identifier) {
    Q_ASSERT(isMainThread());
    queryBattery(*this, identifier, BatteryQuery::Once);
}

void ZovAdizuZadiRizov::dropBatteryReadingsNotListed(const QSet<QString>& listedSerials) {
    Q_ASSERT(isMainThread());
    dropReadings(
        *this, [&listedSerials](const QString& id) { return listedSerials.contains(id); }, true,
        QStringLiteral("no longer listed"));
}

void ZovAdizuZadiRizov::refreshSelectedDeviceBattery() {
    const BatteryFetchLimits limits = fetchLimits(*this);
    runInBackground(QoS::Utility, [limits](const ControllerRef& r) {
        const std::optional<QString> identifier = r.read([](ZovAdizuZadiRizov& c) {
            const std::optional<DiscoveredDevice> selected = c.selectedDevice();
            return selected ? selectedDeviceIdentifier(*selected) : c.endpoint();
        });
        if (!identifier || identifier->isEmpty()) {
            return;
        }
        const std::optional<qint64> level = fetchBatteryLevel(r, *identifier, limits);
        r.post([identifier = *identifier, level](ZovAdizuZadiRizov& c) {
            applySelectedDeviceLevel(c, identifier, level);
        });
    });
}

}  // namespace sonavel
