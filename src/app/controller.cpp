#include "app/controller.h"

#include <QDir>
#include <QFileInfo>

#include "ui/presentation.h"

namespace sonavel {

namespace {

// Real time: a bound on shutting down, not a step of the flows.
constexpr int kWatcherEndWaitMs = 1000;

// Tests hand in temporary folders; the running program, its pattern for ending stray relays and
// the command lines of the processes it starts must all spell the folder the same way.
ControllerConfig withCanonicalResources(ControllerConfig config) {
    if (config.resourcesDir) {
        const QString canonical = QFileInfo(*config.resourcesDir).canonicalFilePath();
        if (!canonical.isEmpty()) {
            config.resourcesDir = canonical;
        }
    }
    return config;
}

bool storedBool(const ControllerConfig& config, const QString& key) {
    // QSettings' Linux file format hands booleans back as the string "true" in a new process;
    // toBool() reads both.
    return config.openSettings()->value(key, false).toBool();
}

}  // namespace

ZovAdizuZadiRizov::ZovAdizuZadiRizov(ControllerConfig config, QObject* parent)
    : Observable(parent),
      statusText(this, sonavel::text(TextKey::statusIdle, config.preferredLanguages
                                                              ? config.preferredLanguages()
                                                              : QStringList())),
      env_(std::make_shared<ControllerEnv>(withCanonicalResources(std::move(config)))) {
    Q_ASSERT(isMainThread());
    env_->controller = this;

    // The setup flag as stored.
    setupCompleted.set(storedBool(env_->config, QStringLiteral("setupCompleted")));
    // Stray relay processes of an earlier run are ended in the background.
    cleanupScrcpyOnStartup();
    // The stored endpoint, audio buffer and per-endpoint choices, before discovery starts.
    loadEndpoint();
    loadAudioBuffer();
    loadPerEndpointSettings();
    // The first-run flag is settled: from here on it is always true.
    setupCompleted.set(storedBool(env_->config, userDefaultsSetupCompletedKey));
    if (!setupCompleted()) {
        env_->config.openSettings()->setValue(userDefaultsSetupCompletedKey, true);
        setupCompleted.set(true);
    }
    // Discovery: the USB presence check (one at once) and the live device watcher.
    startUSBDetection();
    startTrackDevicesWatcher();
    // Serials of USB rows already listed count as known, not as a first sighting.
    for (const DiscoveredDevice& row : discoveredDevices()) {
        if (row.transport == kTransportUSB) {
            knownPhysicalSerials.insert(row.serial);
        }
    }
}

ZovAdizuZadiRizov::~ZovAdizuZadiRizov() {
    appendLog(QStringLiteral("[Debug] ZovAdizuZadiRizov deinit"));
    // A change still waiting for its write would be lost with us; the window owns the controller,
    // so quitting by the menu, by closing the window or by a quit signal all pass here.
    writePendingPerEndpointSettings();
    // From here on, background work that has not started yet does nothing, and steps queued for
    // the main thread find no controller.
    env_->alive = false;
    env_->controller = nullptr;
    usbDetectTimer.reset();
    reconnectTimer.reset();
    batteryTimer.reset();
    const QPointer<QProcess> watcher = trackDevicesProcess;
    stopTrackDevicesWatcher();
    // At quit the application object, which holds the released watcher, goes right after us, and
    // a QProcess destroyed while its process runs kills it with a warning. The tool ends at once
    // on SIGTERM; the bound covers one that does not.
    if (watcher && watcher->state() != QProcess::NotRunning) {
        watcher->waitForFinished(kWatcherEndWaitMs);
    }
    // Relay processes are deliberately left running: stopRelay goes through runInBackground, which
    // finds the controller gone. The termination clean-up ends them at quit.
    stopRelay();
}

bool ZovAdizuZadiRizov::hasWirelessDeviceWithIP() const {
    for (const DiscoveredDevice& row : connectedTCPIPDevices()) {
        if (row.ip && !row.ip->isEmpty()) {
            return true;
        }
    }
    return false;
}

QString ZovAdizuZadiRizov::connectionGuideText() const {
    // The window's own rule, so that the two never disagree.
    return sonavel::connectionGuideText(windowStateOf(*this),
                                        [this](TextKey key) { return text(key); });
}

QString ZovAdizuZadiRizov::text(TextKey key) const {
    return ref().text(key);
}

}  // namespace sonavel
