#pragma once

namespace sonavel {

// The looping battery alert. Behind an interface because tests cannot hear it: they use a fake
// that records start and stop.
class AlertSound {
public:
    virtual ~AlertSound() = default;
    // Starts looping from the beginning; a sound that is already playing restarts.
    virtual void play() = 0;
    // Stops it; nothing happens when it is not playing.
    virtual void stop() = 0;
};

}  // namespace sonavel
