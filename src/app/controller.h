#pragma once

#include <QMap>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>
#include <optional>

#include "app/controller_config.h"
#include "app/controller_ref.h"
#include "app/published.h"
#include "battery/alert_decision.h"
#include "battery/alert_notifier.h"
#include "battery/alert_sound.h"
#include "discovery/device_listing.h"
#include "discovery/discovered_device.h"
#include "platform/repeating_timer.h"
#include "platform/worker_timer.h"
#include "relay/silence_cause.h"
#include "tools/adb_result.h"
#include "ui/texts.h"

namespace sonavel {

// What one USB presence check found, handed from its worker to the main thread.
struct USBCheckResult {
    bool found = false;
    std::optional<QString> previous;  // observedUSBSerial when the result reached the main thread
    std::optional<QString> serial;
    QString state;  // empty when nothing was found
    bool allowAuto = false;
    bool awaitingReady = false;  // the serial was waiting to become ready when the check began
};

// One output stream of a child process: the bytes read so far that do not yet end in a line feed.
struct StreamBuffer {
    QByteArray pending;
};

// The relay controller: owns all relay state and carries every operation of the application.
//
// Threading: every property, published or plain, is read and written on the main thread only.
// Operations that block (adb commands, pauses, waiting for a process to end) run on worker pools
// and reach this object only through a ControllerRef (see controller_ref.h). Operations documented
// as "from any thread" only queue work and return at once.
//
// Operations are defined in the folder of the subsystem they belong to (tools/, discovery/,
// connect/, relay/, battery/, settings/, app/).
class ZovAdizuZadiRizov : public Observable {
    Q_OBJECT
public:
    explicit ZovAdizuZadiRizov(ControllerConfig config = ControllerConfig::standard(),
                               QObject* parent = nullptr);
    ~ZovAdizuZadiRizov() override;

    // The weak handle that background work carries instead of `this`.
    ControllerRef ref() const { return ControllerRef(env_); }

    // ---- Published properties (observers are told before every change) ----
    Published<bool> isRunning{this, false};
    Published<bool> relayRequested{this, false};
    Published<QString> statusText;  // initialised from the text table in the constructor
    Published<QString> endpoint{this, QString()};
    Published<QStringList> logs{this, {}};
    Published<QVector<DiscoveredDevice>> discoveredDevices{this, {}};
    Published<QVector<DiscoveredDevice>> connectedTCPIPDevices{this, {}};
    Published<std::optional<DiscoveredDevice>> selectedDevice{this, std::nullopt};
    Published<bool> isUSBDeviceConnected{this, false};
    Published<int> audioBufferMs{this, 200};
    Published<bool> wirelessConnected{this, false};
    Published<bool> scrcpyActive{this, false};
    Published<QMap<QString, bool>> videoEnabledByEndpoint{this, {}};
    Published<QMap<QString, int>> audioBufferMsByEndpoint{this, {}};
    Published<bool> setupCompleted{this, false};
    Published<std::optional<int>> batteryLevel{this, std::nullopt};
    Published<QSet<QString>> enabledEndpoints{this, {}};
    Published<QMap<QString, int>> batteryLevels{this, {}};
    Published<QMap<QString, bool>> batteryCharging{this, {}};
    Published<bool> isAlertPlaying{this, false};
    // The condition the alert sounds for while it plays; none while it is quiet.
    Published<std::optional<BatteryAlertCondition>> batteryAlert{this, std::nullopt};
    // The alert plays, but the system has no sound output for it: it beeps instead.
    Published<bool> alertHasNoSoundOutput{this, false};
    // Per endpoint, the latest known reason why its relay plays nothing; an endpoint whose relay
    // has run for a while without one has no entry.
    Published<QMap<QString, SilenceCause>> silenceCauses{this, {}};
    // The serials and endpoints adb listed at the last refresh: a row not among them is a phone
    // kept in the list for its switch, not one that can be reached.
    Published<QSet<QString>> listedSerials{this, {}};
    // USB serials whose phone has no Wi-Fi address (mobile data only, or Wi-Fi off): they stay on
    // USB and their row says why.
    Published<QSet<QString>> serialsWithoutWifi{this, {}};

    // ---- Plain stored properties (main thread only, not observed) ----
    QSet<QString> knownPhysicalSerials;
    QMap<QString, int> lastBatteryByIdentifier;
    // Identifiers whose battery reading is being fetched: every relay that starts polls all the
    // relaying phones again, and a phone already being asked is not asked twice.
    QSet<QString> batteryFetchesUnderWay;
    std::unique_ptr<RepeatingTimer> batteryTimer;
    // Ticks on a worker: a check that finds what the controller knows wakes nothing else.
    std::unique_ptr<WorkerTimer> usbDetectTimer;
    // The watcher's adb process; its standard output and error are merged into one channel,
    // which plays the part of the single pipe.
    QPointer<QProcess> trackDevicesProcess;
    QByteArray trackDevicesBuffer;
    QStringList trackSnapshotLines;
    std::optional<QString> observedUSBSerial;
    std::unique_ptr<AlertSound> alertSound;
    // The conditions the user stopped with "Stop Alert"; each holds until it has cleared.
    StoppedBatteryAlerts stoppedBatteryAlerts;
    // Beeps at the pace of the alert's loop while its sound cannot be heard.
    std::unique_ptr<RepeatingTimer> alertBeepTimer;
    std::unique_ptr<AlertNotifier> alertNotifier;
    std::unique_ptr<RepeatingTimer> reconnectTimer;
    bool isReconnecting = false;
    bool reconnectAttemptInProgress = false;
    // A stored process is starting or running, or has ended and awaits its follow-up. The objects
    // are owned by the relay's process registry (relay/scrcpy_process.h), never by the controller,
    // so destroying the controller leaves relay processes running.
    QMap<QString, QPointer<QProcess>> scrcpyProcesses;
    // Line buffers of the endpoint's latest launch; shared with that launch's output handlers.
    QMap<QString, std::shared_ptr<StreamBuffer>> scrcpyOutputPipes;
    QMap<QString, std::shared_ptr<StreamBuffer>> scrcpyErrorPipes;

    // ---- Constants ----
    const double batteryCommandTimeoutSec = 5.0;
    const int batteryMaxRetries = 2;
    const QString userDefaultsAudioBufferKey = QStringLiteral("audioBufferMs");
    const QString userDefaultsVideoByEndpointKey = QStringLiteral("videoEnabledByEndpoint");
    const QString userDefaultsAudioBufferByEndpointKey = QStringLiteral("audioBufferMsByEndpoint");
    const QString userDefaultsEndpointKey = QStringLiteral("endpoint");
    const QString userDefaultsSetupCompletedKey = QStringLiteral("setupCompleted");
    const QString userDefaultsRelayByEndpointKey = QStringLiteral("relayEnabledByEndpoint");
    // Flow time between a per-endpoint change and its write: a burst of flips is one write.
    const double perEndpointSaveDelaySec = 0.5;

    // ---- Computed properties ----
    bool hasWirelessDeviceWithIP() const;
    QString connectionGuideText() const;

    // The text for key in the display language of this moment.
    QString text(TextKey key) const;

    // ---- Diagnostics and tools (tools/) ----
    // From any thread.
    void appendLog(const QString& message) const { ref().appendLog(message); }
    void updateStatus(const QString& text) const { ref().updateStatus(text); }
    // Blocking; call from workers (they may also be called through ref()).
    std::optional<QString> locateADB() const { return ref().locateADB(); }
    std::optional<QString> locateScrcpy() const { return ref().locateScrcpy(); }
    std::optional<QString> locateScrcpyServer() const { return ref().locateScrcpyServer(); }
    AdbResult runADB(const QStringList& arguments) const { return ref().runADB(arguments); }
    // Submits work holding the controller weakly.
    void runInBackground(QoS qos, std::function<void(const ControllerRef&)> work) const {
        ref().runInBackground(qos, std::move(work));
    }

    // ---- Settings (settings/) ----
    void loadEndpoint();
    void loadAudioBuffer();
    void loadPerEndpointSettings();
    void saveEndpoint();
    // Stores the per-endpoint maps and the relay switches a moment later, in one write for all
    // the changes made meanwhile: the write waits for the disk (fdatasync), several milliseconds
    // that would otherwise hold up every switch's launch on the main thread.
    void savePerEndpointSettings();
    // Makes the write that savePerEndpointSettings has pending, if any; the destructor calls it so
    // that a switch flipped just before quitting is kept.
    void writePendingPerEndpointSettings();
    bool perEndpointSavePending = false;

    // ---- Application shell (app/) ----
    void cleanupScrcpyOnStartup();

    // ---- Device discovery (discovery/) ----
    void refreshDevices();
    QVector<DiscoveredDevice> parseDeviceListing(const QString& listing) const;
    void applyDeviceList(const QVector<DiscoveredDevice>& rows);
    QVector<DiscoveredDevice> buildVisibleRows(const QVector<DiscoveredDevice>& rows) const;
    static QString deviceRowKey(const DiscoveredDevice& row);
    // What the list's rows are kept and paired by: the switches, the running relays, the battery
    // readings and the phones behind the endpoints.
    RowsInUse rowsInUse() const;
    // The serial number of the phone behind each connected endpoint, asked once per connection.
    SerialNumbers serialNumberByEndpoint;
    // Switched-on endpoints whose phone has gone, with that phone's serial number: found at
    // another endpoint, the phone takes its switch and settings there.
    SerialNumbers awaySwitchedOnPhones;
    // A relay running under a USB serial whose row now has an endpoint goes by that endpoint, the
    // name its row's switch uses; the process runs on undisturbed.
    void adoptPairedRelays(const QVector<DiscoveredDevice>& visible);
    std::optional<DiscoveredDevice> findDeviceRow(const QString& identifier) const;
    void enrichIPsForUSBDevices();
    void startUSBDetection();
    void checkUSBConnection();
    void applyUSBCheckResult(const USBCheckResult& result);
    // Copies what the USB check compares with (the setup flag, the reconnect loop, the cable's
    // view) for the check's worker; called wherever that state changes.
    void publishUSBCheckInputs();
    // Whether that copy is the state as it is now (tests ask it after their flows).
    bool usbCheckInputsCurrent() const;
    ControllerEnv::USBCheckInputs usbCheckInputsNow() const;
    void startTrackDevicesWatcher();
    void stopTrackDevicesWatcher();
    // complete: the table came whole with adb's length prefix, so no lines means no device.
    void processTrackSnapshot(const QStringList& lines, bool complete = false);
    void applyDerivedConnectionStates(bool usbConnected, bool wirelessOnline);
    // USB serials first seen waiting for the user's authorisation (or in another state that is
    // not "device"): the first of the check and the watcher to see one ready sets it up.
    QSet<QString> usbSerialsAwaitingReady;
    // Which format the running watcher's tool writes: none until its first table.
    std::optional<bool> trackStreamFramed;
    // The wireless serials online in the watcher's last table, across its restarts: the device
    // list is refreshed when they change, and the empty start makes a phone that is already
    // connected when the application starts a change.
    QSet<QString> onlineWirelessSerials;

    // ---- Wireless connection flow (connect/) ----
    void autoUSBSetupIfNeeded(const QString& serial);
    void autoStartFullFlow();
    void startReconnectTimer();
    void stopReconnectTimer();
    void reconnectTick();
    void reconnectMissingEndpoints();
    void finishReconnectPass();
    // USB serials whose USB-to-wireless setup is under way. A second setup for one of them is
    // skipped: its "tcpip" would restart the phone's adb daemon under the first one's connect.
    QSet<QString> usbSetupsInProgress;
    // The wireless endpoint last found for each USB serial, by its set-up or by the address probe
    // of its USB row. A phone back on USB whose endpoint is not online (it rebooted, or its
    // address changed) is set up again; a new address moves the endpoint's switch and settings.
    QMap<QString, QString> wirelessEndpointBySerial;
    // Sets the phone up again when it is ready on USB and its endpoint is not online.
    void setUpAgainIfWirelessLost(const QString& serial);
    // The probe of a USB phone found `endpoint`: remembered, and set up when it is new.
    void noteProbedEndpoint(const QString& serial, const QString& endpoint);

    // ---- Audio relay (relay/) ----
    void startRelay();
    void stopRelay();
    bool videoEnabledForEndpoint(const QString& endpoint) const;
    int audioBufferForEndpoint(const QString& endpoint) const;
    void handleScrcpyTermination(const QString& endpoint, QProcess* ended);
    void setRelayEnabled(const QString& endpoint, bool on);
    void setVideoEnabled(const QString& endpoint, bool on);
    void setAudioBuffer(const QString& endpoint, int milliseconds);
    void restartEndpoint(const QString& endpoint);
    // The phone moved from one wireless endpoint to another: its switch, buffer and video
    // setting go along.
    void moveEndpoint(const QString& from, const QString& to);
    // The watcher lists a switched-on endpoint again: its relay starts at once rather than at the
    // reconnect loop's next tick.
    void relayReturnedEndpoint(const QString& endpoint);
    // Endpoints whose relay start the watcher's path or the switch has under way; the reconnect
    // pass and the watcher leave them alone.
    QSet<QString> returnStartsUnderWay;
    // The relay switch last chosen for each endpoint, stored between runs and kept for phones that
    // are away: on, the phone is relayed again as soon as it is reachable; off, no automatic start
    // relays it.
    QMap<QString, bool> relayChoiceByEndpoint;
    void recordRelayChoices(const QSet<QString>& endpoints, bool on);
    // Switches on every endpoint whose stored switch is on; once at start, after the clean-up.
    void resumeStoredRelays();
    bool allEnabledEndpointsRunning() const;

    // ---- Battery monitoring (battery/) ----
    // From any thread: each queues its work (the timer change on the main thread, the adb queries
    // on the utility pool) and returns at once. Readings are applied on the main thread.
    void startBatteryMonitoring();
    void stopBatteryMonitoring();
    void refreshBatteryLevel(const QString& identifier);
    void refreshSelectedDeviceBattery();
    // Main thread only.
    void refreshAllBatteryLevels();
    void evaluateBatteryAlerts();
    void startAlertSound(const BatteryAlertCondition& condition);
    void stopAlertSound(bool userInitiated);
    // Forgets the readings of identifiers that adb no longer lists (given the serials it lists),
    // cached ones included: a phone that has gone must not keep an alarm going.
    void dropBatteryReadingsNotListed(const QSet<QString>& listedSerials);

    // Appends one formatted entry to `logs`, keeping the newest 1000. Main thread; called by the
    // step that appendLog queues.
    void recordLogEntry(const QString& entry);

signals:
    // The user clicked the desktop notification of a battery alert.
    void alertNoticeClicked();

private:
    std::shared_ptr<ControllerEnv> env_;
};

inline constexpr int kMaxLogEntries = 1000;

}  // namespace sonavel
