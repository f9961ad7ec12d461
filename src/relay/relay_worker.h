#pragma once

#include <QString>

#include "app/controller_ref.h"
#include "relay/scrcpy_process.h"

// The blocking parts of the relay, for worker threads only. They are free functions over a
// ControllerRef, so a controller destroyed while one of them waits is never touched: every step
// on controller state is a hop to the main thread that finds the controller gone and does nothing.

namespace sonavel {

// Starts scrcpy for the endpoint with its stored video and buffer settings, unless a process for
// it is already starting or running (then only "[Guard] scrcpy already running for ..." is
// logged). The process is created, started and owned on the main thread; this waits until it has
// started or failed to start. Two calls for one endpoint at the same moment start one process:
// the switch, the guard and the registration are checked in one step on the main thread. With a USB
// serial, scrcpy reaches the phone over that cable while its relay goes by `endpoint`.
LaunchOutcome launchScrcpy(const ControllerRef& ref, const QString& endpoint,
                           const QString& scrcpyPath, const QString& usbSerial = QString());

// The per-endpoint start: connects a wireless endpoint, checks the bundled files, launches
// scrcpy and settles flags and status on the main thread. Blocks for adb connect. Returns whether
// the endpoint's process was launched (or was already running).
bool startRelayForEndpoint(const ControllerRef& ref, const QString& endpoint);

// Ends one scrcpy process: SIGTERM, then up to 3 seconds (flow time) of waiting for its end, then
// SIGKILL. The signals are sent from the main thread and only while Qt has not yet reaped the
// child, so a reused process id is never signalled. Returns once the end has been handled (its
// follow-up has run) or, after SIGKILL, after a short bounded wait. Never call it on the main
// thread.
void terminateScrcpyProcess(const ControllerRef& ref, const ScrcpyHandle& handle);

enum class EndCondition {
    Always,            // a restart ends whatever runs
    WhileSwitchedOff,  // a switch-off leaves an endpoint that was switched on again meanwhile
};

// Ends the endpoint's process if one is stored and removes the endpoint's entries that belong to
// it; a process launched for the endpoint meanwhile keeps its entries.
void endScrcpyForEndpoint(const ControllerRef& ref, const QString& endpoint,
                          EndCondition condition = EndCondition::Always);

}  // namespace sonavel
