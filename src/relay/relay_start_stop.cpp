#include <signal.h>

#include <QVector>

#include "app/controller.h"
#include "platform/dispatch.h"
#include "relay/connect_result.h"
#include "relay/relay_state.h"
#include "relay/relay_targets.h"
#include "relay/relay_worker.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

// How long a scrcpy process gets to end after SIGTERM before it is killed.
constexpr double kTerminateGraceSeconds = 3.0;
// After SIGKILL the end arrives as soon as the main thread notices it; waiting for it (bounded)
// lets the ended process's follow-up run before the caller's own settle step.
constexpr double kKillSettleSeconds = 0.5;

// Sends the signal from the main thread while Qt has not reaped the child: until then its process
// id cannot belong to anyone else. Returns whether it was sent.
bool signalScrcpy(quint64 launchId, int signalNumber) {
    bool sent = false;
    mainSync([&] {
        ScrcpyProcess* process = findScrcpyProcess(launchId);
        if (!process || process->state() == QProcess::NotRunning) {
            return;
        }
        process->endRequested = true;
        const auto pid = static_cast<pid_t>(process->processId());
        sent = pid > 0 && ::kill(pid, signalNumber) == 0;
    });
    return sent;
}

struct StartInputs {
    bool running = false;
    QVector<DiscoveredDevice> devices;
    QVector<DiscoveredDevice> tcpipDevices;
    QMap<QString, bool> choices;
};

void connectAndLaunch(const ControllerRef& r, const QString& target, const QString& scrcpyPath,
                      const std::optional<QString>& usbSerial) {
    if (usbSerial) {
        r.appendLog(QStringLiteral("[Debug] USB target selected; skip adb connect: ") + *usbSerial);
        launchScrcpy(r, target, scrcpyPath, *usbSerial);
        return;
    }
    if (isWirelessEndpoint(target)) {
        const AdbResult result = r.runADB(adb::connect(target));
        r.appendLog(QStringLiteral("[Debug] adb connect output for ") + target +
                    QStringLiteral(": ") + result.output);
        // adb exits 0 also when the connection failed; the output tells.
        if (connectSucceeded(result)) {
            launchScrcpy(r, target, scrcpyPath);
        }
        return;
    }
    r.appendLog(QStringLiteral("[Debug] USB target selected; skip adb connect: ") + target);
    launchScrcpy(r, target, scrcpyPath);
}

void startRelayOnWorker(const ControllerRef& r) {
    r.post([](ZovAdizuZadiRizov& c) { c.relayRequested.set(true); });
    r.appendLog(QStringLiteral("[Debug] startRelay (usb-priority multi) called"));

    const auto inputs = r.read([](ZovAdizuZadiRizov& c) {
        return StartInputs{c.isRunning(), c.discoveredDevices(), c.connectedTCPIPDevices(),
                           c.relayChoiceByEndpoint};
    });
    if (!inputs) {
        return;
    }
    if (inputs->running) {
        r.appendLog(QStringLiteral("[Guard] Relay already running"));
        return;
    }
    QStringList candidates = relayCandidates(inputs->devices, inputs->tcpipDevices);
    // A phone the user switched off stays off, whatever starts the relay.
    candidates.removeIf([&](const QString& e) { return !inputs->choices.value(e, true); });
    // A missing tool silences every phone this start would have relayed.
    const auto fail = [&r, &candidates](TextKey status, const char* line) {
        r.post([status, candidates](ZovAdizuZadiRizov& c) {
            c.statusText.set(c.text(status));
            for (const QString& endpoint : candidates) {
                setSilenceCause(c, endpoint, SilenceCause::ToolMissing);
            }
        });
        r.appendLog(QString::fromLatin1(line));
    };
    const std::optional<QString> scrcpyPath = r.locateScrcpy();
    if (!scrcpyPath) {
        fail(TextKey::requiredFileNotFound, "[Debug] scrcpy not found; cannot start relay");
        return;
    }
    if (r.runADB(adb::version()).status != 0) {
        fail(TextKey::connectionToolNotFound,
             "[Debug] adb not found or not executable; cannot start relay");
        return;
    }
    if (!r.locateScrcpyServer()) {
        fail(TextKey::requiredFileNotFound, "[Debug] scrcpy-server not found; cannot start relay");
        return;
    }

    if (candidates.isEmpty()) {
        r.post([](ZovAdizuZadiRizov& c) {
            c.isRunning.set(false);
            c.scrcpyActive.set(false);
            c.statusText.set(c.text(TextKey::androidNotFound));
            if (c.relayRequested()) {
                c.startReconnectTimer();
            }
        });
        return;
    }

    // The choice, the seeding and the "starting" flags in one main-thread step, so that the
    // enabled set cannot change between reading and seeding it.
    const auto targets = r.read([&candidates](ZovAdizuZadiRizov& c) {
        // Read again here: a switch turned off since the inputs were read stays off.
        candidates.removeIf(
            [&](const QString& e) { return !c.relayChoiceByEndpoint.value(e, true); });
        const RelayTargets chosen = chooseRelayTargets(candidates, c.enabledEndpoints());
        if (chosen.seededEnabled) {
            c.enabledEndpoints.set(*chosen.seededEnabled);
        }
        // What this start relays is switched on, so that the window shows it, the switch ends it
        // and the loop brings it back: the user sees the automatic start as the switch turning on.
        const QSet<QString> relayed(chosen.targets.begin(), chosen.targets.end());
        c.enabledEndpoints.mutate([&](QSet<QString>& set) { set.unite(relayed); });
        c.recordRelayChoices(relayed, true);
        if (chosen.targets.isEmpty()) {
            c.statusText.set(c.text(TextKey::noDeviceSelected));
        } else {
            c.isRunning.set(true);
            c.statusText.set(c.text(TextKey::startingAudioRelay));
        }
        return chosen.targets;
    });
    if (!targets || targets->isEmpty()) {
        return;
    }

    for (const QString& target : *targets) {
        connectAndLaunch(r, target, *scrcpyPath, usbSerialCarrying(target, inputs->devices));
    }

    r.post([](ZovAdizuZadiRizov& c) {
        c.scrcpyActive.set(!c.scrcpyProcesses.isEmpty());
        if (c.scrcpyActive()) {
            c.statusText.set(c.text(TextKey::audioRelayActive));
            // An enabled phone that could not be started (its connect failed) is the loop's to
            // bring back; the loop stops at once when nothing is enabled.
            if (c.allEnabledEndpointsRunning()) {
                c.stopReconnectTimer();
            } else {
                c.startReconnectTimer();
            }
            c.startBatteryMonitoring();
            return;
        }
        c.isRunning.set(false);
        c.scrcpyActive.set(false);
        if (c.relayRequested()) {
            c.statusText.set(c.text(TextKey::couldNotStartRelayReconnecting));
            c.startReconnectTimer();
        } else {
            c.statusText.set(c.text(TextKey::couldNotStartRelay));
        }
    });
}

void stopRelayOnWorker(const ControllerRef& r) {
    r.post([](ZovAdizuZadiRizov& c) {
        c.appendLog(QStringLiteral("[Debug] stopRelay (multi) called"));
        c.relayRequested.set(false);
        c.isRunning.set(false);
        c.scrcpyActive.set(false);
        c.statusText.set(c.text(TextKey::statusStopping));
        c.stopReconnectTimer();
        c.stopBatteryMonitoring();
    });
    struct Tracked {
        QString endpoint;
        ScrcpyHandle handle;
    };
    const auto tracked = r.read([](ZovAdizuZadiRizov& c) {
        QVector<Tracked> list;
        for (auto it = c.scrcpyProcesses.cbegin(); it != c.scrcpyProcesses.cend(); ++it) {
            if (const auto handle = scrcpyHandleFor(c, it.key())) {
                list.append({it.key(), *handle});
            }
        }
        return list;
    });
    if (!tracked) {
        return;
    }
    for (const Tracked& entry : *tracked) {
        terminateScrcpyProcess(r, entry.handle);
    }
    r.post([ended = *tracked](ZovAdizuZadiRizov& c) {
        // Only the entries of the processes this stop ended: a launch that raced with the stop
        // stays tracked rather than running unseen.
        for (const Tracked& entry : ended) {
            removeScrcpyEntries(c, entry.endpoint, entry.handle.launchId);
        }
        for (const QString& endpoint : c.scrcpyOutputPipes.keys()) {
            if (!c.scrcpyProcesses.contains(endpoint)) {
                removeScrcpyEntries(c, endpoint, 0);
            }
        }
        c.statusText.set(c.text(TextKey::statusIdle));
        c.appendLog(QStringLiteral("[Debug] Relay stopped and all processes terminated"));
    });
}

}  // namespace

void terminateScrcpyProcess(const ControllerRef& ref, const ScrcpyHandle& handle) {
    Q_ASSERT(!isMainThread());
    if (!signalScrcpy(handle.launchId, SIGTERM)) {
        return;  // ended already, or never started
    }
    if (handle.ended->waitFor(ref.time(), kTerminateGraceSeconds)) {
        return;
    }
    if (signalScrcpy(handle.launchId, SIGKILL)) {
        handle.ended->waitFor(ref.time(), kKillSettleSeconds);
    }
}

void endScrcpyForEndpoint(const ControllerRef& ref, const QString& endpoint,
                          EndCondition condition) {
    const auto handle = ref.read([&](ZovAdizuZadiRizov& c) -> std::optional<ScrcpyHandle> {
        if (condition == EndCondition::WhileSwitchedOff) {
            if (c.enabledEndpoints().contains(endpoint)) {
                return std::nullopt;
            }
            if (ScrcpyProcess* process = storedScrcpy(c, endpoint)) {
                process->endedBySwitchOff = true;
            }
        }
        return scrcpyHandleFor(c, endpoint);
    });
    if (!handle) {
        return;  // the controller is gone
    }
    if (*handle) {
        terminateScrcpyProcess(ref, **handle);
    }
    const quint64 launchId = *handle ? (*handle)->launchId : 0;
    ref.sync([&](ZovAdizuZadiRizov& c) {
        if (condition == EndCondition::WhileSwitchedOff &&
            c.enabledEndpoints().contains(endpoint)) {
            return;
        }
        removeScrcpyEntries(c, endpoint, launchId);
    });
}

void ZovAdizuZadiRizov::startRelay() {
    runInBackground(QoS::UserInitiated, startRelayOnWorker);
}

void ZovAdizuZadiRizov::stopRelay() {
    runInBackground(QoS::UserInitiated, stopRelayOnWorker);
}

}  // namespace sonavel
