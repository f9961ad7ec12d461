#pragma once

#include <QtGlobal>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

namespace sonavel {

// Flow time that moves only when told to. Tests hand one to the controller so that a 10-second
// timer fires when the test moves time on, never because a fake process was slow to start on a
// busy machine.
//
// Workers block in sleep() and wait() until the clock reaches their deadline; scheduled actions
// run on the thread that moves the clock (the test's main thread). Every member is thread-safe.
class VirtualClock {
public:
    using Action = std::function<void()>;

    // Flow seconds since the clock was made.
    double now() const;

    // Runs `fire` once the clock reaches now() + seconds; the id cancels it.
    quint64 schedule(double seconds, Action fire);
    void cancel(quint64 id);

    // Blocks the calling worker until the clock has moved on by `seconds`.
    void sleep(double seconds);
    // Blocks the calling worker until `ready` holds or the clock has moved on by `seconds`; true
    // when ready. `ready` is also asked by blockedWorkers(), from other threads, so it must be
    // cheap and thread-safe.
    bool wait(double seconds, const std::function<bool()>& ready);

    // Workers that wait for the clock and nothing else: those whose deadline is still ahead and
    // whose condition does not hold yet.
    int blockedWorkers() const;

    // Moves the clock to the next deadline (when it is at most `limit`) and runs the actions due
    // then, one at a time in the order they were scheduled. Returns false when none was due.
    bool step(double limit);

    // Moves the clock to `at` without running anything; only forwards.
    void jumpTo(double at);

    // Ends every wait at once and keeps later ones from blocking: for a clock whose test is over
    // while workers of its controller still run.
    void release();

private:
    struct Waiter {
        double deadline;
        const std::function<bool()>* ready;
    };
    bool due(const Waiter& w) const { return released_ || w.deadline <= now_; }

    mutable std::mutex mutex_;
    std::condition_variable moved_;
    double now_ = 0;
    bool released_ = false;
    quint64 nextId_ = 1;
    // Ordered by deadline, then by id (the order of scheduling).
    std::map<std::pair<double, quint64>, Action> actions_;
    std::map<quint64, Waiter> waiters_;
};

}  // namespace sonavel
