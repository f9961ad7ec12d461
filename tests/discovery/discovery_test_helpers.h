#pragma once

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include "app/controller.h"
#include "support/test_support.h"

// Helpers shared by the discovery tests (header-only: every tst_*.cpp is its own program).
namespace sonavel::test::discovery {

inline int countLogged(const ZovAdizuZadiRizov& c, const QString& message) {
    return static_cast<int>(logMessages(c.logs()).count(message));
}

inline bool waitLogged(const ZovAdizuZadiRizov& c, const QString& message, int times = 1) {
    return waitUntil([&] { return countLogged(c, message) >= times; });
}

inline int indexLogged(const ZovAdizuZadiRizov& c, const QString& message) {
    return static_cast<int>(logMessages(c.logs()).indexOf(message));
}

// A fake-tool "outraw" argument for one length-prefixed device table, as adb writes it.
inline QString frameScript(const QString& table) {
    const QString hex =
        QString::number(table.toUtf8().size(), 16).rightJustified(4, QLatin1Char('0'));
    QString escaped = table;
    escaped.replace(QLatin1Char('\t'), QStringLiteral("\\t"))
        .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return hex + escaped;
}

inline int openFileDescriptors() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::NoDotAndDotDot | QDir::System)
                                .size());
}

inline int liveProcessObjects() {
    return static_cast<int>(QCoreApplication::instance()->findChildren<QProcess*>().size());
}

}  // namespace sonavel::test::discovery
