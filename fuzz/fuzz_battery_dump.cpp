// Fuzzes the reading of "adb shell dumpsys battery".

#include <cstddef>
#include <cstdint>

#include "battery/battery_dump_parser.h"
#include "fuzz_check.h"

using namespace sonavel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString output =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const BatteryDump dump = parseBatteryDump(output);
    const std::optional<qint64> first = parseFirstBatteryLevel(output);

    // Both readers accept the same lines: one finds a level exactly when the other does.
    FUZZ_CHECK(dump.level.has_value() == first.has_value());
    if (dump.level) {
        // A level read back from the line it would be written as is the same number.
        const QString line = QStringLiteral("level: %1").arg(*dump.level);
        FUZZ_CHECK(parseLevelLine(line) == dump.level);
        FUZZ_CHECK(parseFirstBatteryLevel(line) == dump.level);
        const int stored = clampBatteryLevel(*dump.level);
        FUZZ_CHECK(stored == *dump.level || (*dump.level > 0) == (stored > 0));
    }
    return 0;
}
