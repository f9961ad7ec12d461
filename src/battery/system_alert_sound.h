#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "battery/alert_sound.h"

// The platform's alert sound: a system sound found by name, played in a loop.
//
// On macOS the names are the system's AIFF sounds ("Submarine", "Ping") in the usual sound
// folders, played through QMediaPlayer. Elsewhere no system has sounds of those names; the WAV
// alert shipped in the resources folder ("sounds/alert.wav") stands in for "Submarine" and is
// played through QSoundEffect. QMediaPlayer is never built there: Debian's Qt 6.4 crashes in its
// constructor without the GStreamer plugins, and its ffmpeg backend crashes without an audio
// device, while QSoundEffect loads and "plays" a WAV silently on a machine with no sound card;
// such a sound says so through audible().
//
// Main thread only: the sound objects belong to the main thread's event loop.

namespace sonavel {

// The alert names in order of preference.
inline const QStringList kAlertSoundNames = {QStringLiteral("Submarine"), QStringLiteral("Ping")};

// The files that may hold the sound of this name, best first. Only existing files are tried.
QStringList systemSoundCandidates(const QString& name, const std::optional<QString>& resourcesDir);

// The sound of this name, ready to loop; none when no candidate file is a sound this platform can
// play.
std::unique_ptr<AlertSound> loadSystemSound(const QString& name,
                                            const std::optional<QString>& resourcesDir);

// The first of kAlertSoundNames that loads; none when none does.
std::unique_ptr<AlertSound> loadPlatformAlertSound(const std::optional<QString>& resourcesDir);

// One system beep; without a GUI application (tests, a bare core application) it does nothing.
void playSystemBeep();

}  // namespace sonavel
