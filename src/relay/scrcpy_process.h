#pragma once

#include <QProcess>
#include <QString>
#include <functional>
#include <memory>

#include "relay/settled.h"

namespace sonavel {

struct StreamBuffer;

// One launch of scrcpy for one endpoint. Created, started, read and ended on the main thread only.
//
// These objects are owned by a process-wide registry, not by the controller: QProcess's destructor
// kills its child, and relay processes must outlive the controller (they are ended by the
// termination clean-up at quit). An object leaves the registry and is deleted once its process has
// ended or could not start.
class ScrcpyProcess : public QProcess {
    Q_OBJECT
public:
    explicit ScrcpyProcess(const QString& endpoint);

    // The name its relay goes by; it changes when a relay begun under a USB serial is found to
    // belong to a row with an endpoint (renameRelay).
    QString endpoint;
    // Unique for the life of the program: compares launches without comparing addresses, which
    // can be reused once an ended process has been deleted.
    const quint64 launchId;

    // Line buffers of the two output streams; the controller's pipe maps hold the same objects.
    const std::shared_ptr<StreamBuffer> output;
    const std::shared_ptr<StreamBuffer> error;

    // true once the program runs, false when it could not be started.
    const std::shared_ptr<Settled<bool>> started = std::make_shared<Settled<bool>>();
    // Settled after the end has been handled (the controller's follow-up included), or when the
    // program could not be started.
    const std::shared_ptr<Settled<bool>> ended = std::make_shared<Settled<bool>>();

    // Main thread: called once when the start's outcome is known (true: running), if set before.
    std::function<void(bool)> whenStartKnown;

    // Main thread: settles `started` and runs whenStartKnown, the first time only.
    void settleStart(bool running);

    // Set when the application itself asked the process to end (switch-off, restart, stop): its
    // end is then not a lost connection and does not start the reconnect loop.
    bool endRequested = false;
    // Set when a switch-off asked for the end. If the endpoint is switched on again before the
    // process has ended, that switch-on found it still running and started nothing.
    bool endedBySwitchOff = false;

    // Set once a line of this launch has revealed why its relay is silent: its run then does not
    // count as the quiet run that clears the endpoint's cause.
    bool revealedCause = false;
};

enum class LaunchOutcome {
    Started,         // a new process runs
    AlreadyRunning,  // a process for the endpoint was starting or running; nothing launched
    Failed,          // the program could not be started ("[Debug] Failed to run scrcpy ...")
    NotEnabled,      // switched off meanwhile: an endpoint switched off stays off
};

// What a worker keeps of a launch to wait for it or end it.
struct ScrcpyHandle {
    quint64 launchId = 0;
    std::shared_ptr<Settled<bool>> started;
    std::shared_ptr<Settled<bool>> ended;
};

ScrcpyHandle handleOf(const ScrcpyProcess& process);

// The registry of live scrcpy processes. Main thread only.
void registerScrcpyProcess(ScrcpyProcess* process);
// Removes the process from the registry and deletes it on a later turn of the event loop.
void releaseScrcpyProcess(ScrcpyProcess* process);
ScrcpyProcess* findScrcpyProcess(quint64 launchId);
int liveScrcpyProcessCount();

}  // namespace sonavel
