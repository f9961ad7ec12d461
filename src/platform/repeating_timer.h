#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "platform/time_source.h"

namespace sonavel {

// A repeating timer on the main run loop. The callback runs on the main thread; destroying the
// timer (or calling invalidate) stops it for good, as an invalidated timer does: a tick already
// queued when that happens does not run.
class RepeatingTimer {
public:
    RepeatingTimer(const TimeSource& time, double seconds, std::function<void()> tick);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void invalidate();
    bool isValid() const { return timer_ != nullptr || virtualTicks_ != nullptr; }

    struct VirtualTicks;

private:
    void scheduleVirtualTick();
    static void scheduleNext(const std::shared_ptr<VirtualTicks>& ticks);

    std::unique_ptr<QTimer> timer_;
    std::shared_ptr<VirtualTicks> virtualTicks_;
};

}  // namespace sonavel
