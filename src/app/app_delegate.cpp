#include "app/app_delegate.h"

#include <QDebug>

#include "app/scrcpy_cleanup.h"

namespace sonavel {

AppDelegate::AppDelegate(QString pkillPath, std::optional<QString> resourcesDir, QObject* parent)
    : QObject(parent), pkillPath_(std::move(pkillPath)), resourcesDir_(std::move(resourcesDir)) {}

void AppDelegate::applicationWillTerminate() {
    // Without a resources folder there is no bundled scrcpy that could be running.
    if (!resourcesDir_) {
        return;
    }
    if (const std::optional<QString> error =
            endBundledScrcpyProcesses(pkillPath_, *resourcesDir_)) {
        qWarning().noquote() << QStringLiteral("[App] Failed to cleanup scrcpy on terminate: ") +
                                    *error;
    }
}

}  // namespace sonavel
