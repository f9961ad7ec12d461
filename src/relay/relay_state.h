#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "relay/scrcpy_process.h"
#include "relay/silence_cause.h"

// Main-thread helpers over the controller's per-endpoint scrcpy maps. Everything here runs on the
// main thread only; workers reach it through ControllerRef::read/sync.

namespace sonavel {

class ZovAdizuZadiRizov;

// The launch stored for the endpoint, if any (a null entry counts as none).
ScrcpyProcess* storedScrcpy(const ZovAdizuZadiRizov& c, const QString& endpoint);

// The endpoint has a stored process that is starting or running.
bool hasRunningScrcpy(const ZovAdizuZadiRizov& c, const QString& endpoint);

std::optional<ScrcpyHandle> scrcpyHandleFor(const ZovAdizuZadiRizov& c, const QString& endpoint);

// Drops the endpoint's entries, but only when they do not belong to a later launch: with
// launchId's process stored, all three entries go; with no process stored, the pipe entries of
// an ended or failed launch go; with any other process stored, nothing changes.
void removeScrcpyEntries(ZovAdizuZadiRizov& c, const QString& endpoint, quint64 launchId);

struct LaunchStep {
    LaunchOutcome outcome = LaunchOutcome::Started;
    std::optional<ScrcpyHandle> handle;  // with Started: the launch, to wait for its start
};

// The main-thread part of launchScrcpy (relay_worker.h): the switch (an endpoint switched off
// meanwhile stays off), the duplicate guard, the registration and the start, in one step. The
// start's outcome arrives later, through the handle; a program that cannot be started is logged and
// taken out again on its own.
LaunchStep beginScrcpyLaunch(ZovAdizuZadiRizov& c, const QString& endpoint,
                             const QString& scrcpyPath, const QString& usbSerial = QString());

// The buffer and video setting of `from` also hold for `to`, unless `to` has its own; saved.
void carryEndpointSettings(ZovAdizuZadiRizov& c, const QString& from, const QString& to);

// The relay known as `from` goes by `to` from now on: its switch, stored choice, settings, silence
// cause and running process, which is not disturbed. Nothing moves onto a name that has its own.
void renameRelay(ZovAdizuZadiRizov& c, const QString& from, const QString& to);

// scrcpyActive, then isRunning: true exactly when a scrcpy process is tracked.
void settleRelayFlagsFromProcesses(ZovAdizuZadiRizov& c);

// The endpoint's silence cause. Each notifies only on a real change: output lines arrive often.
void setSilenceCause(ZovAdizuZadiRizov& c, const QString& endpoint, SilenceCause cause);
void clearSilenceCause(ZovAdizuZadiRizov& c, const QString& endpoint);

// Enabled endpoints without a starting or running process, in the set's iteration order; those
// whose silence cause no retry can change, and those whose return the watcher is starting, are
// left out.
QStringList missingEndpoints(const ZovAdizuZadiRizov& c);

}  // namespace sonavel
