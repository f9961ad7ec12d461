#include "battery/alert_notice.h"

#include "discovery/device_listing.h"

namespace sonavel {

QString alertDeviceName(const QVector<DiscoveredDevice>& rows, const QString& identifier) {
    const std::optional<DiscoveredDevice> row = findDeviceRow(rows, identifier);
    return row && !row->name.trimmed().isEmpty() ? row->name : identifier;
}

AlertNotice batteryAlertNotice(const BatteryAlertCondition& condition, const QString& deviceName,
                               const std::function<QString(TextKey)>& tr) {
    const bool low = condition.kind == BatteryAlertKind::Low;
    const QString level = QString::number(condition.level);
    return {tr(low ? TextKey::batteryLowNoticeTitle : TextKey::batteryHighNoticeTitle),
            tr(low ? TextKey::batteryLowNoticeBody : TextKey::batteryHighNoticeBody)
                .arg(deviceName, level)};
}

}  // namespace sonavel
