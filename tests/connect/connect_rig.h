#pragma once

#include <QStringList>

#include "app/controller.h"
#include "relay/relay_rig.h"
#include "support/test_support.h"

// Helpers shared by the connection-flow tests (header-only: every tst_*.cpp is its own program).
namespace sonavel::test::connect {

inline int countLogged(const ZovAdizuZadiRizov& c, const QString& message) {
    return static_cast<int>(logMessages(c.logs()).count(message));
}

// Whether the log holds the lines in this order (other lines may stand between them).
inline bool loggedInOrder(const ZovAdizuZadiRizov& c, const QStringList& lines) {
    const QStringList log = logMessages(c.logs());
    qsizetype at = -1;
    for (const QString& line : lines) {
        at = log.indexOf(line, at + 1);
        if (at < 0) {
            qWarning("not logged in order: %s", qPrintable(line));
            return false;
        }
    }
    return true;
}

// The adb calls of the flows, without the listings and the watcher that run beside them.
inline QList<QStringList> flowCalls(const FakeResources& resources) {
    QList<QStringList> calls;
    for (const QStringList& args : resources.arguments(QStringLiteral("adb"))) {
        if (args != QStringList{QStringLiteral("devices"), QStringLiteral("-l")} &&
            args != QStringList{QStringLiteral("track-devices")}) {
            calls << args;
        }
    }
    return calls;
}

// Lets steps that might still be queued run; used only before asserting that something did NOT
// happen.
inline void settle() {
    QTest::qWait(100);
}

}  // namespace sonavel::test::connect
