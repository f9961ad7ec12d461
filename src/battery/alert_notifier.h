#pragma once

#include <functional>
#include <memory>

#include "battery/alert_notice.h"

namespace sonavel {

// Desktop notifications of battery alerts, one at a time: a new notice replaces the one shown.
// Behind an interface because tests cannot see the desktop: they record what would be shown.
//
// Main thread only. Neither call waits for the desktop: without a notification service (or
// without a desktop session at all) both do nothing, and nothing waits.
class AlertNotifier {
public:
    virtual ~AlertNotifier() = default;
    virtual void show(const AlertNotice& notice) = 0;
    // Takes the notice shown, if any, off the screen.
    virtual void withdraw() = 0;
};

// The platform's notifier: the freedesktop notification service over the session D-Bus, or the
// user notifications of macOS (none outside an application bundle). `clicked` runs on the main
// thread when the user clicks the notice.
std::unique_ptr<AlertNotifier> makePlatformAlertNotifier(std::function<void()> clicked);

}  // namespace sonavel
