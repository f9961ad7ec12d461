#pragma once

#include <QStringList>
#include <memory>

#include "battery/alert_sound.h"

namespace sonavel::test {

// What the controller did with its alert sound, shared with the test after the sound is handed
// over.
struct AlertSoundJournal {
    QStringList events;  // "play" and "stop", in order
    int made = 0;        // how often the controller asked for a sound
};

class RecordingAlertSound : public AlertSound {
public:
    explicit RecordingAlertSound(std::shared_ptr<AlertSoundJournal> journal)
        : journal_(std::move(journal)) {}
    void play() override { journal_->events << QStringLiteral("play"); }
    void stop() override { journal_->events << QStringLiteral("stop"); }

private:
    std::shared_ptr<AlertSoundJournal> journal_;
};

// A factory for ControllerConfig::makeAlertSound. With available false it finds no sound, as a
// system without "Submarine" and "Ping" does.
inline std::function<std::unique_ptr<AlertSound>()> recordingSoundFactory(
    std::shared_ptr<AlertSoundJournal> journal, bool available = true) {
    return [journal, available]() -> std::unique_ptr<AlertSound> {
        ++journal->made;
        if (!available) {
            return nullptr;
        }
        return std::make_unique<RecordingAlertSound>(journal);
    };
}

}  // namespace sonavel::test
