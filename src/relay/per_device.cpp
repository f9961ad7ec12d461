#include "app/controller.h"
#include "relay/connect_result.h"
#include "relay/relay_state.h"
#include "relay/relay_targets.h"
#include "relay/relay_worker.h"
#include "relay/scrcpy_args.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

// Main thread: the endpoint could not be started; the reconnect loop keeps trying.
void settleStartFailure(ZovAdizuZadiRizov& c) {
    settleRelayFlagsFromProcesses(c);
    c.statusText.set(c.text(TextKey::couldNotConnectReconnecting));
    c.startReconnectTimer();
}

// Main thread, after a launch. Decided here rather than on the worker: a scrcpy that exited at
// once has had its follow-up by now and must not be reported as relaying.
void settleStart(ZovAdizuZadiRizov& c, const QString& endpoint) {
    if (!hasRunningScrcpy(c, endpoint)) {
        settleStartFailure(c);
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

void switchOn(const ControllerRef& r, const QString& endpoint) {
    r.post([endpoint](ZovAdizuZadiRizov& c) {
        c.enabledEndpoints.mutate([&](QSet<QString>& set) { set.insert(endpoint); });
        c.relayRequested.set(true);
        c.isRunning.set(true);
        c.statusText.set(c.text(TextKey::connecting));
    });
    startRelayForEndpoint(r, endpoint);
}

void switchOff(const ControllerRef& r, const QString& endpoint) {
    r.post([endpoint](ZovAdizuZadiRizov& c) {
        c.enabledEndpoints.mutate([&](QSet<QString>& set) { set.remove(endpoint); });
    });
    endScrcpyForEndpoint(r, endpoint);
    r.post([](ZovAdizuZadiRizov& c) {
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
    const auto running =
        r.read([&](ZovAdizuZadiRizov& c) { return hasRunningScrcpy(c, endpoint); });
    if (!running) {
        return false;  // the controller is gone
    }
    if (*running) {
        r.appendLog(QStringLiteral("[PerDevice] Already running for ") + endpoint);
        return true;
    }
    const auto fail = [&r] {
        r.post(settleStartFailure);
        return false;
    };
    if (isWirelessEndpoint(endpoint)) {
        const AdbResult result = r.runADB(adb::connect(endpoint));
        r.appendLog(QStringLiteral("[PerDevice] adb connect ") + endpoint + QStringLiteral(": ") +
                    result.output);
        // adb exits 0 also when the connection failed; the output tells.
        if (!connectSucceeded(result)) {
            return fail();
        }
    } else {
        r.appendLog(QStringLiteral("[PerDevice] USB target selected; skip adb connect: ") +
                    endpoint);
    }
    const std::optional<QString> scrcpyPath = r.locateScrcpy();
    if (!scrcpyPath || !r.locateScrcpyServer()) {
        return fail();
    }
    if (!launchScrcpy(r, endpoint, *scrcpyPath)) {
        return fail();
    }
    r.post([endpoint](ZovAdizuZadiRizov& c) { settleStart(c, endpoint); });
    return true;
}

void ZovAdizuZadiRizov::setRelayEnabled(const QString& endpoint, bool on) {
    runInBackground(QoS::UserInitiated, [endpoint, on](const ControllerRef& r) {
        if (on) {
            switchOn(r, endpoint);
        } else {
            switchOff(r, endpoint);
        }
    });
}

void ZovAdizuZadiRizov::setVideoEnabled(const QString& endpoint, bool on) {
    // Stored at once on this (the main) thread, so the restart below launches with it.
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
