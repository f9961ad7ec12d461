#pragma once

// Fake tools for benchmarks that drive many wireless phones at once: one adb that lists them all,
// connects to any of them and answers their battery queries, and a scrcpy that relays until it is
// signalled. No phone exists; the endpoints are only names handed to the fake tools.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "support/test_support.h"

namespace sonavel::bench {

// Android 13, charging from a computer's USB port.
inline const QString kDumpUSBCharging = QStringLiteral(
    "Current Battery Service state:\n"
    "  AC powered: false\n"
    "  USB powered: true\n"
    "  Wireless powered: false\n"
    "  status: 2\n"
    "  health: 2\n"
    "  present: true\n"
    "  level: 57\n"
    "  scale: 100\n");

// Loopback names outside adb's emulator range; nothing ever opens them.
inline QStringList phoneEndpoints(int count) {
    QStringList endpoints;
    for (int i = 0; i < count; ++i) {
        endpoints << QStringLiteral("127.0.0.1:%1").arg(16001 + i);
    }
    return endpoints;
}

// The fake adb's script: "devices -l" lists every phone as a ready wireless device, "connect"
// succeeds, "dumpsys battery" answers with a captured dump, and the watcher stays quiet.
inline QString phonesAdbScript(const QStringList& endpoints) {
    QString listing = QStringLiteral("List of devices attached\\n");
    for (int i = 0; i < endpoints.size(); ++i) {
        listing += QStringLiteral(
                       "%1 device product:bench model:Phone_%2 device:bench "
                       "transport_id:%2\\n")
                       .arg(endpoints[i])
                       .arg(i + 1);
    }
    QString dump = kDumpUSBCharging;
    dump.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return QStringLiteral(
               "when track-devices\nhang\n"
               "when devices -l\noutraw ") +
           listing +
           QStringLiteral(
               "\nwhen connect .*\nout connected to phone\n"
               "when -s .* shell dumpsys battery\noutraw ") +
           dump + QStringLiteral("\nwhen version\nout Android Debug Bridge version 1.0.41\n");
}

inline void installPhoneTools(test::FakeResources& resources, const QStringList& endpoints) {
    resources.installFake(QStringLiteral("adb"), phonesAdbScript(endpoints));
    resources.installFake(QStringLiteral("scrcpy"), QStringLiteral("when .*\nhang\n"));
    resources.writeFile(QStringLiteral("scrcpy-server"), QByteArray("jar"), false);
}

// Runs the main event loop, sleeping in it, until the condition holds. A benchmark whose flow
// never gets there is broken, not slow: it says what it waited for and ends.
inline void spinUntil(const std::function<bool()>& condition, const char* what,
                      int limitMs = 120000) {
    QDeadlineTimer deadline(limitMs);
    QTimer wake;  // so that the deadline is looked at while nothing else happens
    wake.start(100);
    while (!condition()) {
        if (deadline.hasExpired()) {
            std::fprintf(stderr, "gave up waiting for: %s\n", what);
            std::exit(2);
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

}  // namespace sonavel::bench
