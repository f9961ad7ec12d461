#include "battery/alert_decision.h"

#include <algorithm>

namespace sonavel {

std::optional<BatteryAlertKind> batteryAlertKind(int level, bool charging) {
    // Android reports -1 when it cannot read the battery: that is no reading, not an empty
    // battery, and must not loop the alarm.
    if (level < 0) {
        return std::nullopt;
    }
    if (charging) {
        if (level >= kHighBatteryAlertLevel) {
            return BatteryAlertKind::High;
        }
    } else if (level <= kLowBatteryAlertLevel) {
        return BatteryAlertKind::Low;
    }
    return std::nullopt;
}

QVector<BatteryAlertCondition> findBatteryAlertConditions(const QMap<QString, int>& levels,
                                                          const QMap<QString, bool>& charging) {
    QVector<BatteryAlertCondition> found;
    for (auto it = levels.cbegin(); it != levels.cend(); ++it) {
        if (const auto kind = batteryAlertKind(it.value(), charging.value(it.key(), false))) {
            found.append({*kind, it.key(), it.value()});
        }
    }
    return found;
}

std::optional<BatteryAlertCondition> findBatteryAlertCondition(
    const QMap<QString, int>& levels, const QMap<QString, bool>& charging) {
    const QVector<BatteryAlertCondition> found = findBatteryAlertConditions(levels, charging);
    return found.isEmpty() ? std::nullopt : std::optional(found.first());
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
                                        const QMap<QString, bool>& charging,
                                        const std::optional<BatteryAlertCondition>& sounding,
                                        const StoppedBatteryAlerts& stopped) {
    const QVector<BatteryAlertCondition> found = findBatteryAlertConditions(levels, charging);
    const auto holds = [&found](const QString& identifier, BatteryAlertKind kind) {
        return std::any_of(found.cbegin(), found.cend(), [&](const BatteryAlertCondition& c) {
            return c.identifier == identifier && c.kind == kind;
        });
    };

    BatteryAlertDecision decision;
    if (!found.isEmpty()) {
        decision.logLine = batteryAlertLogLine(found.first());
    }
    for (auto it = stopped.cbegin(); it != stopped.cend(); ++it) {
        const bool read = levels.value(it.key(), -1) >= 0;
        if (!read || holds(it.key(), it.value())) {
            decision.stopped.insert(it.key(), it.value());
        }
    }
    for (const BatteryAlertCondition& condition : found) {
        const auto stop = decision.stopped.constFind(condition.identifier);
        if (stop != decision.stopped.cend() && *stop == condition.kind) {
            continue;
        }
        const bool current = sounding && sounding->identifier == condition.identifier &&
                             sounding->kind == condition.kind;
        if (current || !decision.sounding) {
            decision.sounding = condition;
        }
        if (current) {
            break;
        }
    }
    return decision;
}

}  // namespace sonavel
