#pragma once

#include <QMap>
#include <QString>
#include <optional>

// Deciding the battery alert from the latest readings. Pure: the controller applies the decision.

namespace sonavel {

// A charging phone at this level or above is full enough to unplug.
inline constexpr int kHighBatteryAlertLevel = 85;
// A phone that is not charging at this level or below is about to switch off. Deliberately low:
// the alert is for "plug it in now", not for the phone's own low-battery warning at 20 %.
inline constexpr int kLowBatteryAlertLevel = 2;

enum class BatteryAlertKind { Low, High };

// The first device that meets an alert condition.
struct BatteryAlertCondition {
    BatteryAlertKind kind;
    QString identifier;
    int level;
};

// Walks the levels in the map's own (key) order and returns the first entry that is high while
// charging, or low while not charging; a device without a charging entry counts as not charging.
std::optional<BatteryAlertCondition> findBatteryAlertCondition(const QMap<QString, int>& levels,
                                                               const QMap<QString, bool>& charging);

// The log line for a condition, e.g. "[BatteryAlert] Low battery alert: 2%".
QString batteryAlertLogLine(const BatteryAlertCondition& condition);

// What one evaluation does, given the readings and the alert's state.
struct BatteryAlertDecision {
    std::optional<QString> logLine;  // written at every evaluation that finds a condition
    bool startSound = false;         // a condition, and neither playing nor silenced by the user
    bool stopSound = false;          // no condition while the sound plays
    bool clearSuppression = false;   // no condition: a later condition may sound again
};

BatteryAlertDecision decideBatteryAlert(const QMap<QString, int>& levels,
                                        const QMap<QString, bool>& charging, bool playing,
                                        bool suppressed);

}  // namespace sonavel
