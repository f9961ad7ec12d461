// The application end to end against Debian's real adb, the simulated phone and a fake scrcpy:
// the real tool decides what connects, what is listed and what a phone answers. The application's
// own pauses are scaled; the real tool's time is what it is, so every wait is generous and no
// check is about how long something took.

#include <signal.h>

#include <QFileInfo>
#include <QTest>
#include <memory>

#include "app/controller.h"
#include "app/scrcpy_cleanup.h"
#include "battery/recording_alert_sound.h"
#include "relay/scrcpy_process.h"
#include "settings/endpoint_maps.h"
#include "support/real_adb.h"
#include "support/sim_phone_control.h"
#include "support/test_support.h"
#include "tools/adb_commands.h"
#include "ui/device_block.h"
#include "ui/main_view.h"
#include "ui/switch_button.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

// A tenth of the tests' usual pace: the reconnect loop and the battery poll then run the real adb
// every 100 and 600 ms instead of piling its calls up on a loaded machine.
constexpr double kTimeScale = 0.01;

const QString kHangingScrcpy = QStringLiteral("when .*\nhang\n");

QString en(TextKey key) {
    return text(key, Language::English);
}

void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(4, w->height() / 2));
}

bool startPhone(SimPhone& phone) {
    QString error;
    if (!phone.start(&error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    return true;
}

// Every value the status text takes, in order: published properties notify just before they
// change, so each notification shows the value about to be replaced, however briefly it stood.
class StatusHistory {
public:
    explicit StatusHistory(ZovAdizuZadiRizov& c) : c_(c) {
        QObject::connect(&c, &Observable::willChange, &context_, [this] { record(); });
        record();
    }
    bool contains(const QString& status) {
        record();
        return values_.contains(status);
    }
    void clear() {
        values_.clear();
        record();
    }
    QString text() const { return values_.join(QStringLiteral(" | ")); }

private:
    void record() {
        const QString now = c_.statusText();
        if (values_.isEmpty() || values_.last() != now) {
            values_ << now;
        }
    }
    ZovAdizuZadiRizov& c_;
    QObject context_;
    QStringList values_;
};

// A controller over the real adb and a fake scrcpy. Relays outlive their controller by design, so
// the fake scrcpy processes of this folder are ended once it is gone.
struct Application {
    explicit Application(const std::function<void(TestEnvironment&)>& prepare = {})
        : env(&resources, kTimeScale) {
        resources.installRealAdb();
        resources.installFake(QStringLiteral("scrcpy"), kHangingScrcpy);
        resources.writeFile(QStringLiteral("scrcpy-server"), QByteArray("jar"), false);
        env.config.makeAlertSound = recordingSoundFactory(sounds);
        if (prepare) {
            prepare(env);
        }
        c = std::make_unique<ZovAdizuZadiRizov>(env.config);
    }
    ~Application() {
        c.reset();
        endBundledScrcpyProcesses(QStringLiteral("/usr/bin/pkill"),
                                  QFileInfo(resources.dir()).canonicalFilePath());
        waitUntil([] { return liveScrcpyProcessCount() == 0; });
    }

    QList<QStringList> scrcpyRuns() const { return resources.arguments(QStringLiteral("scrcpy")); }
    bool logged(const QString& prefix) const {
        for (const QString& message : logMessages(c->logs())) {
            if (message.startsWith(prefix)) {
                return true;
            }
        }
        return false;
    }

    FakeResources resources;
    TestEnvironment env;
    std::shared_ptr<AlertSoundJournal> sounds = std::make_shared<AlertSoundJournal>();
    std::unique_ptr<ZovAdizuZadiRizov> c;
};

// The row of the window whose relay control acts on the endpoint, if any.
DeviceBlock* rowFor(const RirAvoruVara& view, const QString& endpoint) {
    for (DeviceBlock* row : view.rows()) {
        if (row->relayControl() && row->relayControl()->endpoint() == endpoint) {
            return row;
        }
    }
    return nullptr;
}

}  // namespace

// One returning user's story runs through the first three cases, in order: the relay they switch
// on is the one that is lost, recovered, and whose battery alerts.
class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void watcherFollowsThePhone();
    void returningUserRelaysThroughTheRealAdb();
    void lostPhoneIsReconnectedWhenItReturns();
    void lowBatteryAlertsUntilCharging();

private:
    struct Story {
        SimPhone phone;
        std::unique_ptr<Application> app;
        std::unique_ptr<RirAvoruVara> view;
        std::unique_ptr<StatusHistory> statuses;
        ~Story() {
            statuses.reset();
            view.reset();
            app.reset();
        }
    };

    // Declared first, so that it goes last: it kills the server also when a case failed.
    PrivateAdbServer server_;
    std::unique_ptr<Story> story_;
};

void EndToEndTest::initTestCase() {
    if (!realAdbInstalled()) {
        QSKIP("Debian's adb (/usr/bin/adb) is not installed");
    }
    if (simPhoneBinary().isEmpty()) {
        QSKIP("the sim_phone program is unknown: set SONAVEL_SIM_PHONE to its path");
    }
    // Started before any controller, so that its start-up notes stand in no command's answer.
    QVERIFY(server_.start());
}

void EndToEndTest::cleanupTestCase() {
    story_.reset();
    runRealAdb({QStringLiteral("disconnect")});
}

void EndToEndTest::watcherFollowsThePhone() {
    SimPhone phone;
    QVERIFY(startPhone(phone));
    const QString endpoint = phone.endpoint();
    // Still connected from an earlier session when the application starts.
    QCOMPARE(runRealAdb(adb::connect(endpoint)).out.trimmed(),
             QStringLiteral("connected to ") + endpoint);
    Application app;
    ZovAdizuZadiRizov& c = *app.c;
    const auto listed = [&] {
        for (const DiscoveredDevice& row : c.connectedTCPIPDevices()) {
            if (row.ip == endpoint && row.name == QStringLiteral("Sim_Phone")) {
                return true;
            }
        }
        return false;
    };

    for (int round = 1; round <= 2; ++round) {
        if (round == 2) {
            // Connected by someone else (the user's own "adb connect"): only the stream tells.
            // The list keeps the rows of phones that have gone, so this round starts without it.
            c.connectedTCPIPDevices.set({});
            QCOMPARE(runRealAdb(adb::connect(endpoint)).out.trimmed(),
                     QStringLiteral("connected to ") + endpoint);
        }
        QVERIFY(waitUntil([&] { return c.wirelessConnected(); }, kRealAdbLimitMs));
        QVERIFY(!c.isUSBDeviceConnected());
        // Listed under the name adb gives it, so that its row offers the phone by name.
        QVERIFY(waitUntil(listed, kRealAdbLimitMs));

        // Gone without a goodbye. adb 29's stream says nothing of a connected phone going offline
        // until the server drops it; "disconnect" drops it at once.
        phone.stop();
        runRealAdb({QStringLiteral("disconnect"), endpoint});
        QVERIFY(waitUntil([&] { return !c.wirelessConnected(); }, kRealAdbLimitMs));
        if (round == 1) {
            QVERIFY(startPhone(phone));
        }
    }
}

void EndToEndTest::returningUserRelaysThroughTheRealAdb() {
    story_ = std::make_unique<Story>();
    SimPhone& phone = story_->phone;
    QVERIFY(phone.setBattery(67, QStringLiteral("none")));
    QVERIFY(startPhone(phone));
    const QString endpoint = phone.endpoint();

    // What an earlier session stored: the phone's endpoint and a buffer chosen for it.
    story_->app = std::make_unique<Application>([&](TestEnvironment& env) {
        const auto settings = env.settings();
        settings->setValue(QStringLiteral("endpoint"), endpoint);
        settings->setValue(QStringLiteral("audioBufferMsByEndpoint"),
                           encodeIntMap({{endpoint, 180}}));
    });
    Application& app = *story_->app;
    ZovAdizuZadiRizov& c = *app.c;
    story_->statuses = std::make_unique<StatusHistory>(c);
    story_->view = std::make_unique<RirAvoruVara>(&c);
    RirAvoruVara& view = *story_->view;
    view.resize(460, 640);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    // No wireless entry is listed yet: the summary row stands for the stored endpoint and offers
    // its relay switch.
    QVERIFY(waitUntil([&] { return view.rows().size() == 1 && rowFor(view, endpoint); }));
    // The row is made anew once the phone is listed, so it is looked up at every use.
    const auto rowText = [&](QLabel* (DeviceBlock::*label)() const) {
        const DeviceBlock* row = rowFor(view, endpoint);
        return row ? (row->*label)()->text() : QString();
    };
    const auto relayOn = [&] {
        const DeviceBlock* row = rowFor(view, endpoint);
        return row && row->relayControl()->relaySwitch()->isChecked();
    };
    QVERIFY(!relayOn());
    QVERIFY(app.scrcpyRuns().isEmpty());

    click(rowFor(view, endpoint)->relayControl()->relaySwitch());
    QVERIFY(waitUntil([&] { return app.scrcpyRuns().size() == 1; }, kRealAdbLimitMs));
    QCOMPARE(app.scrcpyRuns().first(),
             (QStringList{"-s", endpoint, "--no-window", "--no-video", "--no-control",
                          "--audio-source=output", "--audio-buffer=180"}));
    QVERIFY(waitUntil([&] { return c.statusText() == en(TextKey::audioRelayActive); }));
    QVERIFY(waitUntil([&] {
        return app.logged(QStringLiteral("[PerDevice] adb connect ") + endpoint +
                          QStringLiteral(": connected to ") + endpoint);
    }));
    QVERIFY(realAdbListingLine(endpoint).contains(QStringLiteral(" device ")));
    QTRY_COMPARE_WITH_TIMEOUT(rowText(&DeviceBlock::audioLine), en(TextKey::audioRelayActive),
                              kWaitMs);
    QVERIFY(relayOn());

    // The relay's battery poll reads the level only the phone knows.
    QVERIFY(waitUntil([&] { return c.batteryLevels().value(endpoint) == 67; }, kRealAdbLimitMs));
    QCOMPARE(c.batteryCharging().value(endpoint, true), false);

    // Connected by the relay, the phone is listed under the model adb gives it. A tap on its row
    // asks the phone itself for its level, and from then on the poll keeps the row's level
    // current.
    QTRY_COMPARE_WITH_TIMEOUT(rowText(&DeviceBlock::nameLabel), QStringLiteral("Sim_Phone"),
                              kRealAdbLimitMs);
    click(rowFor(view, endpoint)->nameLabel());
    QTRY_COMPARE_WITH_TIMEOUT(rowText(&DeviceBlock::batteryText), QStringLiteral("67%"),
                              kRealAdbLimitMs);
    QVERIFY(phone.setBattery(55, QStringLiteral("none")));
    QTRY_COMPARE_WITH_TIMEOUT(rowText(&DeviceBlock::batteryText), QStringLiteral("55%"),
                              kRealAdbLimitMs);
    QCOMPARE(c.batteryLevels().value(endpoint), 55);
}

void EndToEndTest::lostPhoneIsReconnectedWhenItReturns() {
    QVERIFY2(story_ && story_->app && story_->app->c->scrcpyActive(),
             "needs the relay of the returning user's case");
    SimPhone& phone = story_->phone;
    Application& app = *story_->app;
    ZovAdizuZadiRizov& c = *app.c;
    const QString endpoint = phone.endpoint();
    const QStringList firstRun = app.scrcpyRuns().first();
    const QProcess* relay = c.scrcpyProcesses.value(endpoint).data();
    const qint64 relayPid = relay ? relay->processId() : 0;
    QVERIFY(relayPid > 0);
    story_->statuses->clear();

    // The phone leaves; the server lets go of it (adb 29 would keep it "offline" for a minute);
    // scrcpy loses its phone and ends.
    phone.stop();
    runRealAdb({QStringLiteral("disconnect"), endpoint});
    QCOMPARE(::kill(static_cast<pid_t>(relayPid), SIGTERM), 0);
    QVERIFY(waitUntil([&] { return story_->statuses->contains(en(TextKey::reconnecting)); }));

    // The real adb answers "failed to connect" with exit status 0: each attempt is a failure,
    // and no scrcpy is started for a phone that is not there.
    const QString failedConnect = QStringLiteral("[PerDevice] adb connect ") + endpoint +
                                  QStringLiteral(": failed to connect");
    QVERIFY(waitUntil([&] { return app.logged(failedConnect); }, kRealAdbLimitMs));
    QVERIFY2(waitUntil([&] {
                 return story_->statuses->contains(en(TextKey::couldNotConnectReconnecting));
             }),
             qPrintable(story_->statuses->text()));
    QCOMPARE(app.scrcpyRuns().size(), 1);
    QVERIFY(!c.scrcpyActive());
    QVERIFY(c.enabledEndpoints().contains(endpoint));

    // It returns: the next tick connects it through the real adb and relays it as before.
    QVERIFY(startPhone(phone));
    QVERIFY(waitUntil([&] { return app.scrcpyRuns().size() == 2; }, kRealAdbLimitMs));
    QCOMPARE(app.scrcpyRuns().last(), firstRun);
    QVERIFY(waitUntil(
        [&] { return c.scrcpyActive() && c.statusText() == en(TextKey::audioRelayActive); }));
    QVERIFY(waitUntil([&] { return !c.reconnectTimer; }));
    QVERIFY(realAdbListingLine(endpoint).contains(QStringLiteral(" device ")));
}

void EndToEndTest::lowBatteryAlertsUntilCharging() {
    QVERIFY2(story_ && story_->app && story_->app->c->scrcpyActive(),
             "needs the relay of the returning user's case");
    SimPhone& phone = story_->phone;
    Application& app = *story_->app;
    ZovAdizuZadiRizov& c = *app.c;
    RirAvoruVara& view = *story_->view;
    const QString endpoint = phone.endpoint();
    QVERIFY(!c.isAlertPlaying());
    QVERIFY(app.sounds->events.isEmpty());

    QVERIFY(phone.setBattery(2, QStringLiteral("none")));
    QVERIFY(waitUntil([&] { return c.isAlertPlaying(); }, kRealAdbLimitMs));
    QCOMPARE(app.sounds->events, QStringList{QStringLiteral("play")});
    // Log entries are recorded on a later turn of the event loop.
    QVERIFY(waitForLog(c, QStringLiteral("[BatteryAlert] Low battery alert: 2%")));
    QTRY_VERIFY_WITH_TIMEOUT(view.alertRow()->isVisibleTo(&view), kWaitMs);
    // Later polls of the same low level keep the one alert going rather than starting it again.
    const int readingsSoFar = static_cast<int>(
        logMessages(c.logs()).count(QStringLiteral("[BatteryAlert] Low battery alert: 2%")));
    QVERIFY(waitUntil(
        [&] {
            return logMessages(c.logs()).count(
                       QStringLiteral("[BatteryAlert] Low battery alert: 2%")) > readingsSoFar;
        },
        kRealAdbLimitMs));
    QCOMPARE(app.sounds->events, QStringList{QStringLiteral("play")});

    // On the charger at 50 % nothing is worth an alert: it stops by itself.
    QVERIFY(phone.setBattery(50, QStringLiteral("ac")));
    QVERIFY(waitUntil([&] { return !c.isAlertPlaying(); }, kRealAdbLimitMs));
    QCOMPARE(app.sounds->events, (QStringList{QStringLiteral("play"), QStringLiteral("stop")}));
    QCOMPARE(c.batteryLevels().value(endpoint), 50);
    QCOMPARE(c.batteryCharging().value(endpoint), true);
    QVERIFY(
        waitForLog(c, QStringLiteral("[BatteryAlert] Stopped alert sound (userInitiated=false)")));
    QTRY_VERIFY_WITH_TIMEOUT(!view.alertRow()->isVisibleTo(&view), kWaitMs);
}

QTEST_MAIN(EndToEndTest)
#include "tst_end_to_end.moc"
