#include "battery/system_alert_sound.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <QAudioDevice>
#include <QMediaDevices>

#if defined(Q_OS_MACOS)
#include <QAudioOutput>
#include <QMediaPlayer>
#else
#include <QSoundEffect>
#endif

namespace sonavel {

namespace {

// Qt's sound objects play into the default output. Without one they still load and report that
// they play: measured with Debian's Qt 6.4 and no sound server, QSoundEffect prints "No audio
// device detected", says Ready and playing, and nothing is heard.
bool hasSoundOutput() {
    return !QMediaDevices::defaultAudioOutput().isNull();
}

#if defined(Q_OS_MACOS)

// The folders NSSound searches for a named sound, in its order (the bundle's own resources first).
QStringList macSoundFolders(const std::optional<QString>& resourcesDir) {
    QStringList folders;
    if (resourcesDir) {
        folders << *resourcesDir;
    }
    folders << QDir::homePath() + QStringLiteral("/Library/Sounds")
            << QStringLiteral("/Library/Sounds") << QStringLiteral("/Network/Library/Sounds")
            << QStringLiteral("/System/Library/Sounds");
    return folders;
}

bool isPlayableSoundFile(const QString& path) {
    return QFileInfo(path).isFile();
}

// AIFF needs a full media player; on macOS it runs on AVFoundation, which has neither of the
// crashes seen with Linux backends.
class MediaPlayerAlertSound final : public AlertSound {
public:
    explicit MediaPlayerAlertSound(const QString& path) {
        player_.setAudioOutput(&output_);
        player_.setLoops(QMediaPlayer::Infinite);
        player_.setSource(QUrl::fromLocalFile(path));
    }
    void play() override {
        player_.setPosition(0);
        player_.play();
    }
    void stop() override { player_.stop(); }
    bool audible() const override {
        return player_.error() == QMediaPlayer::NoError && hasSoundOutput();
    }

private:
    QAudioOutput output_;  // declared first: the player must go before its output
    QMediaPlayer player_;
};

#else

// The shipped stand-ins, by the name they stand in for.
QString standInFileName(const QString& name) {
    if (name == QLatin1String("Submarine")) {
        return QStringLiteral("sounds/alert.wav");
    }
    return QString();
}

// QSoundEffect reads PCM WAV only; anything else would load as an error and stay silent, so it is
// not offered as the sound of that name.
bool isPlayableSoundFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray header = file.read(12);
    return header.size() == 12 && header.startsWith("RIFF") && header.mid(8, 4) == "WAVE";
}

class SoundEffectAlertSound final : public AlertSound {
public:
    explicit SoundEffectAlertSound(const QString& path) {
        effect_.setSource(QUrl::fromLocalFile(path));
        effect_.setLoopCount(QSoundEffect::Infinite);
    }
    void play() override {
        // Playback starts once loading is done when the file is still being read.
        effect_.stop();
        effect_.play();
    }
    void stop() override { effect_.stop(); }
    bool audible() const override {
        return effect_.status() != QSoundEffect::Error && hasSoundOutput();
    }

private:
    QSoundEffect effect_;
};

#endif

}  // namespace

QStringList systemSoundCandidates(const QString& name, const std::optional<QString>& resourcesDir) {
    QStringList candidates;
#if defined(Q_OS_MACOS)
    for (const QString& folder : macSoundFolders(resourcesDir)) {
        candidates << QDir(folder).filePath(name + QStringLiteral(".aiff"));
    }
#else
    const QString standIn = standInFileName(name);
    if (resourcesDir && !standIn.isEmpty()) {
        candidates << QDir(*resourcesDir).filePath(standIn);
    }
#endif
    return candidates;
}

std::unique_ptr<AlertSound> loadSystemSound(const QString& name,
                                            const std::optional<QString>& resourcesDir) {
    for (const QString& path : systemSoundCandidates(name, resourcesDir)) {
        if (!isPlayableSoundFile(path)) {
            continue;
        }
#if defined(Q_OS_MACOS)
        return std::make_unique<MediaPlayerAlertSound>(path);
#else
        return std::make_unique<SoundEffectAlertSound>(path);
#endif
    }
    return nullptr;
}

std::unique_ptr<AlertSound> loadPlatformAlertSound(const std::optional<QString>& resourcesDir) {
    for (const QString& name : kAlertSoundNames) {
        if (auto sound = loadSystemSound(name, resourcesDir)) {
            return sound;
        }
    }
    return nullptr;
}

void AlertSound::beep() {
    playSystemBeep();
}

void playSystemBeep() {
    // QApplication::beep reaches for the platform integration, which a core application lacks.
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QApplication::beep();
    }
}

}  // namespace sonavel
