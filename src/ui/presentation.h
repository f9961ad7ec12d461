#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QVector>
#include <functional>
#include <optional>

#include "discovery/discovered_device.h"
#include "relay/silence_cause.h"
#include "ui/texts.h"

namespace sonavel {

class ZovAdizuZadiRizov;

// What the window reads of the controller, copied at one redraw. The presentation rules below are
// pure functions of it, so they are tested without a window or a controller.
struct WindowState {
    bool scrcpyActive = false;
    bool isRunning = false;
    bool isUSBDeviceConnected = false;
    bool wirelessConnected = false;
    QVector<DiscoveredDevice> connectedTCPIPDevices;
    QVector<DiscoveredDevice> discoveredDevices;
    std::optional<DiscoveredDevice> selectedDevice;
    QString endpoint;
    QSet<QString> enabledEndpoints;
    // Some scrcpy process is stored, whatever its state.
    bool hasRelayProcesses = false;
    // Endpoints whose stored scrcpy process is still running.
    QSet<QString> runningRelayEndpoints;
    std::optional<int> batteryLevel;
    QMap<QString, int> batteryLevels;
    QMap<QString, bool> batteryCharging;
    bool isAlertPlaying = false;
    // The identifier of the phone the alert sounds for, and whether it beeps for want of a sound
    // output.
    std::optional<QString> alertIdentifier;
    bool alertHasNoSoundOutput = false;
    QMap<QString, SilenceCause> silenceCauses;
    // Tool files the resources folder lacks (adb, scrcpy, scrcpy-server).
    QStringList missingTools;
    // What adb listed at the last refresh, the USB phones without a Wi-Fi address, and the phone
    // behind each endpoint.
    QSet<QString> listedSerials;
    QSet<QString> serialsWithoutWifi;
    QMap<QString, QString> serialNumbers;
};

// Main thread only: reads the controller's state of this moment.
WindowState windowStateOf(const ZovAdizuZadiRizov& controller);

// Looks a text up in the display language of this moment.
using TextLookup = std::function<QString(TextKey)>;

bool relayActive(const WindowState& s);
// A switched-on phone has no running relay, and the reconnect loop is still trying it (no cause
// that no retry can change holds it back).
bool awaitingRelay(const WindowState& s);
bool hasWirelessDeviceWithIP(const WindowState& s);
TextKey statusLabel(const WindowState& s);
// The symbol beside the guide; tests the same conditions in the same order as the guide text. A
// missing tool comes first: without it nothing else the guide could say will happen.
QString guideIconName(const WindowState& s);
TextKey connectionGuideKey(const WindowState& s);
// The guide's text, with the names of the missing tools filled in.
QString connectionGuideText(const WindowState& s, const TextLookup& tr);
// The endpoint is switched on and its scrcpy process still runs.
bool endpointRelaying(const WindowState& s, const QString& endpoint);

// The inputs of one device row, without its tap action.
struct DeviceBlockFields {
    QString name;
    std::optional<QString> endpoint;
    bool usbOK = false;
    bool wirelessOK = false;
    bool audioOK = false;
    std::optional<int> batteryLevel;
    bool charging = false;
    // The endpoint of the row's relay control; none when the row has no trailing control.
    std::optional<QString> relayControlEndpoint;
    // Why the row's relay is silent; only while its relay switch is on.
    std::optional<SilenceCause> silenceCause;
    // Its relay switch is on; adb listed it at the last refresh; it is on USB without Wi-Fi.
    bool switchedOn = false;
    bool listed = true;
    bool notOnWifi = false;

    friend bool operator==(const DeviceBlockFields&, const DeviceBlockFields&) = default;
};

// The one row shown while no wireless entry is listed.
DeviceBlockFields summaryRowFields(const WindowState& s, const TextLookup& tr);
// The row of one entry of connectedTCPIPDevices.
DeviceBlockFields deviceRowFields(const WindowState& s, const DiscoveredDevice& entry);
// The endpoint a row's switches act on: the entry's ip, else its serial.
QString relayControlKey(const DiscoveredDevice& entry);

// Empty after trimming, or "Not detected" in the display language or in English.
bool isPlaceholderName(const QString& name, const TextLookup& tr);

// The short lines under a row's name; none means the line is not drawn.
struct StatusLines {
    std::optional<TextKey> audio;
    std::optional<TextKey> wireless;
    // Under the other two, drawn as a warning.
    std::optional<TextKey> silenceCause;
    friend bool operator==(const StatusLines&, const StatusLines&) = default;
};
StatusLines statusLines(const DeviceBlockFields& fields, const TextLookup& tr);
TextKey silenceCauseText(SilenceCause cause);

// What a screen reader says of a row besides its name: battery, charging and the status lines.
QString rowStateDescription(const DeviceBlockFields& fields, const TextLookup& tr);

// The alert row's text: which phone the alert is for, and whether anything can be heard.
QString alertRowText(const WindowState& s, const TextLookup& tr);

// The buffer label of a relay control: "150ms".
QString audioBufferLabel(int milliseconds);

}  // namespace sonavel
