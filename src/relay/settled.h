#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "platform/time_source.h"

namespace sonavel {

// A value that one thread settles once and others wait for. The scrcpy processes live on the main
// thread; workers learn that one has started or ended through this, never by reading the QProcess.
template <class T>
class Settled {
public:
    // The first value wins; later calls change nothing.
    void set(T value) {
        {
            std::lock_guard lock(mutex_);
            if (value_) {
                return;
            }
            value_ = std::move(value);
        }
        changed_.notify_all();
    }

    std::optional<T> peek() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

    T wait() const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return value_.has_value(); });
        return *value_;
    }

    // None when the limit passed first.
    std::optional<T> waitFor(std::chrono::milliseconds limit) const {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [this] { return value_.has_value(); });
        return value_;
    }

    // The same for a limit in flow time, which on a virtual clock passes only when moved on.
    std::optional<T> waitFor(const TimeSource& time, double seconds) const {
        const auto& clock = time.virtualClock();
        if (!clock) {
            return waitFor(time.duration(seconds));
        }
        clock->wait(seconds, [this] { return peek().has_value(); });
        return peek();
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::optional<T> value_;
};

}  // namespace sonavel
