#include "platform/repeating_timer.h"

#include "platform/dispatch.h"

namespace sonavel {

RepeatingTimer::RepeatingTimer(const TimeSource& time, double seconds, std::function<void()> tick)
    : timer_(std::make_unique<QTimer>()) {
    Q_ASSERT(isMainThread());
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(time.duration(seconds));
    QObject::connect(timer_.get(), &QTimer::timeout, std::move(tick));
    timer_->start();
}

RepeatingTimer::~RepeatingTimer() {
    invalidate();
}

void RepeatingTimer::invalidate() {
    if (timer_) {
        timer_->stop();
        timer_.reset();
    }
}

}  // namespace sonavel
