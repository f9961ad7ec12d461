#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace sonavel {

// The programs adb and scrcpy count only as executable files; scrcpy-server, which scrcpy pushes to
// the phone, only has to exist.
bool toolFileUsable(const QString& path, bool mustBeExecutable);

// A file's path in the resources folder.
QString toolPath(const QString& resourcesDir, const QString& fileName);

// The names of the tool files the resources folder lacks, in the order adb, scrcpy, scrcpy-server;
// all three when there is no folder. Looked up afresh at each call (a few file checks), so a tool
// added while the application runs is seen at once.
QStringList missingToolFiles(const std::optional<QString>& resourcesDir);

}  // namespace sonavel
