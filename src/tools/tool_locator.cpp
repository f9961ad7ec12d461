#include "app/controller_ref.h"
#include "tools/tool_files.h"

namespace sonavel {

namespace {

enum class Check { Executable, Exists };

struct ToolLines {
    const char* fileName;
    Check check;
    const char* found;
    const char* missing;  // for adb the tested path follows
    bool missingNamesPath;
};

std::optional<QString> locate(const ControllerRef& ref, const ToolLines& tool) {
    const auto& dir = ref.config().resourcesDir;
    if (!dir) {
        ref.appendLog(QStringLiteral("Resource URL not found"));
        return std::nullopt;
    }
    const QString path = toolPath(*dir, QString::fromLatin1(tool.fileName));
    // Looked up afresh every time: a tool added or removed while the application runs is
    // noticed at the next command.
    if (toolFileUsable(path, tool.check == Check::Executable)) {
        ref.appendLog(QString::fromLatin1(tool.found));
        return path;
    }
    ref.appendLog(tool.missingNamesPath ? QString::fromLatin1(tool.missing) + path
                                        : QString::fromLatin1(tool.missing));
    return std::nullopt;
}

}  // namespace

std::optional<QString> ControllerRef::locateADB() const {
    return locate(*this, {"adb", Check::Executable, "Using adb executable at Resources/adb",
                          "adb executable not found or not executable at: ", true});
}

std::optional<QString> ControllerRef::locateScrcpy() const {
    return locate(*this,
                  {"scrcpy", Check::Executable, "Using scrcpy executable at Resources/scrcpy",
                   "scrcpy executable not found at Resources/scrcpy", false});
}

std::optional<QString> ControllerRef::locateScrcpyServer() const {
    return locate(*this,
                  {"scrcpy-server", Check::Exists, "Found scrcpy-server at Resources/scrcpy-server",
                   "scrcpy-server not found at Resources/scrcpy-server", false});
}

}  // namespace sonavel
