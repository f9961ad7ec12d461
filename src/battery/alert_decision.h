#pragma once

#include <QMap>
#include <QString>
#include <QVector>
#include <optional>

// Deciding the battery alert from the latest readings. Pure: the controller applies the decision.

namespace sonavel {

// A charging phone at this level or above is full enough to unplug.
inline constexpr int kHighBatteryAlertLevel = 85;
// A phone that is not charging at this level or below is about to switch off. Deliberately low:
// the alert is for "plug it in now", not for the phone's own low-battery warning at 20 %.
inline constexpr int kLowBatteryAlertLevel = 2;

enum class BatteryAlertKind { Low, High };

// One phone meeting an alert condition. The identifier is the one the reading was polled under.
struct BatteryAlertCondition {
    BatteryAlertKind kind;
    QString identifier;
    int level;

    friend bool operator==(const BatteryAlertCondition&, const BatteryAlertCondition&) = default;
};

// The condition one reading meets, if any: high while charging, low while not charging.
std::optional<BatteryAlertKind> batteryAlertKind(int level, bool charging);

// Every device that meets a condition, in the map's own (key) order; a device without a charging
// entry counts as not charging.
QVector<BatteryAlertCondition> findBatteryAlertConditions(const QMap<QString, int>& levels,
                                                          const QMap<QString, bool>& charging);

// The first of them.
std::optional<BatteryAlertCondition> findBatteryAlertCondition(const QMap<QString, int>& levels,
                                                               const QMap<QString, bool>& charging);

// The log line for a condition, e.g. "[BatteryAlert] Low battery alert: 2%".
QString batteryAlertLogLine(const BatteryAlertCondition& condition);

// Conditions the user stopped, by identifier: a phone meets at most one condition at a time.
using StoppedBatteryAlerts = QMap<QString, BatteryAlertKind>;

// What one evaluation leaves behind.
struct BatteryAlertDecision {
    // Written at every evaluation that finds a condition (the first one, stopped or not).
    std::optional<QString> logLine;
    // The condition the alert sounds for from now on; none when it is quiet.
    std::optional<BatteryAlertCondition> sounding;
    // The user's stops that still hold.
    StoppedBatteryAlerts stopped;
};

// Decides from the current readings, the condition sounding so far (none when quiet) and the
// conditions the user stopped:
// - A stop holds until a reading of that phone no longer meets that condition. A phone without a
//   current reading (it left, or is not polled any more) keeps its stop: nothing says it cleared.
// - The condition sounding so far keeps sounding while it holds, so that a second phone does not
//   take the alert over; otherwise the first condition that is not stopped sounds.
BatteryAlertDecision decideBatteryAlert(const QMap<QString, int>& levels,
                                        const QMap<QString, bool>& charging,
                                        const std::optional<BatteryAlertCondition>& sounding,
                                        const StoppedBatteryAlerts& stopped);

}  // namespace sonavel
