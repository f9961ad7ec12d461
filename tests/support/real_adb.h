#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "tools/adb_result.h"

namespace sonavel {
class ZovAdizuZadiRizov;
}

// Debian's real adb for the tests that let the real tool judge, always on a server of one test
// program alone.
namespace sonavel::test {

inline const QString kRealAdb = QStringLiteral("/usr/bin/adb");

// The real tool's own time is what it is: limits are generous, and no test asserts on them.
inline constexpr int kRealAdbLimitMs = 60000;

bool realAdbInstalled();

// One run of the real adb: its exit status (-1 when it did not finish) and its two streams.
struct RealAdbRun {
    int status = -1;
    QString out;
    QString err;
};

// Owns the test program's private adb server, on a loopback port that was free when it was made,
// so that a developer's own server (5037) and other test programs, of this checkout or of another
// one running at the same time, are never touched. Construction points this process, and so every
// adb the code under test starts, at the port; the destructor kills the server, also after a
// failed test, so no adb server outlives the program. Make it a member declared before anything
// that runs adb, so that it goes last. Main thread.
class PrivateAdbServer {
public:
    PrivateAdbServer();
    ~PrivateAdbServer();
    PrivateAdbServer(const PrivateAdbServer&) = delete;
    PrivateAdbServer& operator=(const PrivateAdbServer&) = delete;

    // Starts the server. A cold server on a loaded machine can miss its first handshake ("cannot
    // connect to daemon"), and a controller's own discovery may be starting it at the same moment:
    // it tries again within the limit.
    bool start() const;
    void kill() const;
};

// Runs the real adb directly, with this process's environment (so on the private port).
RealAdbRun runRealAdb(const QStringList& arguments);

// The endpoint's line in "adb devices -l", or empty when it is not listed.
QString realAdbListingLine(const QString& endpoint);

// Waits until "adb devices -l" lists the endpoint in that state ("device", "offline"), or, with an
// empty state, no longer lists it.
bool waitForRealAdbListing(const QString& endpoint, const QString& state);

// Runs adb through the controller's own runner on a worker, as the application does, spinning the
// event loop meanwhile (the runner hops to the main thread). A runner that never answers gives
// kNoAnswerStatus, which no process exit can give.
inline constexpr int kNoAnswerStatus = -1000;
AdbResult runThroughController(const ZovAdizuZadiRizov& controller, const QStringList& arguments);

}  // namespace sonavel::test
