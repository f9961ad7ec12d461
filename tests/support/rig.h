#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <memory>

#include "app/controller.h"
#include "app/scrcpy_cleanup.h"
#include "relay/scrcpy_process.h"
#include "support/test_support.h"
#include "ui/texts.h"

// The one rig of the flow tests: a controller over fake adb and scrcpy in a temporary resources
// folder, and the helpers every flow test reaches for.
namespace sonavel::test {

// adb answers that keep the controller's own discovery quiet: an empty device list and a
// track-devices stream that stays open without news.
inline const QString kQuietAdb = QStringLiteral(
    "when track-devices\nhang\n"
    "when devices -l\nout List of devices attached\n"
    "when version\nout Android Debug Bridge version 1.0.41\n");

inline const QString kHangingScrcpy = QStringLiteral("when .*\nhang\n");

struct RigOptions {
    QString scrcpy = kHangingScrcpy;
    // Rules tried before the quiet answers above.
    QString adb;
    // Flow time on a virtual clock that moves only while a test waits (waitUntil, advance), or
    // real time scaled by this factor.
    double scale = kVirtualTime;
    QStringList languages = {QStringLiteral("en-US")};
    // Changes the environment (its settings file, its limits) before the controller is made.
    std::function<void(TestEnvironment&)> prepare;
    // Without a controller, the test makes its own from env.config (a window that owns one).
    bool makeController = true;
};

struct Rig {
    explicit Rig(const RigOptions& options = {})
        : env(&resources, options.scale),
          languages(std::make_shared<QStringList>(options.languages)) {
        resources.installFake(QStringLiteral("adb"), options.adb + kQuietAdb);
        resources.installFake(QStringLiteral("scrcpy"), options.scrcpy);
        resources.writeFile(QStringLiteral("scrcpy-server"), QByteArray("jar"), false);
        auto shared = languages;
        env.config.preferredLanguages = [shared] { return *shared; };
        if (options.prepare) {
            options.prepare(env);
        }
        if (options.makeController) {
            c = std::make_unique<ZovAdizuZadiRizov>(env.config);
            settleStartup(*c);
        }
    }

    ~Rig() {
        // Every flow that changes what the USB check compares with must hand the check a copy.
        if (c && !c->usbCheckInputsCurrent()) {
            QTest::qFail("the USB check's copy of the controller's state is stale", __FILE__,
                         __LINE__);
        }
        // The controller first, so that its reconnect loop cannot start a relay behind the
        // clean-up; relays outlive it by design, so this folder's ones are ended afterwards.
        c.reset();
        env.releaseClock();
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

    // The start-up clean-up ends stray scrcpy processes of this folder: let it pass first.
    static void settleStartup(const ZovAdizuZadiRizov& controller) {
        QVERIFY(sonavel::test::waitForLog(
            controller, QStringLiteral("[Startup] Cleaned existing scrcpy processes")));
    }

    QStringList log() const { return logMessages(c->logs()); }
    int countLogged(const QString& message) const { return static_cast<int>(log().count(message)); }
    // The log is asserted on only to wait for a moment.
    bool waitForLog(const QString& message, int times = 1) const {
        return waitUntil([&] { return countLogged(message) >= times; });
    }

    // The adb calls of the flows, without the listings and the watcher that run beside them.
    QList<QStringList> adbCalls() const {
        QList<QStringList> calls;
        for (const QStringList& args : resources.arguments(QStringLiteral("adb"))) {
            // The listing's own calls: the table, and each endpoint asked for its phone.
            const bool asksSerialNumber =
                args.size() == 5 && args.endsWith(QStringLiteral("ro.serialno"));
            if (args != QStringList{QStringLiteral("devices"), QStringLiteral("-l")} &&
                args != QStringList{QStringLiteral("track-devices")} && !asksSerialNumber) {
                calls << args;
            }
        }
        return calls;
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
        endBundledScrcpyProcesses(QStringLiteral("/usr/bin/pkill"),
                                  QFileInfo(resources.dir()).canonicalFilePath());
        QVERIFY(waitUntil([] { return liveScrcpyProcessCount() == 0; }));
    }

    FakeResources resources;
    TestEnvironment env;
    std::shared_ptr<QStringList> languages;
    std::unique_ptr<ZovAdizuZadiRizov> c;
};

// Lets the work under way finish, without moving flow time; used before asserting that something
// did NOT happen.
inline void settle() {
    QVERIFY(settleWork());
}

inline QString en(TextKey key) {
    return text(key, Language::English);
}

inline void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(4, w->height() / 2));
}

// One length-prefixed device table, as adb's track-devices writes it.
inline QByteArray frame(const QString& table) {
    const QByteArray bytes = table.toUtf8();
    return QByteArray::number(bytes.size(), 16).rightJustified(4, '0') + bytes;
}

// Device rows as the listing builds them, for tests that set the controller's lists directly.
inline DiscoveredDevice usbRow(const QString& serial, const QString& name = QString(),
                               const QString& state = QStringLiteral("device")) {
    DiscoveredDevice row;
    row.serial = serial;
    row.name = name.isEmpty() ? serial : name;
    row.state = state;
    row.transport = kTransportUSB;
    return row;
}

inline DiscoveredDevice wirelessRow(const QString& endpoint, const QString& name = QString()) {
    DiscoveredDevice row = usbRow(endpoint, name);
    row.ip = endpoint;
    row.transport = kTransportTCPIP;
    return row;
}

inline int openFileDescriptors() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::NoDotAndDotDot | QDir::System)
                                .size());
}

inline int liveProcessObjects() {
    return static_cast<int>(QCoreApplication::instance()->findChildren<QProcess*>().size());
}

}  // namespace sonavel::test
