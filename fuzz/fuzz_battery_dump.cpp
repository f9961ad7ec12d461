// Fuzzes the reading of "adb shell dumpsys battery".

#include <fuzzer/FuzzedDataProvider.h>

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

    // A dump in the phone's own layout, with values drawn from the input, reads as written.
    FuzzedDataProvider input(data, size);
    const qint64 level = input.ConsumeIntegral<qint64>();
    const bool powered[3] = {input.ConsumeBool(), input.ConsumeBool(), input.ConsumeBool()};
    static const char* const statuses[] = {
        "1", "2", "3", "4", "5", "Charging", "Discharging", "Not charging", "Full"};
    const int status = input.ConsumeIntegralInRange<int>(0, 8);
    const auto yes = [](bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); };
    const QString written = QStringLiteral(
                                "Current Battery Service state:\n"
                                "  AC powered: %1\n  USB powered: %2\n"
                                "  Wireless powered: %3\n  status: %4\n"
                                "  health: 2\n  present: true\n  level: %5\n"
                                "  scale: 100\n")
                                .arg(yes(powered[0]), yes(powered[1]), yes(powered[2]),
                                     QLatin1String(statuses[status]), QString::number(level));
    const BatteryDump back = parseBatteryDump(written);
    FUZZ_CHECK(back.level == level);
    FUZZ_CHECK(back.charging ==
               (powered[0] || powered[1] || powered[2] || status == 1 || status == 5));
    return 0;
}
