#include "tools/tool_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

namespace sonavel {

bool toolFileUsable(const QString& path, bool mustBeExecutable) {
    // Two plain system calls: this runs before every adb command, also every ten seconds at rest,
    // where QFileInfo and QDir cost about as much as starting the command itself.
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0) {
        return false;
    }
    return !mustBeExecutable || (S_ISREG(info.st_mode) && ::access(native.constData(), X_OK) == 0);
}

QString toolPath(const QString& resourcesDir, const QString& fileName) {
    if (resourcesDir.isEmpty() || resourcesDir.endsWith(QLatin1Char('/'))) {
        return resourcesDir + fileName;
    }
    return resourcesDir + QLatin1Char('/') + fileName;
}

QStringList missingToolFiles(const std::optional<QString>& resourcesDir) {
    const std::pair<QString, bool> tools[] = {{QStringLiteral("adb"), true},
                                              {QStringLiteral("scrcpy"), true},
                                              {QStringLiteral("scrcpy-server"), false}};
    QStringList missing;
    for (const auto& [name, executable] : tools) {
        if (!resourcesDir || !toolFileUsable(toolPath(*resourcesDir, name), executable)) {
            missing << name;
        }
    }
    return missing;
}

}  // namespace sonavel
