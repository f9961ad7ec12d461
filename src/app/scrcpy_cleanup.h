#pragma once

#include <QString>
#include <optional>

namespace sonavel {

// The pkill pattern that matches exactly the processes running the bundled scrcpy: a command line
// that begins with the full path of the resources folder's scrcpy, followed by a space or its end.
// Every regular-expression character of the path is escaped, so a folder named "a.b" or "c++"
// means itself.
QString bundledScrcpyPattern(const QString& resourcesDir);

// Runs pkill with "-f" and that pattern and waits for it. Returns the launch error's description,
// or none when pkill ran (whatever its exit status: "no process matched" is not a failure).
std::optional<QString> endBundledScrcpyProcesses(const QString& pkillPath,
                                                 const QString& resourcesDir);

}  // namespace sonavel
