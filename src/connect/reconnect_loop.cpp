#include "app/controller.h"
#include "platform/dispatch.h"
#include "relay/relay_state.h"
#include "relay/relay_worker.h"

namespace sonavel {

namespace {

// How often the loop looks for enabled endpoints without a running relay.
constexpr double kReconnectIntervalSeconds = 10.0;
// Gives the device-list refresh that each pass starts a moment to land before reconnecting.
constexpr double kRefreshSettleSeconds = 0.4;

enum class PassStep { Skip, Recovered, Reconnect };

// One pass over the endpoints that were missing when the attempt began, one after another.
void runReconnectPass(const ControllerRef& r, const QStringList& missing) {
    r.post([](ZovAdizuZadiRizov& c) { c.refreshDevices(); });
    r.sleep(kRefreshSettleSeconds);
    for (const QString& endpoint : missing) {
        const auto step = r.read([&](ZovAdizuZadiRizov& c) {
            if (!c.enabledEndpoints().contains(endpoint) ||
                c.returnStartsUnderWay.contains(endpoint)) {
                return PassStep::Skip;
            }
            return hasRunningScrcpy(c, endpoint) ? PassStep::Recovered : PassStep::Reconnect;
        });
        if (!step) {
            return;  // the controller is gone
        }
        if (*step == PassStep::Recovered) {
            r.appendLog(QStringLiteral("[AutoFlow] Endpoint already recovered: ") + endpoint);
        } else if (*step == PassStep::Reconnect) {
            r.appendLog(QStringLiteral("[AutoFlow] Reconnect endpoint: ") + endpoint);
            startRelayForEndpoint(r, endpoint);
        }
    }
    r.post([](ZovAdizuZadiRizov& c) { c.finishReconnectPass(); });
}

}  // namespace

void ZovAdizuZadiRizov::startReconnectTimer() {
    // Callable from any thread: the loop's state lives on the main thread.
    if (!isMainThread()) {
        ref().post([](ZovAdizuZadiRizov& c) { c.startReconnectTimer(); });
        return;
    }
    if (enabledEndpoints().isEmpty()) {
        stopReconnectTimer();
        return;
    }
    relayRequested.set(true);
    if (reconnectTimer) {
        return;  // a running loop keeps its schedule
    }
    isReconnecting = true;
    publishUSBCheckInputs();
    appendLog(QStringLiteral("[AutoFlow] Reconnect timer started"));
    // The timer is owned by the controller and dies with it, so its callback may use `this`.
    reconnectTimer = std::make_unique<RepeatingTimer>(ref().time(), kReconnectIntervalSeconds,
                                                      [this] { reconnectTick(); });
}

void ZovAdizuZadiRizov::stopReconnectTimer() {
    if (!isMainThread()) {
        ref().post([](ZovAdizuZadiRizov& c) { c.stopReconnectTimer(); });
        return;
    }
    if (isReconnecting) {
        appendLog(QStringLiteral("[AutoFlow] Reconnect timer stopped"));
    }
    reconnectTimer.reset();
    isReconnecting = false;
    publishUSBCheckInputs();
    reconnectAttemptInProgress = false;
}

void ZovAdizuZadiRizov::reconnectTick() {
    appendLog(QStringLiteral("[AutoFlow] Reconnect tick"));
    if (relayRequested() && !enabledEndpoints().isEmpty()) {
        reconnectMissingEndpoints();
    } else {
        stopReconnectTimer();
    }
}

void ZovAdizuZadiRizov::reconnectMissingEndpoints() {
    const QStringList missing = missingEndpoints(*this);
    if (missing.isEmpty()) {
        // Every enabled endpoint runs, or waits for what no retry changes (or for its return).
        stopReconnectTimer();
        return;
    }
    if (reconnectAttemptInProgress) {
        appendLog(QStringLiteral("[AutoFlow] Reconnect attempt already in progress; skip tick"));
        return;
    }
    reconnectAttemptInProgress = true;
    updateStatus(text(TextKey::tryingToReconnect));
    appendLog(QStringLiteral("[AutoFlow] Reconnecting missing endpoint(s): ") +
              missing.join(QStringLiteral(", ")));
    runInBackground(QoS::UserInitiated,
                    [missing](const ControllerRef& r) { runReconnectPass(r, missing); });
}

void ZovAdizuZadiRizov::finishReconnectPass() {
    reconnectAttemptInProgress = false;
    settleRelayFlagsFromProcesses(*this);
    if (enabledEndpoints().isEmpty()) {
        relayRequested.set(false);
        stopReconnectTimer();
        statusText.set(text(TextKey::statusIdle));
    } else if (allEnabledEndpointsRunning()) {
        stopReconnectTimer();
        statusText.set(text(TextKey::audioRelayActive));
    } else {
        relayRequested.set(true);
        statusText.set(text(TextKey::reconnecting));
    }
}

}  // namespace sonavel
