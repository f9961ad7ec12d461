#pragma once

#include <QString>
#include <optional>

// Why a relay that is switched on plays nothing, when scrcpy or the relay start can tell.

namespace sonavel {

enum class SilenceCause {
    AndroidTooOld,  // Android 10 or older: scrcpy cannot capture the phone's sound at all
    PhoneLocked,    // Android 11 lets the capture start only while the phone is unlocked
    NoAudioOutput,  // this computer has no sound output for scrcpy to play to
    ToolMissing,    // scrcpy, scrcpy-server or adb is missing from the resources folder
};

// The cause one line of scrcpy's output reveals, or none. scrcpy writes its own lines and relays
// the phone's with a "[server] " prefix; only the distinctive part of a line is looked for, so the
// lines of scrcpy 2.x to 4.x all match:
//   [server] INFO: Device: [samsung] samsung SM-A505F (Android 10)
//   [server] WARN: Audio disabled: it is not supported before Android 11
//   [server] ERROR: On Android 11, audio capture must be started in the foreground, make sure
//                   that the device is unlocked when starting scrcpy.    (one line)
//   ERROR: Could not open audio device: ALSA: Couldn't open audio device: No such file or ...
// The device line names the Android release at every start, before any warning: a release of
// 10 or lower gives AndroidTooOld at once.
std::optional<SilenceCause> silenceCauseOfLine(const QString& line);

// Whether retrying the relay cannot help while the phone stays the same: an Android release too
// old to capture sound does not change between two tries, a locked phone or a missing sound
// output may.
bool causeOutlastsRetries(SilenceCause cause);

}  // namespace sonavel
