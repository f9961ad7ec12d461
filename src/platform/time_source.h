#pragma once

#include <chrono>

namespace sonavel {

// Every pause and interval of the flows goes through one TimeSource, so that tests can run a
// 5-second pause in a few milliseconds. The application uses a scale of 1 (real time).
class TimeSource {
public:
    explicit TimeSource(double scale = 1.0) : scale_(scale > 0 ? scale : 1.0) {}

    // The real duration that stands for the given number of seconds of flow time. Never negative;
    // a positive flow time never maps to zero, so "later" always stays later than "now".
    std::chrono::milliseconds duration(double seconds) const;

    // Blocks the calling thread for the given flow time. Only workers may call it.
    void sleep(double seconds) const;

    double scale() const { return scale_; }

private:
    double scale_;
};

}  // namespace sonavel
