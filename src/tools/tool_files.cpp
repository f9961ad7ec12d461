#include "tools/tool_files.h"

#include <QDir>
#include <QFileInfo>

namespace sonavel {

bool toolFileUsable(const QString& path, bool mustBeExecutable) {
    const QFileInfo info(path);
    return mustBeExecutable ? info.isFile() && info.isExecutable() : info.exists();
}

QStringList missingToolFiles(const std::optional<QString>& resourcesDir) {
    const std::pair<QString, bool> tools[] = {{QStringLiteral("adb"), true},
                                              {QStringLiteral("scrcpy"), true},
                                              {QStringLiteral("scrcpy-server"), false}};
    QStringList missing;
    for (const auto& [name, executable] : tools) {
        if (!resourcesDir || !toolFileUsable(QDir(*resourcesDir).filePath(name), executable)) {
            missing << name;
        }
    }
    return missing;
}

}  // namespace sonavel
