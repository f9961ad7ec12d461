#include "app/controller.h"
#include "relay/scrcpy_args.h"
#include "settings/endpoint_maps.h"

namespace sonavel {

namespace {

// QSettings drops a write it cannot make (a read-only or unreadable file) without a word, and
// leaves the stored values as they were; the log at least says so. A corrupt file reports a
// format error here, yet the write has gone through.
void syncAndReport(const ControllerRef& r, QSettings& settings) {
    settings.sync();
    if (settings.status() == QSettings::AccessError) {
        r.appendLog(QStringLiteral("[Settings] Could not save settings to ") + settings.fileName());
    }
}

}  // namespace

void ZovAdizuZadiRizov::loadEndpoint() {
    const QString key = userDefaultsEndpointKey;
    runInBackground(QoS::UserInitiated, [key](const ControllerRef& ref) {
        const QVariant stored = ref.settings()->value(key);
        if (!stored.isValid()) {
            return;
        }
        const QString value = stored.toString();
        ref.post([value](ZovAdizuZadiRizov& c) {
            c.appendLog(QStringLiteral("[Debug] loadEndpoint set to ") + value);
            c.endpoint.set(value);
        });
    });
}

void ZovAdizuZadiRizov::loadAudioBuffer() {
    // The Linux settings file returns numbers as strings in a new process: parse, never cast.
    bool ok = false;
    const int stored = ref().settings()->value(userDefaultsAudioBufferKey).toInt(&ok);
    if (!ok || stored == 0) {
        return;
    }
    ref().post([stored](ZovAdizuZadiRizov& c) {
        c.appendLog(QStringLiteral("[Debug] loadAudioBuffer set to ") + QString::number(stored) +
                    QStringLiteral(" ms"));
        c.audioBufferMs.set(stored);
    });
}

void ZovAdizuZadiRizov::loadPerEndpointSettings() {
    const auto settings = ref().settings();
    const QVariant video = settings->value(userDefaultsVideoByEndpointKey);
    if (video.isValid()) {
        if (auto map = decodeBoolMap(video.toByteArray())) {
            videoEnabledByEndpoint.set(*map);
        }
    }
    const QVariant buffers = settings->value(userDefaultsAudioBufferByEndpointKey);
    if (buffers.isValid()) {
        if (auto map = decodeIntMap(buffers.toByteArray())) {
            // An older or hand-edited file may hold any number (5000 would start scrcpy five
            // seconds behind): what is used is what the buffer control could have stored.
            for (int& ms : *map) {
                ms = normalizedAudioBuffer(ms);
            }
            audioBufferMsByEndpoint.set(*map);
        }
    }
    const QVariant relays = settings->value(userDefaultsRelayByEndpointKey);
    if (relays.isValid()) {
        if (auto map = decodeBoolMap(relays.toByteArray())) {
            relayChoiceByEndpoint = *map;
        }
    }
}

void ZovAdizuZadiRizov::saveEndpoint() {
    const auto settings = ref().settings();
    settings->setValue(userDefaultsEndpointKey, endpoint());
    syncAndReport(ref(), *settings);
}

void ZovAdizuZadiRizov::savePerEndpointSettings() {
    if (perEndpointSavePending) {
        return;  // the pending write reads the maps when it runs: it takes this change too
    }
    perEndpointSavePending = true;
    ref().time().mainAfter(perEndpointSaveDelaySec, this,
                           [this] { writePendingPerEndpointSettings(); });
}

void ZovAdizuZadiRizov::writePendingPerEndpointSettings() {
    if (!perEndpointSavePending) {
        return;
    }
    perEndpointSavePending = false;
    const auto settings = ref().settings();
    settings->setValue(userDefaultsVideoByEndpointKey, encodeBoolMap(videoEnabledByEndpoint()));
    settings->setValue(userDefaultsAudioBufferByEndpointKey,
                       encodeIntMap(audioBufferMsByEndpoint()));
    settings->setValue(userDefaultsRelayByEndpointKey, encodeBoolMap(relayChoiceByEndpoint));
    syncAndReport(ref(), *settings);
}

}  // namespace sonavel
