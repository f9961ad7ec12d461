#include "platform/repeating_timer.h"

#include "platform/dispatch.h"

namespace sonavel {

// On a virtual clock each tick is one scheduled action that queues the callback for the main
// thread and schedules the next tick, so that the pace is kept whatever the callback does.
struct RepeatingTimer::VirtualTicks {
    std::shared_ptr<VirtualClock> clock;
    double seconds;
    std::function<void()> tick;
    bool valid = true;  // main thread only
    quint64 scheduled = 0;
};

RepeatingTimer::RepeatingTimer(const TimeSource& time, double seconds, std::function<void()> tick) {
    Q_ASSERT(isMainThread());
    if (time.virtualClock()) {
        virtualTicks_ = std::make_shared<VirtualTicks>(
            VirtualTicks{time.virtualClock(), seconds, std::move(tick)});
        scheduleVirtualTick();
        return;
    }
    timer_ = std::make_unique<QTimer>();
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(time.duration(seconds));
    QObject::connect(timer_.get(), &QTimer::timeout, std::move(tick));
    timer_->start();
}

RepeatingTimer::~RepeatingTimer() {
    invalidate();
}

void RepeatingTimer::scheduleVirtualTick() {
    scheduleNext(virtualTicks_);
}

void RepeatingTimer::scheduleNext(const std::shared_ptr<VirtualTicks>& ticks) {
    std::weak_ptr<VirtualTicks> weak = ticks;
    ticks->scheduled = ticks->clock->schedule(ticks->seconds, [weak] {
        // Runs on the thread that moves the clock: the main thread, in tests.
        const auto live = weak.lock();
        if (!live || !live->valid) {
            return;
        }
        scheduleNext(live);
        mainAsync([weak] {
            if (const auto current = weak.lock(); current && current->valid) {
                current->tick();
            }
        });
    });
}

void RepeatingTimer::invalidate() {
    if (timer_) {
        timer_->stop();
        timer_.reset();
    }
    if (virtualTicks_) {
        virtualTicks_->valid = false;
        virtualTicks_->clock->cancel(virtualTicks_->scheduled);
        virtualTicks_.reset();
    }
}

}  // namespace sonavel
