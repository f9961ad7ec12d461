#pragma once

#include <QFileInfo>
#include <QStringList>

#include "tools/adb_result.h"

namespace sonavel {
class ZovAdizuZadiRizov;
}

// Debian's real adb for the tests that let the real tool judge, always on a server of one test
// program alone.
namespace sonavel::test {

// The real tool's own time is what it is: limits are generous, and no test asserts on them.
inline constexpr int kRealAdbLimitMs = 60000;

inline bool realAdbInstalled() {
    return QFileInfo(QStringLiteral("/usr/bin/adb")).isExecutable();
}

// Runs the real adb directly, on this program's server: its output, standard error after
// standard output, and its exit status (-1 when it did not finish).
AdbResult runRealAdb(const QStringList& arguments);

// The test program's private adb server, on a loopback port that was free when it was made, so
// that a developer's own server (5037) and other test programs are never touched. Construction
// points this process, and so every adb the code under test starts, at the port; the destructor
// kills the server, also after a failed test. Make it a member declared before anything that runs
// adb, so that it goes last.
class PrivateAdbServer {
public:
    PrivateAdbServer();
    ~PrivateAdbServer();
    // A cold server on a loaded machine can miss its first handshake: tried again within bounds.
    bool start() const;
};

// Runs adb through the controller's own runner on a worker, as the application does, spinning
// the event loop meanwhile. A runner that never answers gives kNoAnswerStatus, which no process
// exit can give; the worker then keeps its own copy of the result to write into.
inline constexpr int kNoAnswerStatus = -1000;
AdbResult runThroughController(const ZovAdizuZadiRizov& controller, const QStringList& arguments);

}  // namespace sonavel::test
