#pragma once

#include <QString>

// `adb shell dumpsys battery` as phones print it (indentation and key case as captured).

namespace sonavel::test {

// Android 13, charging from a computer's USB port.
inline const QString kDumpUSBCharging = QStringLiteral(
    "Current Battery Service state:\n"
    "  AC powered: false\n"
    "  USB powered: true\n"
    "  Wireless powered: false\n"
    "  Max charging current: 500000\n"
    "  Max charging voltage: 5000000\n"
    "  Charge counter: 2488000\n"
    "  status: 2\n"
    "  health: 2\n"
    "  present: true\n"
    "  level: 57\n"
    "  scale: 100\n"
    "  voltage: 4012\n"
    "  temperature: 291\n"
    "  technology: Li-ion\n");

// Android 14, on a wall charger; newer releases add the charging state and policy lines.
inline const QString kDumpACCharging = QStringLiteral(
    "Current Battery Service state:\n"
    "  AC powered: true\n"
    "  USB powered: false\n"
    "  Wireless powered: false\n"
    "  Dock powered: false\n"
    "  Max charging current: 3000000\n"
    "  Max charging voltage: 9000000\n"
    "  Charge counter: 3890000\n"
    "  status: 2\n"
    "  health: 2\n"
    "  present: true\n"
    "  level: 85\n"
    "  scale: 100\n"
    "  voltage: 4301\n"
    "  temperature: 305\n"
    "  technology: Li-ion\n"
    "  Charging state: 1\n"
    "  Charging policy: 1\n"
    "  Capacity level: 3\n");

// On a wireless charging pad.
inline const QString kDumpWirelessCharging = QStringLiteral(
    "Current Battery Service state:\n"
    "  AC powered: false\n"
    "  USB powered: false\n"
    "  Wireless powered: true\n"
    "  Max charging current: 1000000\n"
    "  Max charging voltage: 5000000\n"
    "  Charge counter: 1730000\n"
    "  status: 2\n"
    "  health: 2\n"
    "  present: true\n"
    "  level: 40\n"
    "  scale: 100\n"
    "  voltage: 3890\n"
    "  temperature: 310\n"
    "  technology: Li-ion\n");

// Full on a wall charger: status 5 (full), still powered.
inline const QString kDumpFull = QStringLiteral(
    "Current Battery Service state:\n"
    "  AC powered: true\n"
    "  USB powered: false\n"
    "  Wireless powered: false\n"
    "  Max charging current: 0\n"
    "  Max charging voltage: 0\n"
    "  Charge counter: 4500000\n"
    "  status: 5\n"
    "  health: 2\n"
    "  present: true\n"
    "  level: 100\n"
    "  scale: 100\n"
    "  voltage: 4385\n"
    "  temperature: 282\n"
    "  technology: Li-ion\n");

// Unplugged and nearly empty: status 3 (discharging).
inline const QString kDumpDischargingLow = QStringLiteral(
    "Current Battery Service state:\n"
    "  AC powered: false\n"
    "  USB powered: false\n"
    "  Wireless powered: false\n"
    "  Max charging current: 0\n"
    "  Max charging voltage: 0\n"
    "  Charge counter: 61000\n"
    "  status: 3\n"
    "  health: 2\n"
    "  present: true\n"
    "  level: 1\n"
    "  scale: 100\n"
    "  voltage: 3402\n"
    "  temperature: 268\n"
    "  technology: Li-ion\n");

// The text as a fake tool's "outraw" argument (line feeds, returns, tabs and backslashes escaped).
inline QString fakeOutArgument(QString text) {
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return text;
}

}  // namespace sonavel::test
