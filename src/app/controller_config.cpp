#include "app/controller_config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "battery/alert_notifier.h"
#include "platform/debugger_probe.h"
#include "ui/texts.h"

namespace sonavel {

std::optional<QString> applicationResourcesDir() {
    const QDir exeDir(QCoreApplication::applicationDirPath());
#if defined(Q_OS_MACOS)
    const QString path = exeDir.absoluteFilePath(QStringLiteral("../Resources"));
#else
    const QString path = exeDir.absoluteFilePath(QStringLiteral("../share/sonavel"));
#endif
    const QFileInfo info(path);
    if (!info.isDir()) {
        return std::nullopt;
    }
    return info.canonicalFilePath();
}

ControllerConfig ControllerConfig::standard() {
    ControllerConfig config;
    config.resourcesDir = applicationResourcesDir();
    config.debuggerProbe = [] { return isDebuggerAttached(); };
    config.preferredLanguages = [] { return systemPreferredLanguages(); };
    config.openSettings = [] { return std::make_unique<QSettings>(); };
    config.makeAlertNotifier = makePlatformAlertNotifier;
    return config;
}

}  // namespace sonavel
