#include "ui/spring.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sonavel {

double springPosition(double t, double response, double dampingFraction) {
    if (t <= 0) {
        return 0;
    }
    const double omega = 2 * std::numbers::pi / response;
    const double zeta = dampingFraction;
    if (zeta >= 1) {
        return 1 - std::exp(-omega * t) * (1 + omega * t);
    }
    const double damped = omega * std::sqrt(1 - zeta * zeta);
    return 1 - std::exp(-zeta * omega * t) *
                   (std::cos(damped * t) + (zeta * omega / damped) * std::sin(damped * t));
}

double springSettleTime(double response, double dampingFraction) {
    const double omega = 2 * std::numbers::pi / response;
    // The envelope e^(-zeta*omega*t), scaled by at most 1/sqrt(1-zeta^2), falls below 0.001.
    const double zeta = std::min(dampingFraction, 0.999);
    return (std::log(1000.0) - 0.5 * std::log(1 - zeta * zeta)) / (zeta * omega);
}

}  // namespace sonavel
