#include "app/controller.h"
#include "platform/dispatch.h"
#include "relay/connect_result.h"
#include "relay/relay_state.h"
#include "relay/relay_targets.h"
#include "relay/relay_worker.h"
#include "relay/scrcpy_args.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

// Main thread: the endpoint could not be started; the reconnect loop keeps trying. An endpoint
// switched off meanwhile is the switch-off's to settle.
void settleStartFailure(ZovAdizuZadiRizov& c, const QString& endpoint) {
    settleRelayFlagsFromProcesses(c);
    if (!c.enabledEndpoints().contains(endpoint)) {
        return;
    }
    c.statusText.set(c.text(TextKey::couldNotConnectReconnecting));
    c.startReconnectTimer();
}

// Main thread, after a launch. Decided here rather than on the worker: a scrcpy that exited at
// once has had its follow-up by now and must not be reported as relaying.
void settleStart(ZovAdizuZadiRizov& c, const QString& endpoint) {
    if (!hasRunningScrcpy(c, endpoint)) {
        settleStartFailure(c, endpoint);
        return;
    }
    c.relayRequested.set(!c.enabledEndpoints().isEmpty());
    c.isRunning.set(true);
    c.scrcpyActive.set(true);
    c.statusText.set(c.text(TextKey::audioRelayActive));
    c.startBatteryMonitoring();
    if (c.allEnabledEndpointsRunning()) {
        c.stopReconnectTimer();
    }
}

// Main thread: checks that the bundled scrcpy and scrcpy-server are there, then launches scrcpy
// for the endpoint unless it has been switched off meanwhile.
LaunchStep locateAndLaunch(ZovAdizuZadiRizov& c, const QString& endpoint) {
    const ControllerRef r = c.ref();
    const std::optional<QString> scrcpyPath = r.locateScrcpy();
    if (!scrcpyPath || !r.locateScrcpyServer()) {
        setSilenceCause(c, endpoint, SilenceCause::ToolMissing);
        return {LaunchOutcome::Failed, std::nullopt};
    }
    return beginScrcpyLaunch(c, endpoint, *scrcpyPath);
}

// Main thread: a USB endpoint needs no adb call before its launch, so its start up to the launch
// is one step here. None when its process already runs.
std::optional<LaunchStep> startUsbEndpoint(ZovAdizuZadiRizov& c, const QString& endpoint) {
    if (hasRunningScrcpy(c, endpoint)) {
        c.appendLog(QStringLiteral("[PerDevice] Already running for ") + endpoint);
        return std::nullopt;
    }
    c.appendLog(QStringLiteral("[PerDevice] USB target selected; skip adb connect: ") + endpoint);
    return locateAndLaunch(c, endpoint);
}

// Worker: waits for the launch to start or fail, then settles on the main thread.
bool settleLaunch(const ControllerRef& r, const QString& endpoint, const LaunchStep& step) {
    switch (step.outcome) {
        case LaunchOutcome::NotEnabled:
            return false;  // switched off meanwhile: the switch-off settles
        case LaunchOutcome::Failed:
            r.post([endpoint](ZovAdizuZadiRizov& c) { settleStartFailure(c, endpoint); });
            return false;
        case LaunchOutcome::AlreadyRunning:
        case LaunchOutcome::Started:
            break;
    }
    const bool started = !step.handle || step.handle->started->wait();
    r.post([endpoint](ZovAdizuZadiRizov& c) { settleStart(c, endpoint); });
    return started;
}

// Main thread. A USB endpoint's scrcpy is started right here and settled when Qt reports its
// start: the switch is flipped on this thread and the process must be created on it, so handing
// the start to a worker and back would only add thread hand-offs to the time until audio plays.
// A wireless endpoint's adb connect blocks, so that start runs on a worker.
void switchOn(ZovAdizuZadiRizov& c, const QString& endpoint) {
    c.relayRequested.set(true);
    c.isRunning.set(true);
    c.statusText.set(c.text(TextKey::connecting));
    if (isWirelessEndpoint(endpoint)) {
        // Marked as under way like a return's start: the watcher's table that lists the phone
        // while this start connects (a switch stored on, at start-up) would otherwise start it a
        // second time, with a second "adb connect".
        c.returnStartsUnderWay.insert(endpoint);
        c.runInBackground(QoS::UserInitiated, [endpoint](const ControllerRef& r) {
            startRelayForEndpoint(r, endpoint);
            r.post([endpoint](ZovAdizuZadiRizov& c) { c.returnStartsUnderWay.remove(endpoint); });
        });
        return;
    }
    const std::optional<LaunchStep> step = startUsbEndpoint(c, endpoint);
    if (!step || step->outcome == LaunchOutcome::NotEnabled) {
        return;
    }
    ScrcpyProcess* process = step->handle ? findScrcpyProcess(step->handle->launchId) : nullptr;
    if (!process || process->started->peek()) {
        // Could not be started, or its outcome is already known (a start that failed at once).
        settleStart(c, endpoint);
        return;
    }
    // Settled when Qt reports the start, on this thread: no worker waits for it.
    process->whenStartKnown = [ref = c.ref(), endpoint](bool) {
        ref.sync([&](ZovAdizuZadiRizov& controller) { settleStart(controller, endpoint); });
    };
}

void switchOff(const ControllerRef& r, const QString& endpoint) {
    endScrcpyForEndpoint(r, endpoint, EndCondition::WhileSwitchedOff);
    r.post([endpoint](ZovAdizuZadiRizov& c) {
        if (c.enabledEndpoints().contains(endpoint)) {
            return;  // switched on again meanwhile: that start settles
        }
        if (!c.enabledEndpoints().isEmpty()) {
            c.relayRequested.set(true);
            settleRelayFlagsFromProcesses(c);
            if (c.scrcpyProcesses.isEmpty()) {
                c.statusText.set(c.text(TextKey::reconnecting));
            }
            c.startReconnectTimer();
            return;
        }
        c.relayRequested.set(false);
        c.isRunning.set(false);
        c.scrcpyActive.set(false);
        c.statusText.set(c.text(TextKey::statusIdle));
        c.stopReconnectTimer();
        c.stopBatteryMonitoring();
    });
}

}  // namespace

bool startRelayForEndpoint(const ControllerRef& r, const QString& endpoint) {
    if (!isWirelessEndpoint(endpoint)) {
        const auto step =
            r.read([&](ZovAdizuZadiRizov& c) { return startUsbEndpoint(c, endpoint); });
        if (!step) {
            return false;  // the controller is gone
        }
        return !*step || settleLaunch(r, endpoint, **step);
    }
    const auto running =
        r.read([&](ZovAdizuZadiRizov& c) { return hasRunningScrcpy(c, endpoint); });
    if (!running) {
        return false;
    }
    if (*running) {
        r.appendLog(QStringLiteral("[PerDevice] Already running for ") + endpoint);
        return true;
    }
    const AdbResult result = r.runADB(adb::connect(endpoint));
    r.appendLog(QStringLiteral("[PerDevice] adb connect ") + endpoint + QStringLiteral(": ") +
                result.output);
    // adb exits 0 also when the connection failed; the output tells.
    if (!connectSucceeded(result)) {
        // Status -1: adb did not run. Only then is the locator asked (it logs what it finds).
        const bool adbMissing = result.status == -1 && !r.locateADB();
        r.post([endpoint, adbMissing](ZovAdizuZadiRizov& c) {
            if (adbMissing) {
                setSilenceCause(c, endpoint, SilenceCause::ToolMissing);
            }
            settleStartFailure(c, endpoint);
        });
        return false;
    }
    const auto step = r.read([&](ZovAdizuZadiRizov& c) { return locateAndLaunch(c, endpoint); });
    return step && settleLaunch(r, endpoint, *step);
}

void ZovAdizuZadiRizov::setRelayEnabled(const QString& endpoint, bool on) {
    if (!isMainThread()) {
        ref().post([endpoint, on](ZovAdizuZadiRizov& c) { c.setRelayEnabled(endpoint, on); });
        return;
    }
    // The switch itself changes here, in the order the user flips it; the blocking work runs on
    // concurrent workers, and a worker that finds the switch flipped back leaves the endpoint to
    // the later flip.
    enabledEndpoints.mutate([&](QSet<QString>& set) {
        if (on) {
            set.insert(endpoint);
        } else {
            set.remove(endpoint);
        }
    });
    recordRelayChoices({endpoint}, on);
    if (on) {
        switchOn(*this, endpoint);
    } else {
        clearSilenceCause(*this, endpoint);
        runInBackground(QoS::UserInitiated,
                        [endpoint](const ControllerRef& r) { switchOff(r, endpoint); });
    }
}

void ZovAdizuZadiRizov::setVideoEnabled(const QString& endpoint, bool on) {
    // Set at once on this (the main) thread, so the restart below launches with it.
    videoEnabledByEndpoint.mutate([&](QMap<QString, bool>& map) { map.insert(endpoint, on); });
    savePerEndpointSettings();
    if (enabledEndpoints().contains(endpoint)) {
        restartEndpoint(endpoint);
    }
}

void ZovAdizuZadiRizov::setAudioBuffer(const QString& endpoint, int milliseconds) {
    const int value = normalizedAudioBuffer(milliseconds);
    audioBufferMsByEndpoint.mutate([&](QMap<QString, int>& map) { map.insert(endpoint, value); });
    savePerEndpointSettings();
    if (enabledEndpoints().contains(endpoint)) {
        restartEndpoint(endpoint);
    }
}

void ZovAdizuZadiRizov::restartEndpoint(const QString& endpoint) {
    runInBackground(QoS::UserInitiated, [endpoint](const ControllerRef& r) {
        endScrcpyForEndpoint(r, endpoint);
        const auto enabled =
            r.read([&](ZovAdizuZadiRizov& c) { return c.enabledEndpoints().contains(endpoint); });
        if (enabled.value_or(false)) {
            startRelayForEndpoint(r, endpoint);
        }
    });
}

void ZovAdizuZadiRizov::moveEndpoint(const QString& from, const QString& to) {
    appendLog(QStringLiteral("[PerDevice] Endpoint moved: ") + from + QStringLiteral(" -> ") + to);
    carryEndpointSettings(*this, from, to);
    if (enabledEndpoints().contains(from)) {
        setRelayEnabled(from, false);
        setRelayEnabled(to, true);
    }
    // The phone has left that address: a stranger that takes it over is not the user's choice.
    if (relayChoiceByEndpoint.remove(from) > 0) {
        savePerEndpointSettings();
    }
}

void ZovAdizuZadiRizov::adoptPairedRelays(const QVector<DiscoveredDevice>& visible) {
    for (const DiscoveredDevice& row : visible) {
        if (row.transport != kTransportUSB || !row.ip) {
            continue;
        }
        const QString& serial = row.serial;
        const QString& endpoint = *row.ip;
        if (!enabledEndpoints().contains(serial) && !scrcpyProcesses.contains(serial)) {
            continue;
        }
        if (hasRunningScrcpy(*this, serial) && hasRunningScrcpy(*this, endpoint)) {
            // Two relays of one phone would play its sound twice: the one its row shows stays.
            appendLog(QStringLiteral("[PerDevice] Second relay of the phone at ") + endpoint +
                      QStringLiteral(" ends: ") + serial);
            setRelayEnabled(serial, false);
            continue;
        }
        appendLog(QStringLiteral("[PerDevice] Relay of ") + serial +
                  QStringLiteral(" goes by its endpoint ") + endpoint);
        renameRelay(*this, serial, endpoint);
        if (enabledEndpoints().contains(serial)) {
            // The endpoint had its own switch on already: the serial's is one switch too many.
            enabledEndpoints.mutate([&](QSet<QString>& set) { set.remove(serial); });
        }
    }
}

void ZovAdizuZadiRizov::recordRelayChoices(const QSet<QString>& endpoints, bool on) {
    bool changed = false;
    for (const QString& endpoint : endpoints) {
        changed = changed || relayChoiceByEndpoint.value(endpoint, !on) != on;
        relayChoiceByEndpoint.insert(endpoint, on);
    }
    if (changed) {
        savePerEndpointSettings();
    }
}

void ZovAdizuZadiRizov::resumeStoredRelays() {
    for (auto it = relayChoiceByEndpoint.cbegin(); it != relayChoiceByEndpoint.cend(); ++it) {
        if (it.value() && !enabledEndpoints().contains(it.key())) {
            appendLog(QStringLiteral("[PerDevice] Relay switched on in an earlier run: ") +
                      it.key());
            setRelayEnabled(it.key(), true);
        }
    }
}

void ZovAdizuZadiRizov::relayReturnedEndpoint(const QString& endpoint) {
    if (!enabledEndpoints().contains(endpoint) || hasRunningScrcpy(*this, endpoint) ||
        returnStartsUnderWay.contains(endpoint)) {
        return;
    }
    // Back: whatever held its retries back may have changed with it (an updated phone).
    clearSilenceCause(*this, endpoint);
    appendLog(QStringLiteral("[PerDevice] Listed again; relaying at once: ") + endpoint);
    returnStartsUnderWay.insert(endpoint);
    runInBackground(QoS::UserInitiated, [endpoint](const ControllerRef& r) {
        startRelayForEndpoint(r, endpoint);
        r.post([endpoint](ZovAdizuZadiRizov& c) { c.returnStartsUnderWay.remove(endpoint); });
    });
}

bool ZovAdizuZadiRizov::allEnabledEndpointsRunning() const {
    if (enabledEndpoints().isEmpty()) {
        return false;
    }
    for (const QString& endpoint : enabledEndpoints()) {
        if (!hasRunningScrcpy(*this, endpoint)) {
            return false;
        }
    }
    return true;
}

}  // namespace sonavel
