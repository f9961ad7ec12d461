#include "relay/silence_cause.h"

#include <QRegularExpression>

namespace sonavel {

namespace {

// The last Android release that scrcpy cannot capture sound from.
constexpr int kLastReleaseWithoutCapture = 10;

// The release is Build.VERSION.RELEASE as the phone reports it: "10", "8.1.0", or a code name on
// preview builds ("VanillaIceCream"), which says nothing here. A model name may itself hold
// parentheses, so only the group that ends the line counts.
std::optional<int> deviceLineRelease(const QString& line) {
    static const QRegularExpression pattern(
        QStringLiteral(R"(INFO: Device: \[.*\(Android (\d+)[^()]*\)\s*$)"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const int release = match.captured(1).toInt(&ok);
    return ok ? std::optional<int>(release) : std::nullopt;
}

}  // namespace

bool causeOutlastsRetries(SilenceCause cause) {
    return cause == SilenceCause::AndroidTooOld;
}

std::optional<SilenceCause> silenceCauseOfLine(const QString& line) {
    if (line.contains(QLatin1String("Audio disabled: it is not supported before Android 11"))) {
        return SilenceCause::AndroidTooOld;
    }
    if (line.contains(QLatin1String("audio capture must be started in the foreground, make sure "
                                    "that the device is unlocked"))) {
        return SilenceCause::PhoneLocked;
    }
    if (line.contains(QLatin1String("Could not open audio device"))) {
        return SilenceCause::NoAudioOutput;
    }
    if (const std::optional<int> release = deviceLineRelease(line);
        release && *release <= kLastReleaseWithoutCapture) {
        return SilenceCause::AndroidTooOld;
    }
    return std::nullopt;
}

}  // namespace sonavel
