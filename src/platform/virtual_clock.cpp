#include "platform/virtual_clock.h"

#include <chrono>

namespace sonavel {

namespace {

// How often a worker waiting for a condition looks at it again. Only how soon that worker goes
// on depends on it: blockedWorkers() asks the condition itself, so a test never mistakes a worker
// whose condition holds for one that waits for the clock.
constexpr auto kConditionPoll = std::chrono::milliseconds(2);

}  // namespace

double VirtualClock::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

quint64 VirtualClock::schedule(double seconds, Action fire) {
    std::lock_guard lock(mutex_);
    const quint64 id = nextId_++;
    actions_.emplace(std::pair{now_ + std::max(0.0, seconds), id}, std::move(fire));
    return id;
}

void VirtualClock::cancel(quint64 id) {
    std::lock_guard lock(mutex_);
    for (auto it = actions_.begin(); it != actions_.end(); ++it) {
        if (it->first.second == id) {
            actions_.erase(it);
            return;
        }
    }
}

void VirtualClock::sleep(double seconds) {
    wait(seconds, nullptr);
}

bool VirtualClock::wait(double seconds, const std::function<bool()>& ready) {
    std::unique_lock lock(mutex_);
    const quint64 id = nextId_++;
    const Waiter waiter{now_ + std::max(0.0, seconds), ready ? &ready : nullptr};
    waiters_.emplace(id, waiter);
    // The condition is asked under the clock's lock, here and in blockedWorkers(), so that it is
    // never asked once this wait has returned; it must not take the clock's lock itself.
    bool isReady = false;
    while (!(isReady = ready && ready()) && !due(waiter)) {
        if (ready) {
            moved_.wait_for(lock, kConditionPoll);
        } else {
            moved_.wait(lock);
        }
    }
    waiters_.erase(id);
    return isReady;
}

int VirtualClock::blockedWorkers() const {
    std::lock_guard lock(mutex_);
    int blocked = 0;
    for (const auto& [id, waiter] : waiters_) {
        if (!due(waiter) && !(waiter.ready && (*waiter.ready)())) {
            ++blocked;
        }
    }
    return blocked;
}

bool VirtualClock::step(double limit) {
    std::unique_lock lock(mutex_);
    std::optional<double> next;
    if (!actions_.empty()) {
        next = actions_.begin()->first.first;
    }
    bool wakesWorker = false;
    for (const auto& [id, waiter] : waiters_) {
        if (due(waiter)) {
            continue;
        }
        if (!next || waiter.deadline < *next) {
            next = waiter.deadline;
            wakesWorker = true;
        } else if (waiter.deadline == *next) {
            wakesWorker = true;
        }
    }
    if (!next || *next > limit) {
        return false;
    }
    now_ = std::max(now_, *next);
    moved_.notify_all();
    // Workers whose pause ends now go first, alone; the actions due at the same moment follow on
    // later steps, one at a time, since each may schedule others.
    if (wakesWorker || actions_.empty() || actions_.begin()->first.first > now_) {
        return true;
    }
    Action fire = std::move(actions_.begin()->second);
    actions_.erase(actions_.begin());
    lock.unlock();
    fire();
    return true;
}

void VirtualClock::jumpTo(double at) {
    std::lock_guard lock(mutex_);
    if (at > now_) {
        now_ = at;
        moved_.notify_all();
    }
}

void VirtualClock::release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    actions_.clear();
    moved_.notify_all();
}

}  // namespace sonavel
