#include "platform/time_source.h"

#include <QTimer>
#include <cmath>
#include <thread>

namespace sonavel {

TimeSource::TimeSource(double scale, std::shared_ptr<VirtualClock> clock)
    : scale_(scale > 0 ? scale : 1.0),
      clock_(std::move(clock)),
      origin_(std::chrono::steady_clock::now()) {}

std::chrono::milliseconds TimeSource::duration(double seconds) const {
    if (clock_ || !(seconds > 0)) {
        return std::chrono::milliseconds(0);
    }
    const double ms = std::ceil(seconds * 1000.0 * scale_);
    return std::chrono::milliseconds(static_cast<long long>(std::max(1.0, ms)));
}

double TimeSource::now() const {
    if (clock_) {
        return clock_->now();
    }
    const std::chrono::duration<double> real = std::chrono::steady_clock::now() - origin_;
    return real.count() / scale_;
}

void TimeSource::sleep(double seconds) const {
    if (clock_) {
        clock_->sleep(seconds);
        return;
    }
    std::this_thread::sleep_for(duration(seconds));
}

void TimeSource::after(QoS qos, double seconds, Task task) const {
    if (clock_) {
        clock_->schedule(seconds, [qos, task = std::move(task)]() mutable {
            dispatchAsync(qos, std::move(task));
        });
        return;
    }
    dispatchAfter(qos, duration(seconds), std::move(task));
}

void TimeSource::mainAfter(double seconds, QObject* context, std::function<void()> function) const {
    Q_ASSERT(isMainThread());
    if (clock_) {
        clock_->schedule(seconds, [guard = QPointer<QObject>(context), function] {
            mainAsync([guard, function] {
                if (guard) {
                    function();
                }
            });
        });
        return;
    }
    QTimer::singleShot(duration(seconds), context, std::move(function));
}

}  // namespace sonavel
