#include "platform/worker_timer.h"

#include <atomic>
#include <mutex>

namespace sonavel {

struct WorkerTimer::State {
    TimeSource time;
    QoS qos;
    double seconds;
    Task tick;
    std::atomic<bool> valid{true};
    // Virtual time: the scheduled tick, to cancel it.
    std::mutex mutex;
    quint64 scheduled = 0;
};

namespace {

using State = WorkerTimer::State;

void runTick(const std::shared_ptr<State>& state) {
    if (state->valid.load()) {
        state->tick();
    }
}

void scheduleVirtual(const std::shared_ptr<State>& state) {
    std::weak_ptr<State> weak = state;
    std::lock_guard lock(state->mutex);
    if (!state->valid.load()) {
        return;
    }
    // Runs on the thread that moves the clock; the tick itself goes to the pool.
    state->scheduled = state->time.virtualClock()->schedule(state->seconds, [weak] {
        const auto live = weak.lock();
        if (!live || !live->valid.load()) {
            return;
        }
        scheduleVirtual(live);
        dispatchAsync(live->qos, [live] { runTick(live); });
    });
}

}  // namespace

WorkerTimer::WorkerTimer(const TimeSource& time, QoS qos, double seconds, Task tick)
    : state_(std::make_shared<State>()) {
    state_->time = time;
    state_->qos = qos;
    state_->seconds = seconds;
    state_->tick = std::move(tick);
    if (time.virtualClock()) {
        scheduleVirtual(state_);
        return;
    }
    std::weak_ptr<State> weak = state_;
    dispatchRepeating(qos, time.duration(seconds),
                      std::shared_ptr<const std::atomic<bool>>(state_, &state_->valid), [weak] {
                          if (const auto live = weak.lock()) {
                              runTick(live);
                          }
                      });
}

WorkerTimer::~WorkerTimer() {
    invalidate();
}

void WorkerTimer::invalidate() {
    if (!state_) {
        return;
    }
    state_->valid = false;
    if (const auto& clock = state_->time.virtualClock()) {
        std::lock_guard lock(state_->mutex);
        clock->cancel(state_->scheduled);
    }
    state_.reset();
}

}  // namespace sonavel
