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
    // Whether playing it would be heard. False when the system has no sound output (a Linux
    // session without a sound server) or the sound failed: the alert then beeps instead.
    virtual bool audible() const { return true; }
    // One system beep, the stand-in for a loop of the sound when it cannot be heard.
    virtual void beep();
};

}  // namespace sonavel
