#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <optional>

#include "app/controller.h"
#include "relay/output_lines.h"
#include "relay/relay_state.h"
#include "relay/relay_worker.h"
#include "relay/scrcpy_args.h"
#include "relay/scrcpy_process.h"
#include "relay/silence_cause.h"

namespace sonavel {

namespace {

// How long a launch must run without revealing a silence cause before the endpoint's cause is
// cleared. A phone whose sound cannot be captured makes scrcpy say so and exit within about a
// second (with video off there is nothing else to keep it running).
constexpr double kQuietRunSeconds = 5.0;

enum class Stream { Output, Error };

// Main thread. The lines of a launch being ended on purpose, or of one a later launch has
// replaced, say nothing about the endpoint's relay of now.
void noteSilenceCause(const ControllerRef& ref, ScrcpyProcess* process, SilenceCause cause) {
    process->revealedCause = true;
    ref.sync([process, cause](ZovAdizuZadiRizov& c) {
        if (!process->endRequested && storedScrcpy(c, process->endpoint) == process) {
            setSilenceCause(c, process->endpoint, cause);
        }
    });
}

void takeLines(const ControllerRef& ref, ScrcpyProcess* process, Stream stream,
               const QList<QByteArray>& lines) {
    const QString prefix =
        QStringLiteral("[scrcpy][") + process->endpoint +
        (stream == Stream::Output ? QStringLiteral("] ") : QStringLiteral("][ERR] "));
    for (const QByteArray& line : lines) {
        // A line that is not UTF-8 is left out of the log without a message.
        if (const std::optional<QString> text = decodeOutputLine(line)) {
            ref.appendLog(prefix + *text);
            if (const std::optional<SilenceCause> cause = silenceCauseOfLine(*text)) {
                noteSilenceCause(ref, process, *cause);
            }
        }
    }
}

// Main thread. The pipe is always read, also once the controller is gone, so that a relay that
// outlives it never blocks on a full pipe; what was read is then dropped.
void readStream(const ControllerRef& ref, ScrcpyProcess* process, Stream stream) {
    const QByteArray chunk = stream == Stream::Output ? process->readAllStandardOutput()
                                                      : process->readAllStandardError();
    StreamBuffer& buffer = stream == Stream::Output ? *process->output : *process->error;
    const QList<QByteArray> lines = takeCompleteLines(buffer.pending, chunk);
    if (ref.alive()) {
        takeLines(ref, process, stream, lines);
    }
}

// Main thread. The last line of a stream may lack its line feed; it is logged at the end.
void flushStream(const ControllerRef& ref, ScrcpyProcess* process, Stream stream) {
    readStream(ref, process, stream);
    StreamBuffer& buffer = stream == Stream::Output ? *process->output : *process->error;
    if (!buffer.pending.isEmpty() && ref.alive()) {
        takeLines(ref, process, stream, {buffer.pending});
    }
    buffer.pending.clear();
}

// Main thread: the process ended (it had started). Runs the controller's follow-up at once, so
// that a worker waiting for this end sees the bookkeeping done when it wakes.
void onFinished(const ControllerRef& ref, ScrcpyProcess* process, int exitCode) {
    process->settleStart(true);  // it ran, whether or not "started" was seen first
    flushStream(ref, process, Stream::Output);
    flushStream(ref, process, Stream::Error);
    QObject::disconnect(process, &QProcess::readyReadStandardOutput, nullptr, nullptr);
    QObject::disconnect(process, &QProcess::readyReadStandardError, nullptr, nullptr);
    // For a process ended by a signal Qt reports the signal number, as the termination status
    // of a signalled process reads.
    ref.appendLog(QStringLiteral("[Debug] scrcpy terminated for ") + process->endpoint +
                  QStringLiteral(" status=") + QString::number(exitCode));
    ref.sync(
        [process](ZovAdizuZadiRizov& c) { c.handleScrcpyTermination(process->endpoint, process); });
    process->ended->set(true);
    releaseScrcpyProcess(process);
}

// Main thread: the program could not be started (missing, not executable, ...). Its entries
// other than the pipes are dropped again; no flag or status changes here.
void onFailedToStart(const ControllerRef& ref, ScrcpyProcess* process) {
    ref.appendLog(QStringLiteral("[Debug] Failed to run scrcpy for ") + process->endpoint +
                  QStringLiteral(": ") + process->errorString());
    ref.sync([process](ZovAdizuZadiRizov& c) {
        if (storedScrcpy(c, process->endpoint) == process) {
            c.scrcpyProcesses.remove(process->endpoint);
        }
    });
    process->settleStart(false);
    process->ended->set(true);
    releaseScrcpyProcess(process);
}

// Main thread: the launch has run for the quiet time. What it has written is read first, so that
// a cause line already in the pipe still counts.
void onQuietRun(const ControllerRef& ref, ScrcpyProcess* process) {
    if (process->state() != QProcess::Running) {
        return;  // its end reads the rest
    }
    readStream(ref, process, Stream::Output);
    readStream(ref, process, Stream::Error);
    if (process->revealedCause) {
        return;
    }
    ref.sync([process](ZovAdizuZadiRizov& c) {
        if (storedScrcpy(c, process->endpoint) == process) {
            clearSilenceCause(c, process->endpoint);
        }
    });
}

void connectHandlers(const ControllerRef& ref, ScrcpyProcess* process) {
    QObject::connect(process, &QProcess::readyReadStandardOutput, process,
                     [ref, process] { readStream(ref, process, Stream::Output); });
    QObject::connect(process, &QProcess::readyReadStandardError, process,
                     [ref, process] { readStream(ref, process, Stream::Error); });
    QObject::connect(process, &QProcess::started, process, [ref, process] {
        process->settleStart(true);
        // Owned by the process: a launch deleted before then takes its timer along.
        ref.time().mainAfter(kQuietRunSeconds, process,
                             [ref, process] { onQuietRun(ref, process); });
    });
    QObject::connect(
        process, &QProcess::finished, process,
        [ref, process](int exitCode, QProcess::ExitStatus) { onFinished(ref, process, exitCode); });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [ref, process](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             onFailedToStart(ref, process);
                         }
                     });
}

}  // namespace

LaunchStep beginScrcpyLaunch(ZovAdizuZadiRizov& c, const QString& endpoint,
                             const QString& scrcpyPath, const QString& usbSerial) {
    if (!c.enabledEndpoints().contains(endpoint)) {
        return {LaunchOutcome::NotEnabled, std::nullopt};
    }
    if (const QProcess* stored = c.scrcpyProcesses.value(endpoint).data();
        stored && stored->state() != QProcess::NotRunning) {
        c.appendLog(QStringLiteral("[Guard] scrcpy already running for ") + endpoint +
                    QStringLiteral("; skip duplicate launch"));
        return {LaunchOutcome::AlreadyRunning, std::nullopt};
    }
    // An ended process whose follow-up has not run yet counts as absent: its entries go.
    c.scrcpyProcesses.remove(endpoint);
    c.scrcpyOutputPipes.remove(endpoint);
    c.scrcpyErrorPipes.remove(endpoint);

    auto* process = new ScrcpyProcess(endpoint);
    registerScrcpyProcess(process);
    process->setProgram(scrcpyPath);
    const QStringList arguments =
        scrcpyArguments(usbSerial.isEmpty() ? endpoint : usbSerial,
                        c.videoEnabledForEndpoint(endpoint), c.audioBufferForEndpoint(endpoint));
    c.appendLog(QStringLiteral("[AudioRelay] Launching scrcpy for ") + endpoint +
                QStringLiteral(": scrcpy ") + arguments.join(QLatin1Char(' ')));
    // Passed as an argument vector, never through a shell: an endpoint read from adb's output is
    // one argument whatever it holds. The working directory is not set. Standard input is closed:
    // scrcpy reads none, and a terminal the application was started from must not reach it.
    process->setArguments(arguments);
    // The application's environment, but scrcpy must use the bundled adb and server: an adb
    // found on PATH (or none, as under the macOS Finder's PATH) would restart the adb server the
    // watcher and the wireless connections depend on, and a scrcpy that is not a portable build
    // would push a server of its own, which may not exist or not match.
    const QDir resources = QFileInfo(scrcpyPath).absoluteDir();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ADB"), resources.filePath(QStringLiteral("adb")));
    environment.insert(QStringLiteral("SCRCPY_SERVER_PATH"),
                       resources.filePath(QStringLiteral("scrcpy-server")));
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::SeparateChannels);
    c.scrcpyOutputPipes.insert(endpoint, process->output);
    c.scrcpyErrorPipes.insert(endpoint, process->error);
    // Stored before it has started, so that a second launch for the endpoint sees it; a start
    // failure takes it out again.
    c.scrcpyProcesses.insert(endpoint, process);
    connectHandlers(c.ref(), process);
    const ScrcpyHandle handle = handleOf(*process);
    process->start();
    return {LaunchOutcome::Started, handle};
}

LaunchOutcome launchScrcpy(const ControllerRef& ref, const QString& endpoint,
                           const QString& scrcpyPath, const QString& usbSerial) {
    const std::optional<LaunchStep> step = ref.read([&](ZovAdizuZadiRizov& c) {
        return beginScrcpyLaunch(c, endpoint, scrcpyPath, usbSerial);
    });
    if (!step) {
        return LaunchOutcome::Failed;  // the controller is gone
    }
    if (!step->handle) {
        return step->outcome;
    }
    // Qt reports the start or its failure on the main thread, which never waits for this.
    return step->handle->started->wait() ? LaunchOutcome::Started : LaunchOutcome::Failed;
}

bool ZovAdizuZadiRizov::videoEnabledForEndpoint(const QString& endpoint) const {
    return videoEnabledByEndpoint().value(endpoint, false);
}

int ZovAdizuZadiRizov::audioBufferForEndpoint(const QString& endpoint) const {
    return audioBufferMsByEndpoint().value(endpoint, kDefaultAudioBufferMs);
}

void ZovAdizuZadiRizov::handleScrcpyTermination(const QString& endpoint, QProcess* ended) {
    const QProcess* stored = scrcpyProcesses.value(endpoint).data();
    if (stored && stored != ended) {
        // A later launch owns the endpoint now: this end is old news and must not touch it.
        return;
    }
    scrcpyProcesses.remove(endpoint);
    scrcpyOutputPipes.remove(endpoint);
    scrcpyErrorPipes.remove(endpoint);
    const bool stillEnabled = enabledEndpoints().contains(endpoint);
    settleRelayFlagsFromProcesses(*this);
    const auto* process = qobject_cast<const ScrcpyProcess*>(ended);
    if (process && process->endRequested) {
        // Ended on purpose (switch-off, restart, stop): whoever ended it settles the status. But
        // a switch-on that came while a switch-off's end was under way found this process still
        // running and started nothing, and the switch-off's own settle step leaves an endpoint
        // that is on again alone: start it here.
        if (process->endedBySwitchOff && stillEnabled) {
            runInBackground(QoS::UserInitiated, [endpoint](const ControllerRef& r) {
                startRelayForEndpoint(r, endpoint);
            });
        }
        return;
    }
    if (stillEnabled) {
        relayRequested.set(true);
        updateStatus(text(TextKey::reconnecting));
        startReconnectTimer();
        return;
    }
    if (!scrcpyProcesses.isEmpty()) {
        return;
    }
    if (enabledEndpoints().isEmpty()) {
        relayRequested.set(false);
        updateStatus(text(TextKey::disconnected));
        return;
    }
    relayRequested.set(true);
    updateStatus(text(TextKey::reconnecting));
    startReconnectTimer();
}

}  // namespace sonavel
