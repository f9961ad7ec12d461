#include <QProcess>

#include "app/controller_ref.h"
#include "tools/adb_output.h"

namespace sonavel {

namespace {

// QProcess does not tell which signal ended a crashed child; any non-zero status makes every
// caller treat the command as failed, and -1 stays reserved for "adb missing or not started".
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

    QProcess process;
    process.setProgram(*adbPath);
    process.setArguments(arguments);
    // Closed at once: an adb shell whose input stays open is ten times slower, and a terminal the
    // application was started from must never reach the phone.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start();
    if (!process.waitForStarted(-1)) {
        appendLog(QStringLiteral("Error starting adb: ") + process.errorString());
        return {-1, QString()};
    }
    // waitForFinished keeps reading both pipes while it waits, so a child that writes megabytes
    // to both streams never blocks on a full pipe.
    const auto limit = config().adbCallLimit;
    if (!process.waitForFinished(static_cast<int>(limit.count())) &&
        process.state() != QProcess::NotRunning) {
        appendLog(QStringLiteral("[ADB] Command did not end within ") +
                  QString::number(limit.count()) + QStringLiteral(" ms; killing it: ") +
                  arguments.join(QLatin1Char(' ')));
        // Killed, it ends as crashed: the caller sees a failed command with what it had written.
        process.kill();
        process.waitForFinished(static_cast<int>(limit.count()));
    }

    const int status =
        process.exitStatus() == QProcess::NormalExit ? process.exitCode() : kCrashedStatus;
    const QString output = combineToolOutput(decodeToolStream(process.readAllStandardOutput()),
                                             decodeToolStream(process.readAllStandardError()));
    appendLog(QStringLiteral("[ADB] Command: ") + *adbPath + QLatin1Char(' ') +
              arguments.join(QLatin1Char(' ')) + QStringLiteral(" | Exit: ") +
              QString::number(status) + QStringLiteral(" | Output: ") + output);
    return {status, output};
}

}  // namespace sonavel
