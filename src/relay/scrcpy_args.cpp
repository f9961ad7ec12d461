#include "relay/scrcpy_args.h"

#include <algorithm>

namespace sonavel {

QStringList scrcpyArguments(const QString& endpoint, bool videoEnabled, int audioBufferMs) {
    QStringList arguments{QStringLiteral("-s"), endpoint};
    if (!videoEnabled) {
        arguments << QStringLiteral("--no-window") << QStringLiteral("--no-video")
                  << QStringLiteral("--no-control");
    }
    arguments << QStringLiteral("--audio-source=output")
              << QStringLiteral("--audio-buffer=") + QString::number(audioBufferMs);
    return arguments;
}

int normalizedAudioBuffer(int milliseconds) {
    const int clamped = std::clamp(milliseconds, kMinAudioBufferMs, kMaxAudioBufferMs);
    return clamped - clamped % kAudioBufferStepMs;
}

}  // namespace sonavel
