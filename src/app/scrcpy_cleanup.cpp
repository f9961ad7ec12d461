#include "app/scrcpy_cleanup.h"

#include <QDir>
#include <QProcess>

#include "app/controller.h"

namespace sonavel {

QString bundledScrcpyPattern(const QString& resourcesDir) {
    static const QString special = QStringLiteral("\\^$.|?*+()[]{}");
    const QString path = QDir(resourcesDir).filePath(QStringLiteral("scrcpy"));
    QString escaped;
    for (const QChar ch : path) {
        if (special.contains(ch)) {
            escaped += QLatin1Char('\\');
        }
        escaped += ch;
    }
    return QLatin1Char('^') + escaped + QStringLiteral("( |$)");
}

std::optional<QString> endBundledScrcpyProcesses(const QString& pkillPath,
                                                 const QString& resourcesDir) {
    QProcess pkill;
    pkill.setStandardInputFile(QProcess::nullDevice());
    pkill.start(pkillPath, {QStringLiteral("-f"), bundledScrcpyPattern(resourcesDir)});
    if (!pkill.waitForStarted(-1)) {
        return pkill.errorString();
    }
    pkill.waitForFinished(-1);
    return std::nullopt;
}

void ZovAdizuZadiRizov::cleanupScrcpyOnStartup() {
    // Holds the environment (not the controller) until it has reported: the report is dropped
    // only if the controller is gone by then.
    const ControllerRef self = ref();
    dispatchAsync(QoS::Background, [self] {
        const auto& config = self.config();
        std::optional<QString> error;
        // Without a resources folder there is no bundled scrcpy, so nothing can be ours to end.
        if (config.resourcesDir) {
            error = endBundledScrcpyProcesses(config.pkillPath, *config.resourcesDir);
        }
        if (error) {
            self.appendLog(QStringLiteral("[Startup] Failed to cleanup scrcpy: ") + *error);
        } else {
            self.appendLog(QStringLiteral("[Startup] Cleaned existing scrcpy processes"));
        }
        // Only now: the clean-up would end a relay started before it.
        self.post([](ZovAdizuZadiRizov& c) { c.resumeStoredRelays(); });
    });
}

}  // namespace sonavel
