#include "ui/presentation.h"

#include "battery/alert_notice.h"
#include "discovery/device_listing.h"

namespace sonavel {

namespace {

bool hasEndpoint(const std::optional<QString>& endpoint) {
    return endpoint && !endpoint->trimmed().isEmpty();
}

std::optional<SilenceCause> shownSilenceCause(const WindowState& s, const QString& endpoint) {
    const auto cause = s.silenceCauses.constFind(endpoint);
    if (!s.enabledEndpoints.contains(endpoint) || cause == s.silenceCauses.cend()) {
        return std::nullopt;
    }
    return *cause;
}

}  // namespace

bool awaitingRelay(const WindowState& s) {
    for (const QString& key : s.enabledEndpoints) {
        if (s.runningRelayEndpoints.contains(key)) {
            continue;
        }
        const auto cause = s.silenceCauses.constFind(key);
        if (cause == s.silenceCauses.cend() || !causeOutlastsRetries(*cause)) {
            return true;
        }
    }
    return false;
}

bool relayActive(const WindowState& s) {
    return s.scrcpyActive || s.hasRelayProcesses;
}

bool hasWirelessDeviceWithIP(const WindowState& s) {
    for (const DiscoveredDevice& row : s.connectedTCPIPDevices) {
        if (row.ip && !row.ip->isEmpty()) {
            return true;
        }
    }
    return false;
}

TextKey statusLabel(const WindowState& s) {
    // The first test looks at scrcpyActive alone: processes that are still being started show as
    // "Connecting…" while isRunning is set.
    if (s.scrcpyActive) {
        return TextKey::audioRelayActive;
    }
    if (s.isRunning) {
        return TextKey::connecting;
    }
    if (awaitingRelay(s)) {
        return TextKey::reconnecting;
    }
    if (hasWirelessDeviceWithIP(s)) {
        return TextKey::readyToConnect;
    }
    if (s.isUSBDeviceConnected) {
        return TextKey::usbDetected;
    }
    return TextKey::unavailable;
}

QString guideIconName(const WindowState& s) {
    if (!s.missingTools.isEmpty()) {
        return QStringLiteral("exclamationmark.triangle.fill");
    }
    if (relayActive(s)) {
        return QStringLiteral("waveform");
    }
    if (s.isRunning && !s.enabledEndpoints.isEmpty()) {
        return QStringLiteral("iphone");
    }
    if (awaitingRelay(s)) {
        return QStringLiteral("arrow.triangle.2.circlepath");
    }
    if (hasWirelessDeviceWithIP(s)) {
        return QStringLiteral("checkmark.circle");
    }
    if (s.isUSBDeviceConnected) {
        return QStringLiteral("cable.connector");
    }
    return QStringLiteral("info.circle");
}

TextKey connectionGuideKey(const WindowState& s) {
    if (!s.missingTools.isEmpty()) {
        return TextKey::guideToolsMissing;
    }
    if (relayActive(s)) {
        return TextKey::guideRelayActive;
    }
    if (s.isRunning && !s.enabledEndpoints.isEmpty()) {
        return TextKey::guideRelayStarting;
    }
    if (awaitingRelay(s)) {
        return TextKey::guideReconnecting;
    }
    if (hasWirelessDeviceWithIP(s)) {
        return TextKey::guideConnectionReady;
    }
    if (s.isUSBDeviceConnected) {
        return TextKey::guideAndroidDetected;
    }
    return TextKey::guideSetup;
}

QString connectionGuideText(const WindowState& s, const TextLookup& tr) {
    const TextKey key = connectionGuideKey(s);
    if (key == TextKey::guideToolsMissing) {
        return tr(key).arg(s.missingTools.join(tr(TextKey::listSeparator)));
    }
    return tr(key);
}

bool endpointRelaying(const WindowState& s, const QString& endpoint) {
    return s.enabledEndpoints.contains(endpoint) && s.runningRelayEndpoints.contains(endpoint);
}

DeviceBlockFields summaryRowFields(const WindowState& s, const TextLookup& tr) {
    DeviceBlockFields f;
    if (s.selectedDevice) {
        f.name = s.selectedDevice->name;
    } else if (!s.discoveredDevices.isEmpty()) {
        f.name = s.discoveredDevices.first().name;
    } else if (!relayActive(s) && !s.wirelessConnected && !hasWirelessDeviceWithIP(s)) {
        f.name = tr(s.isUSBDeviceConnected ? TextKey::detectingAndroid : TextKey::notDetected);
    } else {
        f.name = tr(TextKey::connected);
    }

    if (s.selectedDevice && s.selectedDevice->ip) {
        f.endpoint = s.selectedDevice->ip;
    } else if (s.endpoint.contains(QLatin1Char(':'))) {
        f.endpoint = s.endpoint;
    }

    f.usbOK = s.isUSBDeviceConnected;
    for (const DiscoveredDevice& row : s.discoveredDevices) {
        if (row.transport == kTransportUSB) {
            f.usbOK = true;
        }
    }
    if (f.endpoint) {
        f.wirelessOK = true;
        f.audioOK = endpointRelaying(s, *f.endpoint);
        f.relayControlEndpoint = f.endpoint;
        f.silenceCause = shownSilenceCause(s, *f.endpoint);
    } else {
        f.wirelessOK = hasWirelessDeviceWithIP(s);
        f.audioOK = relayActive(s);
    }
    // The summary stands for "the" device, whose charging state is not tracked as one value.
    f.batteryLevel = s.batteryLevel;
    f.charging = false;
    return f;
}

QString relayControlKey(const DiscoveredDevice& entry) {
    return relayKeyOf(entry);
}

DeviceBlockFields deviceRowFields(const WindowState& s, const DiscoveredDevice& entry) {
    DeviceBlockFields f;
    f.name = entry.name;
    const QStringList names = distinctRowNames(s.connectedTCPIPDevices, s.serialNumbers);
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (s.connectedTCPIPDevices[i].id == entry.id) {
            f.name = names[i];
        }
    }
    f.endpoint = entry.ip;
    f.usbOK = entry.transport == kTransportUSB || s.isUSBDeviceConnected;
    f.wirelessOK = entry.ip.has_value();
    const QString key = relayControlKey(entry);
    f.audioOK = endpointRelaying(s, key);
    if (entry.ip && s.batteryLevels.contains(*entry.ip)) {
        f.batteryLevel = s.batteryLevels.value(*entry.ip);
    }
    f.charging = entry.ip && s.batteryCharging.value(*entry.ip, false);
    f.relayControlEndpoint = key;
    f.silenceCause = shownSilenceCause(s, key);
    f.switchedOn = s.enabledEndpoints.contains(key);
    f.listed =
        s.listedSerials.contains(entry.serial) || (entry.ip && s.listedSerials.contains(*entry.ip));
    f.notOnWifi = !entry.ip && entry.transport == kTransportUSB &&
                  s.serialsWithoutWifi.contains(entry.serial);
    return f;
}

bool isPlaceholderName(const QString& name, const TextLookup& tr) {
    const QString trimmed = name.trimmed();
    return trimmed.isEmpty() || trimmed == tr(TextKey::notDetected) ||
           trimmed == text(TextKey::notDetected, Language::English);
}

StatusLines statusLines(const DeviceBlockFields& f, const TextLookup& tr) {
    const bool endpointNamed = hasEndpoint(f.endpoint) && !isPlaceholderName(f.name, tr);
    StatusLines lines;
    const TextKey onUsbOnly = f.notOnWifi ? TextKey::rowNotOnWifi : TextKey::preparingWireless;
    if (f.audioOK) {
        lines.audio = TextKey::audioRelayActive;
        lines.wireless = TextKey::ready;
    } else if (f.switchedOn) {
        // Switched on and not playing: the loop is at it, and the row says whether adb sees it.
        lines.audio = TextKey::reconnecting;
        lines.wireless = !f.listed       ? TextKey::rowNotConnected
                         : endpointNamed ? TextKey::wirelessReady
                                         : onUsbOnly;
    } else if (endpointNamed) {
        lines.audio = TextKey::readyToConnect;
        lines.wireless = TextKey::wirelessReady;
    } else if (f.usbOK) {
        lines.audio = TextKey::usbDetected;
        lines.wireless = onUsbOnly;
    }
    if (f.silenceCause) {
        lines.silenceCause = silenceCauseText(*f.silenceCause);
    }
    return lines;
}

TextKey silenceCauseText(SilenceCause cause) {
    switch (cause) {
        case SilenceCause::AndroidTooOld:
            return TextKey::silentAndroidTooOld;
        case SilenceCause::PhoneLocked:
            return TextKey::silentPhoneLocked;
        case SilenceCause::NoAudioOutput:
            return TextKey::silentNoAudioOutput;
        case SilenceCause::ToolMissing:
            return TextKey::silentToolMissing;
    }
    return TextKey::silentToolMissing;
}

QString rowStateDescription(const DeviceBlockFields& fields, const TextLookup& tr) {
    QStringList parts;
    if (fields.batteryLevel) {
        parts << tr(TextKey::batteryLevelSpoken).arg(*fields.batteryLevel);
        if (fields.charging) {
            parts << tr(TextKey::batteryChargingSpoken);
        }
    }
    const StatusLines lines = statusLines(fields, tr);
    for (const std::optional<TextKey>& line : {lines.audio, lines.wireless, lines.silenceCause}) {
        if (line) {
            parts << tr(*line);
        }
    }
    return parts.join(tr(TextKey::listSeparator));
}

QString alertRowText(const WindowState& s, const TextLookup& tr) {
    if (!s.alertIdentifier) {
        return tr(TextKey::batteryAlertPlaying);
    }
    const TextKey key = s.alertHasNoSoundOutput ? TextKey::batteryAlertNoSoundOutput
                                                : TextKey::batteryAlertPlayingFor;
    return tr(key).arg(
        alertDeviceName(s.connectedTCPIPDevices + s.discoveredDevices, *s.alertIdentifier));
}

QString audioBufferLabel(int milliseconds) {
    return QString::number(milliseconds) + QStringLiteral("ms");
}

}  // namespace sonavel
