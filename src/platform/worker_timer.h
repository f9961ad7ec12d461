#pragma once

#include <memory>

#include "platform/dispatch.h"
#include "platform/time_source.h"

namespace sonavel {

// A repeating timer whose ticks run on a worker of the pool for qos, never on the main thread.
// For periodic background work that nearly always finds nothing new: the main run loop, and the
// window with it, is then not woken at all. Ticks keep their pace whatever a tick does, as a
// repeating timer's do; a tick may start while the one before it still runs. Destroying the timer
// (or calling invalidate) stops it for good: a tick that is due but has not started does not run.
// Create and destroy it on one thread.
class WorkerTimer {
public:
    WorkerTimer(const TimeSource& time, QoS qos, double seconds, Task tick);
    ~WorkerTimer();
    WorkerTimer(const WorkerTimer&) = delete;
    WorkerTimer& operator=(const WorkerTimer&) = delete;

    void invalidate();
    bool isValid() const { return state_ != nullptr; }

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace sonavel
