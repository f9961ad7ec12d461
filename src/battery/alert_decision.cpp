#include "battery/alert_decision.h"

namespace sonavel {

std::optional<BatteryAlertCondition> findBatteryAlertCondition(
    const QMap<QString, int>& levels, const QMap<QString, bool>& charging) {
    for (auto it = levels.cbegin(); it != levels.cend(); ++it) {
        const int level = it.value();
        // Android reports -1 when it cannot read the battery: that is no reading, not an empty
        // battery, and must not loop the alarm.
        if (level < 0) {
            continue;
        }
        if (charging.value(it.key(), false)) {
            if (level >= kHighBatteryAlertLevel) {
                return BatteryAlertCondition{BatteryAlertKind::High, it.key(), level};
            }
        } else if (level <= kLowBatteryAlertLevel) {
            return BatteryAlertCondition{BatteryAlertKind::Low, it.key(), level};
        }
    }
    return std::nullopt;
}

QString batteryAlertLogLine(const BatteryAlertCondition& condition) {
    if (condition.kind == BatteryAlertKind::Low) {
        return QStringLiteral("[BatteryAlert] Low battery alert: ") +
               QString::number(condition.level) + QLatin1Char('%');
    }
    return QStringLiteral("[BatteryAlert] High battery alert: ") +
           QString::number(condition.level) + QStringLiteral("% charging");
}

BatteryAlertDecision decideBatteryAlert(const QMap<QString, int>& levels,
                                        const QMap<QString, bool>& charging, bool playing,
                                        bool suppressed) {
    BatteryAlertDecision decision;
    if (const auto condition = findBatteryAlertCondition(levels, charging)) {
        decision.logLine = batteryAlertLogLine(*condition);
        decision.startSound = !playing && !suppressed;
        return decision;
    }
    decision.stopSound = playing;
    decision.clearSuppression = true;
    return decision;
}

}  // namespace sonavel
