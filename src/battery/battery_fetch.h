#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

#include "app/controller_ref.h"

// Fetching battery readings from a phone with `adb -s <id> shell dumpsys battery`.
//
// Blocking: each fetch runs up to three adb commands with a pause after every failed one, so call
// these from a worker only. They touch no controller state (the ref only runs adb, sleeps and
// logs), so a controller destroyed during a fetch is never reached.

namespace sonavel {

struct BatteryFetchLimits {
    // Flow seconds above which a command is reported as slow. It is only reported: a phone that
    // answers late still gives a good reading, and cutting adb short would lose it.
    double slowCommandSec = 5.0;
    int attempts = 3;
};

struct BatteryReading {
    std::optional<qint64> level;  // none when no attempt produced a level
    bool charging = false;        // raised by any attempt's status or power lines
};

// The pause after each failed attempt, in flow seconds; it also follows the last one.
inline constexpr double kBatteryRetryPauseSec = 0.3;

// Level and charging state. Charging evidence from an attempt without a level still counts, since
// a dump cut short can show "AC powered: true" before it reaches the level line.
BatteryReading fetchBatteryReading(const ControllerRef& ref, const QString& identifier,
                                   const BatteryFetchLimits& limits);

// The level only: the first valid level line of the first attempt that has one.
std::optional<qint64> fetchBatteryLevel(const ControllerRef& ref, const QString& identifier,
                                        const BatteryFetchLimits& limits);

// "[Battery] Timeout (6.0123s) on attempt #1 for id=<identifier>".
QString batterySlowCommandLogLine(double elapsedSec, int attempt, const QString& identifier);

}  // namespace sonavel
