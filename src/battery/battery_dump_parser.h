#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// Reading the output of `adb shell dumpsys battery`. Pure functions: no process, no controller.
//
// A typical dump (Android 13, charging over USB):
//   Current Battery Service state:
//     AC powered: false
//     USB powered: true
//     Wireless powered: false
//     Max charging current: 500000
//     status: 2
//     health: 2
//     present: true
//     level: 85
//     scale: 100
//
// Lines are trimmed and lower-cased before they are matched, so key case and Windows line ends do
// not matter. A line that does not parse is skipped, never an error.

namespace sonavel {

// What one dump says.
struct BatteryDump {
    std::optional<qint64> level;  // the last valid "level:" line; none when there is none
    bool charging = false;        // a charging status or a powered source was seen
};

// Reads the whole dump: the last valid level wins, and every status and power line counts.
BatteryDump parseBatteryDump(const QString& output);

// Reads only the level: the first valid "level:" line, nothing else.
std::optional<qint64> parseFirstBatteryLevel(const QString& output);

// The value of one trimmed, lower-cased line that starts with "level:": the text between the first
// and second colon, trimmed of spaces and tabs, when it is a whole decimal number with an optional
// sign that fits in 64 bits. "level: abc", "level:" and "level: 99999999999999999999" give none.
std::optional<qint64> parseLevelLine(const QString& line);

// The level as the controller stores it. A dump can carry any 64-bit number; saturating keeps a
// huge value huge, where plain truncation could turn 4294967298 into 2 and sound a low alert.
int clampBatteryLevel(qint64 level);

}  // namespace sonavel
