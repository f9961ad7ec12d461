#include "platform/time_source.h"

#include <cmath>
#include <thread>

namespace sonavel {

std::chrono::milliseconds TimeSource::duration(double seconds) const {
    if (!(seconds > 0)) {
        return std::chrono::milliseconds(0);
    }
    const double ms = std::ceil(seconds * 1000.0 * scale_);
    return std::chrono::milliseconds(static_cast<long long>(std::max(1.0, ms)));
}

void TimeSource::sleep(double seconds) const {
    std::this_thread::sleep_for(duration(seconds));
}

}  // namespace sonavel
