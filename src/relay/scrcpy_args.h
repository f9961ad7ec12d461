#pragma once

#include <QString>
#include <QStringList>

// The scrcpy command line and the per-endpoint audio buffer rule, built in one place.

namespace sonavel {

// The buffer an endpoint uses until the user picks one.
inline constexpr int kDefaultAudioBufferMs = 150;
// The range the buffer control accepts; values are kept in steps of 10 ms.
inline constexpr int kMinAudioBufferMs = 100;
inline constexpr int kMaxAudioBufferMs = 300;
inline constexpr int kAudioBufferStepMs = 10;

// The arguments for one endpoint's scrcpy (the program path not included):
//   video off: -s <endpoint> --no-window --no-video --no-control --audio-source=output
//              --audio-buffer=<ms>
//   video on:  -s <endpoint> --audio-source=output --audio-buffer=<ms>
// "--no-control" is needed with video off because since scrcpy 3.2 "--no-window" no longer turns
// control off: the windowless process would keep a control channel and, by default, copy the
// phone's clipboard over the computer's whenever it changes. With video on the window is meant to
// be controlled. The endpoint is always one argument of its own, whatever characters it holds.
QStringList scrcpyArguments(const QString& endpoint, bool videoEnabled, int audioBufferMs);

// The buffer the control stores for a requested value: clamped to 100..300 and taken down to a
// multiple of 10 (95 -> 100, 155 -> 150, 299 -> 290, 1000 -> 300).
int normalizedAudioBuffer(int milliseconds);

}  // namespace sonavel
