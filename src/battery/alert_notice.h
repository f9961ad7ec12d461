#pragma once

#include <QString>
#include <QVector>
#include <functional>

#include "battery/alert_decision.h"
#include "discovery/discovered_device.h"
#include "ui/texts.h"

// What a battery alert tells the user beyond its sound: which phone, how full, and what to do.
// Pure functions of copies of controller state.

namespace sonavel {

// A desktop notification's two texts.
struct AlertNotice {
    QString summary;
    QString body;

    friend bool operator==(const AlertNotice&, const AlertNotice&) = default;
};

// The name the window shows for the phone polled under this identifier: the name of the first of
// `rows` whose serial, else whose ip, is the identifier, else the identifier itself. Callers pass
// the window's rows (connectedTCPIPDevices) before the device list, which a name lookup can
// complete on its own.
QString alertDeviceName(const QVector<DiscoveredDevice>& rows, const QString& identifier);

// The notification for a condition that starts sounding, in the language of `tr`:
// "Low battery" / "Pixel_7 is at 2 %: charge it".
AlertNotice batteryAlertNotice(const BatteryAlertCondition& condition, const QString& deviceName,
                               const std::function<QString(TextKey)>& tr);

}  // namespace sonavel
