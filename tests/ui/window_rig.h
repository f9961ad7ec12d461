#pragma once

#include <QTest>
#include <memory>

#include "app/controller.h"
#include "app/scrcpy_cleanup.h"
#include "relay/relay_rig.h"
#include "relay/scrcpy_process.h"
#include "support/test_support.h"

namespace sonavel::test {

// adb answers for the window's tests: no device, a quiet watcher, and wireless connects that
// succeed, so a row's relay switch starts a (fake) scrcpy.
inline const QString kWindowAdb =
    QStringLiteral(
        "when connect .*\nout connected to 192.168.1.20:5555\n"
        "when -s .* shell dumpsys battery\nout Current Battery Service state:\n") +
    kQuietAdb;

// A controller over fake tools in real time: its repeating timers (10 s and more) do not fire
// during a test, so state the test sets stays as it was set once start-up has settled.
struct WindowRig {
    // Without a controller, the test makes its own from env.config (a window that owns one).
    explicit WindowRig(const QStringList& languages = {QStringLiteral("en-US")},
                       bool makeController = true)
        : env(&resources, 1.0), languages(std::make_shared<QStringList>(languages)) {
        resources.installFake(QStringLiteral("adb"), kWindowAdb);
        resources.installFake(QStringLiteral("scrcpy"), kHangingScrcpy);
        resources.writeFile(QStringLiteral("scrcpy-server"), QByteArray("jar"), false);
        auto shared = this->languages;
        env.config.preferredLanguages = [shared] { return *shared; };
        if (makeController) {
            c = std::make_unique<ZovAdizuZadiRizov>(env.config);
            settle(*c);
        }
    }

    ~WindowRig() {
        // Relay processes outlive their controller by design: end those of this folder.
        endBundledScrcpyProcesses(QStringLiteral("/usr/bin/pkill"),
                                  QFileInfo(resources.dir()).canonicalFilePath());
        waitUntil([] { return liveScrcpyProcessCount() == 0; });
        c.reset();
        waitForQuietAdb();
    }

    // Start-up runs the clean-up and one USB check: wait until both have reported.
    void settle(const ZovAdizuZadiRizov& controller) {
        QVERIFY(
            waitForLog(controller, QStringLiteral("[Startup] Cleaned existing scrcpy processes")));
        QVERIFY(waitUntil([&] {
            for (const QString& message : logMessages(controller.logs())) {
                if (message.startsWith(QStringLiteral("[USBCheck] USB connected: false"))) {
                    return true;
                }
            }
            return false;
        }));
        waitForQuietAdb();
    }

    // Waits until no adb call but the watcher's runs, for several turns in a row.
    void waitForQuietAdb() {
        const QString adb = resources.path(QStringLiteral("adb"));
        for (int quiet = 0; quiet < 5;) {
            QTest::qWait(20);
            quiet = childProcesses(adb).size() <= 1 ? quiet + 1 : 0;
        }
    }

    QStringList log() const { return logMessages(c->logs()); }

    FakeResources resources;
    TestEnvironment env;
    std::shared_ptr<QStringList> languages;
    std::unique_ptr<ZovAdizuZadiRizov> c;
};

inline DiscoveredDevice wirelessEntry(const QString& ip, const QString& name) {
    return wirelessRow(ip, name);
}

}  // namespace sonavel::test
