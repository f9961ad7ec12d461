#pragma once

#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/dispatch.h"
#include "platform/virtual_clock.h"

class QObject;

namespace sonavel {

// Every pause and interval of the flows goes through one TimeSource. The application runs it in
// real time; tests either scale real time or hand it a VirtualClock that they move on themselves.
class TimeSource {
public:
    explicit TimeSource(double scale = 1.0, std::shared_ptr<VirtualClock> clock = nullptr);

    // The real duration that stands for the given number of seconds of flow time. Never negative;
    // a positive flow time never maps to zero, so "later" always stays later than "now". Zero on a
    // virtual clock, whose time does not pass by itself.
    std::chrono::milliseconds duration(double seconds) const;

    // Flow seconds since this source was made.
    double now() const;

    // Blocks the calling thread for the given flow time. Only workers may call it.
    void sleep(double seconds) const;

    // Runs the task on a worker of the pool for qos once the flow time has passed.
    void after(QoS qos, double seconds, Task task) const;

    // Runs the function on the main thread once the flow time has passed, unless `context` is gone
    // by then. Call it from the main thread.
    void mainAfter(double seconds, QObject* context, std::function<void()> function) const;

    double scale() const { return scale_; }
    const std::shared_ptr<VirtualClock>& virtualClock() const { return clock_; }

private:
    double scale_;
    std::shared_ptr<VirtualClock> clock_;
    std::chrono::steady_clock::time_point origin_;
};

}  // namespace sonavel
