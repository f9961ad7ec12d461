#pragma once

namespace sonavel {

// A damped spring going from 0 to 1, described as the platform's spring animations are: the
// response is the period of the undamped oscillation in seconds, the damping fraction 1 means no
// overshoot. Returns the position after t seconds.
double springPosition(double t, double response, double dampingFraction);

// The time after which the spring stays within 0.1 % of its target.
double springSettleTime(double response, double dampingFraction);

// The status bar's spring: response 0.5 s, damping fraction 0.85, blend duration 0.2 s. Qt has
// no velocity blending: a change that arrives while the spring runs restarts it from the text on
// screen, which stands in for the blend.
inline constexpr double kStatusSpringResponse = 0.5;
inline constexpr double kStatusSpringDamping = 0.85;
inline constexpr double kStatusSpringBlend = 0.2;

}  // namespace sonavel
