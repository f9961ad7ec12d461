#include "app/controller_ref.h"
#include "tools/adb_output.h"
#include "tools/child_run.h"

namespace sonavel {

namespace {

// A child ended by a signal (or killed at the time limit) gets this status: any non-zero status
// makes every caller treat the command as failed, and -1 stays reserved for "adb missing or not
// started".
constexpr int kCrashedStatus = 255;

}  // namespace

AdbResult ControllerRef::runADB(const QStringList& arguments) const {
    const std::optional<QString> adbPath = locateADB();
    if (!adbPath) {
        appendLog(QStringLiteral(
            "adb not found in bundled tools. Please ensure adb is placed next to scrcpy under "
            "Resources/adb."));
        return {-1, QString()};
    }

    // Closed at once: an adb shell whose input stays open is ten times slower, and a terminal the
    // application was started from must never reach the phone. Both streams are read while the
    // command runs, so a child that writes megabytes to both never blocks on a full pipe.
    const auto limit = config().adbCallLimit;
    const ChildRun run = runChild(*adbPath, arguments, limit);
    if (!run.started) {
        appendLog(QStringLiteral("Error starting adb: ") + run.startError);
        return {-1, QString()};
    }
    if (run.timedOut) {
        // Killed, it ends as crashed: the caller sees a failed command with what it had written.
        appendLog(QStringLiteral("[ADB] Command did not end within ") +
                  QString::number(limit.count()) + QStringLiteral(" ms; killing it: ") +
                  arguments.join(QLatin1Char(' ')));
    }

    const int status = run.crashed ? kCrashedStatus : run.exitCode;
    const QString output = combineToolOutput(decodeToolStream(run.standardOutput),
                                             decodeToolStream(run.standardError));
    appendLog(QStringLiteral("[ADB] Command: ") + *adbPath + QLatin1Char(' ') +
              arguments.join(QLatin1Char(' ')) + QStringLiteral(" | Exit: ") +
              QString::number(status) + QStringLiteral(" | Output: ") + output);
    return {status, output};
}

}  // namespace sonavel
