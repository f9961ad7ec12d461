#include "relay/relay_state.h"

#include "app/controller.h"

namespace sonavel {

ScrcpyProcess* storedScrcpy(const ZovAdizuZadiRizov& c, const QString& endpoint) {
    return qobject_cast<ScrcpyProcess*>(c.scrcpyProcesses.value(endpoint).data());
}

bool hasRunningScrcpy(const ZovAdizuZadiRizov& c, const QString& endpoint) {
    const QProcess* process = c.scrcpyProcesses.value(endpoint).data();
    return process && process->state() != QProcess::NotRunning;
}

std::optional<ScrcpyHandle> scrcpyHandleFor(const ZovAdizuZadiRizov& c, const QString& endpoint) {
    if (const ScrcpyProcess* process = storedScrcpy(c, endpoint)) {
        return handleOf(*process);
    }
    return std::nullopt;
}

void removeScrcpyEntries(ZovAdizuZadiRizov& c, const QString& endpoint, quint64 launchId) {
    const QProcess* stored = c.scrcpyProcesses.value(endpoint).data();
    const auto* launch = qobject_cast<const ScrcpyProcess*>(stored);
    if (stored && (!launch || launch->launchId != launchId)) {
        return;
    }
    c.scrcpyProcesses.remove(endpoint);
    c.scrcpyOutputPipes.remove(endpoint);
    c.scrcpyErrorPipes.remove(endpoint);
}

void settleRelayFlagsFromProcesses(ZovAdizuZadiRizov& c) {
    const bool tracked = !c.scrcpyProcesses.isEmpty();
    c.scrcpyActive.set(tracked);
    c.isRunning.set(tracked);
}

void setSilenceCause(ZovAdizuZadiRizov& c, const QString& endpoint, SilenceCause cause) {
    const auto known = c.silenceCauses().constFind(endpoint);
    if (known == c.silenceCauses().cend() || *known != cause) {
        c.silenceCauses.mutate(
            [&](QMap<QString, SilenceCause>& map) { map.insert(endpoint, cause); });
    }
}

void clearSilenceCause(ZovAdizuZadiRizov& c, const QString& endpoint) {
    if (c.silenceCauses().contains(endpoint)) {
        c.silenceCauses.mutate([&](QMap<QString, SilenceCause>& map) { map.remove(endpoint); });
    }
}

QStringList missingEndpoints(const ZovAdizuZadiRizov& c) {
    QStringList missing;
    for (const QString& endpoint : c.enabledEndpoints()) {
        const auto cause = c.silenceCauses().constFind(endpoint);
        const bool heldBack = cause != c.silenceCauses().cend() && causeOutlastsRetries(*cause);
        if (!hasRunningScrcpy(c, endpoint) && !heldBack &&
            !c.returnStartsUnderWay.contains(endpoint)) {
            missing << endpoint;
        }
    }
    return missing;
}

void renameRelay(ZovAdizuZadiRizov& c, const QString& from, const QString& to) {
    if (c.enabledEndpoints().contains(from) && !c.enabledEndpoints().contains(to)) {
        c.enabledEndpoints.mutate([&](QSet<QString>& set) {
            set.remove(from);
            set.insert(to);
        });
    }
    if (c.relayChoiceByEndpoint.contains(from)) {
        const bool on = c.relayChoiceByEndpoint.take(from);
        if (!c.relayChoiceByEndpoint.contains(to)) {
            c.relayChoiceByEndpoint.insert(to, on);
        }
    }
    const auto carry = [&](auto& published) {
        if (published().contains(from) && !published().contains(to)) {
            published.mutate([&](auto& map) { map.insert(to, map.value(from)); });
        }
    };
    carry(c.videoEnabledByEndpoint);
    carry(c.audioBufferMsByEndpoint);
    c.savePerEndpointSettings();
    if (!c.scrcpyProcesses.contains(to) && c.scrcpyProcesses.contains(from)) {
        ScrcpyProcess* process = storedScrcpy(c, from);
        if (process) {
            process->endpoint = to;
        }
        c.scrcpyProcesses.insert(to, c.scrcpyProcesses.take(from));
        c.scrcpyOutputPipes.insert(to, c.scrcpyOutputPipes.take(from));
        c.scrcpyErrorPipes.insert(to, c.scrcpyErrorPipes.take(from));
    }
    if (const auto cause = c.silenceCauses().constFind(from); cause != c.silenceCauses().cend()) {
        const SilenceCause moved = *cause;
        clearSilenceCause(c, from);
        if (!c.silenceCauses().contains(to)) {
            setSilenceCause(c, to, moved);
        }
    }
}

}  // namespace sonavel
