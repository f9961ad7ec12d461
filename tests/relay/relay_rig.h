#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <memory>

#include "app/controller.h"
#include "app/scrcpy_cleanup.h"
#include "relay/scrcpy_process.h"
#include "support/rows.h"
#include "support/test_support.h"

namespace sonavel::test {

// adb answers that keep the controller's own discovery quiet: an empty device list and a
// track-devices stream that stays open without news.
inline const QString kQuietAdb = QStringLiteral(
    "when track-devices\nhang\n"
    "when devices -l\nout List of devices attached\n"
    "when version\nout Android Debug Bridge version 1.0.41\n");

inline const QString kHangingScrcpy = QStringLiteral("when .*\nhang\n");

// A controller over fake adb and scrcpy in a temporary resources folder. Relay processes outlive
// the controller by design, so the rig ends every fake scrcpy of its folder before it goes.
struct RelayRig {
    // `prepare` may change the environment (its settings file, its limits) before the controller
    // is made from it.
    explicit RelayRig(const QString& scrcpyScript = kHangingScrcpy,
                      const QString& adbScript = QString(), double scale = 0.001,
                      const std::function<void(TestEnvironment&)>& prepare = {})
        : env(&resources, scale) {
        resources.installFake(QStringLiteral("adb"), adbScript + kQuietAdb);
        resources.installFake(QStringLiteral("scrcpy"), scrcpyScript);
        resources.writeFile(QStringLiteral("scrcpy-server"), QByteArray("jar"), false);
        if (prepare) {
            prepare(env);
        }
        c = std::make_unique<ZovAdizuZadiRizov>(env.config);
        // The start-up clean-up ends stray scrcpy processes of this folder: let it pass first.
        QVERIFY(waitForLog(QStringLiteral("[Startup] Cleaned existing scrcpy processes")));
    }

    ~RelayRig() {
        // The controller first, so that its reconnect loop cannot start a relay behind the
        // clean-up; relays outlive it by design, so this folder's ones are ended afterwards.
        c.reset();
        const QString dir = QFileInfo(resources.dir()).canonicalFilePath();
        // Workers that were under way (battery retries, a USB check) may still run adb, which
        // writes into the folder that is about to be removed: let them finish, within bounds.
        QDeadlineTimer deadline(kWaitMs);
        for (int quiet = 0; quiet < 5 && !deadline.hasExpired();) {
            endBundledScrcpyProcesses(QStringLiteral("/usr/bin/pkill"), dir);
            QTest::qWait(20);
            quiet = childProcesses().isEmpty() && liveScrcpyProcessCount() == 0 ? quiet + 1 : 0;
        }
    }

    QStringList log() const { return logMessages(c->logs()); }
    bool logged(const QString& message) const { return log().contains(message); }
    bool waitForLog(const QString& message, int timeoutMs = kWaitMs) const {
        return waitUntil([&] { return logged(message); }, timeoutMs);
    }
    QList<QStringList> scrcpyRuns() const { return resources.arguments(QStringLiteral("scrcpy")); }
    QString status() const { return c->statusText(); }

    qint64 pidOf(const QString& endpoint) const {
        const QProcess* p = c->scrcpyProcesses.value(endpoint).data();
        return p ? p->processId() : 0;
    }
    bool running(const QString& endpoint) const {
        const QProcess* p = c->scrcpyProcesses.value(endpoint).data();
        return p && p->state() == QProcess::Running;
    }

    void endAllScrcpy() {
        if (c) {
            endBundledScrcpyProcesses(QStringLiteral("/usr/bin/pkill"),
                                      *c->ref().config().resourcesDir);
        }
        QVERIFY(waitUntil([] { return liveScrcpyProcessCount() == 0; }));
    }

    FakeResources resources;
    TestEnvironment env;
    std::unique_ptr<ZovAdizuZadiRizov> c;
};

inline QVector<DiscoveredDevice> usbRows(const QStringList& serials,
                                         const QString& state = QStringLiteral("device")) {
    QVector<DiscoveredDevice> rows;
    for (const QString& serial : serials) {
        DiscoveredDevice row;
        row.serial = serial;
        row.name = serial;
        row.state = state;
        row.transport = kTransportUSB;
        rows << row;
    }
    return rows;
}

inline QVector<DiscoveredDevice> wirelessRows(const QStringList& endpoints) {
    QVector<DiscoveredDevice> rows;
    for (const QString& endpoint : endpoints) {
        rows << wirelessRow(endpoint);
    }
    return rows;
}

}  // namespace sonavel::test
