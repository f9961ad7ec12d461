#include "battery/battery_fetch.h"

#include <QLocale>
#include <functional>

#include "battery/battery_dump_parser.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

// Runs the attempts until `parse` accepts one successful output. The slow-command check reads
// flow time, so that a test run reports the same way as the application does in real time.
void runBatteryAttempts(const ControllerRef& ref, const QString& identifier,
                        const BatteryFetchLimits& limits,
                        const std::function<bool(const QString&)>& parse) {
    for (int attempt = 1; attempt <= limits.attempts; ++attempt) {
        // A controller that went away meanwhile wants no further queries.
        if (!ref.alive()) {
            return;
        }
        const double started = ref.time().now();
        const AdbResult result = ref.runADB(adb::dumpsysBattery(identifier));
        const double elapsedSec = ref.time().now() - started;
        if (elapsedSec > limits.slowCommandSec) {
            ref.appendLog(batterySlowCommandLogLine(elapsedSec, attempt, identifier));
        }
        if (result.status == 0 && parse(result.output)) {
            return;
        }
        ref.sleep(kBatteryRetryPauseSec);
    }
}

}  // namespace

BatteryReading fetchBatteryReading(const ControllerRef& ref, const QString& identifier,
                                   const BatteryFetchLimits& limits) {
    BatteryReading reading;
    runBatteryAttempts(ref, identifier, limits, [&](const QString& output) {
        const BatteryDump dump = parseBatteryDump(output);
        reading.charging = reading.charging || dump.charging;
        reading.level = dump.level;
        return dump.level.has_value();
    });
    return reading;
}

std::optional<qint64> fetchBatteryLevel(const ControllerRef& ref, const QString& identifier,
                                        const BatteryFetchLimits& limits) {
    std::optional<qint64> level;
    runBatteryAttempts(ref, identifier, limits, [&](const QString& output) {
        level = parseFirstBatteryLevel(output);
        return level.has_value();
    });
    return level;
}

QString batterySlowCommandLogLine(double elapsedSec, int attempt, const QString& identifier) {
    return QStringLiteral("[Battery] Timeout (") +
           QString::number(elapsedSec, 'f', QLocale::FloatingPointShortest) +
           QStringLiteral("s) on attempt #") + QString::number(attempt) +
           QStringLiteral(" for id=") + identifier;
}

}  // namespace sonavel
