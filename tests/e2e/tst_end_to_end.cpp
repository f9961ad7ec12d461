// The application end to end against Debian's real adb, the simulated phone and a fake scrcpy:
// the real tool decides what connects, what is listed and what a phone answers. Its time is what
// it is, so every wait is generous and no check is about how long something took.

#include <signal.h>

#include <QTest>

#include "battery/alert_sound.h"
#include "connect/ip_probe.h"
#include "settings/endpoint_maps.h"
#include "support/real_adb.h"
#include "support/rig.h"
#include "support/sim_phone_control.h"
#include "tools/adb_commands.h"
#include "ui/device_block.h"
#include "ui/main_view.h"
#include "ui/switch_button.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

struct RecordedSound : AlertSound {
    explicit RecordedSound(QStringList* events) : events(events) {}
    void play() override { *events << "play"; }
    void stop() override { *events << "stop"; }
    QStringList* events;
};

// A controller over the real adb. Its flow time moves on only while a test waits and no adb call
// is under way, so the reconnect loop and the battery poll never pile calls up on a busy machine.
std::unique_ptr<Rig> realAdbRig(const std::function<void(TestEnvironment&)>& prepare = {}) {
    auto rig = std::make_unique<Rig>(RigOptions{.prepare = prepare, .makeController = false});
    rig->resources.installRealAdb();
    rig->c = std::make_unique<ZovAdizuZadiRizov>(rig->env.config);
    Rig::settleStartup(*rig->c);
    return rig;
}

// The row of the window whose relay control acts on the endpoint, if any: rows are made anew
// when the list changes, so it is looked up at every use.
DeviceBlock* rowFor(const RirAvoruVara& view, const QString& endpoint) {
    const auto rows = view.rows();
    const auto it = std::find_if(rows.begin(), rows.end(), [&](DeviceBlock* row) {
        return row->relayControl() && row->relayControl()->endpoint() == endpoint;
    });
    return it == rows.end() ? nullptr : *it;
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void watcherFollowsThePhone();
    void returningUserRelaysThroughLossAndLowBattery();
    void switchLeftOnRelaysAtTheNextLaunch();
    void phoneBackAtAnotherEndpointKeepsItsSwitch();

private:
    // Declared first, so that it goes last: it kills the server also when a case failed.
    PrivateAdbServer server_;
};

void EndToEndTest::initTestCase() {
    if (!realAdbInstalled()) {
        QSKIP("Debian's adb (/usr/bin/adb) is not installed");
    }
    // Started before any controller, so that its start-up notes stand in no command's answer.
    QVERIFY(server_.start());
}

void EndToEndTest::watcherFollowsThePhone() {
    SimPhone phone;
    QVERIFY(phone.start());
    const QString endpoint = phone.endpoint();
    const auto connectPhone = [&] {
        return runRealAdb(adb::connect(endpoint)).output.trimmed() == "connected to " + endpoint;
    };
    // Still connected from an earlier session when the application starts.
    QVERIFY(connectPhone());
    const auto rig = realAdbRig();
    ZovAdizuZadiRizov& c = *rig->c;
    // Listed under the name adb gives it, so that its row offers the phone by name.
    const auto listed = [&] {
        return std::any_of(
            c.connectedTCPIPDevices().begin(), c.connectedTCPIPDevices().end(),
            [&](const auto& row) { return row.ip == endpoint && row.name == "Sim_Phone"; });
    };
    for (int round = 1; round <= 2; ++round) {
        QVERIFY(waitUntil([&] { return c.wirelessConnected() && listed(); }, kRealAdbLimitMs));
        QVERIFY(!c.isUSBDeviceConnected());
        // Gone without a goodbye. adb 29's stream says nothing of a phone going offline until
        // the server drops it; "disconnect" drops it at once.
        phone.stop();
        runRealAdb({"disconnect", endpoint});
        QVERIFY(waitUntil([&] { return !c.wirelessConnected(); }, kRealAdbLimitMs));
        // Connected by someone else (the user's own "adb connect"): only the stream tells. The
        // list keeps the rows of phones that have gone, so it starts again without them.
        c.connectedTCPIPDevices.set({});
        QVERIFY(phone.start() && connectPhone());
    }
    // Commands of a phone's set-up as the code builds them, through the real adb.
    QVERIFY(waitUntil([&] { return c.wirelessConnected() && listed(); }, kRealAdbLimitMs));
    for (const auto& [args, answer] :
         {std::pair{adb::getprop(endpoint, "ro.product.model"), "Sim Phone\n"},
          {adb::shell(endpoint, ipProbeCommands().first()), "192.168.1.23\n"},
          {adb::tcpip(endpoint), "restarting in TCP mode port: 5555\n"}}) {
        QCOMPARE(runThroughController(c, args).output, answer);
    }
    phone.stop();  // before the rig, which waits for this program's children to end
}

void EndToEndTest::returningUserRelaysThroughLossAndLowBattery() {
    SimPhone phone;
    QVERIFY(phone.setBattery(67, "none"));
    QVERIFY(phone.start());
    const QString endpoint = phone.endpoint();
    QStringList sounds;
    // What an earlier session stored: the phone's endpoint and a buffer chosen for it.
    const auto rig = realAdbRig([&](TestEnvironment& env) {
        env.config.makeAlertSound = [&sounds] { return std::make_unique<RecordedSound>(&sounds); };
        env.settings()->setValue("endpoint", endpoint);
        env.settings()->setValue("audioBufferMsByEndpoint", encodeIntMap({{endpoint, 180}}));
    });
    ZovAdizuZadiRizov& c = *rig->c;
    RirAvoruVara view(&c);
    view.show();
    // Every status shown, however briefly: published properties notify just before they change.
    QStringList statuses;
    QObject::connect(&c, &Observable::willChange, &view, [&] {
        if (statuses.value(statuses.size() - 1) != c.statusText()) {
            statuses << c.statusText();
        }
    });
    const auto shown = [&](QLabel* (DeviceBlock::*label)() const) {
        const DeviceBlock* row = rowFor(view, endpoint);
        return row ? (row->*label)()->text() : QString();
    };
    const auto relaySwitch = [&] { return rowFor(view, endpoint)->relayControl()->relaySwitch(); };

    // No wireless entry is listed yet: the summary row stands for the stored endpoint.
    QVERIFY(waitUntil([&] { return view.rows().size() == 1 && rowFor(view, endpoint); }));
    QVERIFY(!relaySwitch()->isChecked());
    click(relaySwitch());
    const QStringList relayArgs = ("-s " + endpoint +
                                   " --no-window --no-video --no-control --audio-source=output "
                                   "--audio-buffer=180")
                                      .split(' ');
    QVERIFY(waitUntil([&] { return rig->scrcpyRuns().size() == 1; }, kRealAdbLimitMs));
    QCOMPARE(rig->scrcpyRuns().first(), relayArgs);
    QVERIFY(waitUntil([&] { return c.statusText() == en(TextKey::audioRelayActive); }));
    QVERIFY(
        waitUntil([&] { return shown(&DeviceBlock::audioLine) == en(TextKey::audioRelayActive); }));
    QVERIFY(relaySwitch()->isChecked());

    // The relay's battery poll reads the level only the phone knows. Listed under the model adb
    // gives it, a tap on its row asks the phone itself, and the poll keeps the row current.
    QVERIFY(waitUntil([&] { return c.batteryLevels().value(endpoint) == 67; }, kRealAdbLimitMs));
    QCOMPARE(c.batteryCharging().value(endpoint, true), false);
    QVERIFY(
        waitUntil([&] { return shown(&DeviceBlock::nameLabel) == "Sim_Phone"; }, kRealAdbLimitMs));
    click(rowFor(view, endpoint)->nameLabel());
    QVERIFY(waitUntil([&] { return shown(&DeviceBlock::batteryText) == "67%"; }, kRealAdbLimitMs));
    QVERIFY(phone.setBattery(55, "none"));
    QVERIFY(waitUntil([&] { return shown(&DeviceBlock::batteryText) == "55%"; }, kRealAdbLimitMs));

    // Lost: the phone leaves, the server lets go of it (adb 29 would keep it "offline" for a
    // minute), and scrcpy loses its phone and ends.
    statuses.clear();
    phone.stop();
    runRealAdb({"disconnect", endpoint});
    QVERIFY(rig->pidOf(endpoint) > 0 && ::kill(pid_t(rig->pidOf(endpoint)), SIGTERM) == 0);
    // The real adb answers "failed to connect" with exit status 0: each attempt is a failure,
    // and no scrcpy is started for a phone that is not there.
    const auto seen = [&](TextKey key) {
        return statuses.contains(en(key)) || c.statusText() == en(key);
    };
    QVERIFY2(waitUntil([&] { return seen(TextKey::couldNotConnectReconnecting); }, kRealAdbLimitMs),
             qPrintable(statuses.join(" | ")));
    QVERIFY(seen(TextKey::reconnecting));
    QCOMPARE(rig->scrcpyRuns().size(), 1);
    QVERIFY(!c.scrcpyActive());
    QVERIFY(c.enabledEndpoints().contains(endpoint));
    // It returns: the next tick connects it through the real adb and relays it as before.
    QVERIFY(phone.start());
    QVERIFY(waitUntil([&] { return rig->scrcpyRuns().size() == 2; }, kRealAdbLimitMs));
    QCOMPARE(rig->scrcpyRuns().last(), relayArgs);
    QVERIFY(waitUntil([&] {
        return c.scrcpyActive() && c.statusText() == en(TextKey::audioRelayActive) &&
               !c.reconnectTimer;
    }));

    // Low: the alert starts once and keeps going through later low readings; on the charger at
    // 50 % nothing is worth an alert, and it stops by itself.
    QVERIFY(sounds.isEmpty());
    QVERIFY(phone.setBattery(2, "none"));
    QVERIFY(waitUntil([&] { return c.isAlertPlaying(); }, kRealAdbLimitMs));
    QVERIFY(waitUntil([&] { return view.alertRow()->isVisibleTo(&view); }));
    QVERIFY(phone.setBattery(1, "none"));
    QVERIFY(waitUntil([&] { return c.batteryLevels().value(endpoint) == 1; }, kRealAdbLimitMs));
    QCOMPARE(sounds, QStringList{"play"});
    QVERIFY(phone.setBattery(50, "ac"));
    QVERIFY(waitUntil([&] { return !c.isAlertPlaying(); }, kRealAdbLimitMs));
    QCOMPARE(sounds, (QStringList{"play", "stop"}));
    QCOMPARE(c.batteryCharging().value(endpoint), true);
    QVERIFY(waitUntil([&] { return !view.alertRow()->isVisibleTo(&view); }));
    phone.stop();  // before the rig, which waits for this program's children to end
}

void EndToEndTest::switchLeftOnRelaysAtTheNextLaunch() {
    SimPhone phone;
    QVERIFY(phone.start());
    const QString endpoint = phone.endpoint();
    // An earlier run left the phone's switch on; nobody clicks anything in this one.
    const auto rig = realAdbRig([&](TestEnvironment& env) {
        env.settings()->setValue("relayEnabledByEndpoint", encodeBoolMap({{endpoint, true}}));
    });
    QVERIFY(waitUntil(
        [&] {
            return rig->running(endpoint) && !rig->scrcpyRuns().isEmpty() &&
                   rig->c->statusText() == en(TextKey::audioRelayActive);
        },
        kRealAdbLimitMs));
    // The relay's own start, and no second one from the watcher or the loop.
    QVERIFY(settleWork());
    QCOMPARE(rig->scrcpyRuns().size(), 1);
    phone.stop();  // before the rig, which waits for this program's children to end
}

void EndToEndTest::phoneBackAtAnotherEndpointKeepsItsSwitch() {
    SimPhone phone;
    QVERIFY(phone.start());
    const QString before = phone.endpoint();
    const auto rig = realAdbRig([&](TestEnvironment& env) {
        env.settings()->setValue("relayEnabledByEndpoint", encodeBoolMap({{before, true}}));
        env.settings()->setValue("audioBufferMsByEndpoint", encodeIntMap({{before, 180}}));
    });
    ZovAdizuZadiRizov& c = *rig->c;
    const auto listedAt = [&](const QString& endpoint) {
        const auto rows = c.connectedTCPIPDevices();
        return std::any_of(rows.begin(), rows.end(), [&](const auto& row) {
            return row.ip == endpoint && c.listedSerials().contains(endpoint);
        });
    };
    QVERIFY(waitUntil([&] { return rig->running(before) && listedAt(before); }, kRealAdbLimitMs));

    // It leaves, and comes back at another endpoint, which adb connects (as its wireless
    // debugging discovery, or the user, would): the same phone, so its switch and buffer follow.
    phone.stop();
    runRealAdb({"disconnect", before});
    QVERIFY(::kill(pid_t(rig->pidOf(before)), SIGTERM) == 0);
    QVERIFY(waitUntil([&] { return !rig->running(before) && !listedAt(before); }, kRealAdbLimitMs));
    phone.moveToNewPort();
    QVERIFY(phone.start());
    const QString after = phone.endpoint();
    QCOMPARE(runRealAdb(adb::connect(after)).output.trimmed(), "connected to " + after);
    QVERIFY(waitUntil(
        [&] {
            return rig->running(after) && rig->scrcpyRuns().size() == 2 &&
                   c.enabledEndpoints() == QSet<QString>{after} && listedAt(after);
        },
        kRealAdbLimitMs));
    QCOMPARE(rig->scrcpyRuns().last(),
             ("-s " + after +
              " --no-window --no-video --no-control --audio-source=output --audio-buffer=180")
                 .split(' '));
    // The old endpoint keeps no row and no switch: nothing is left trying it.
    QVERIFY(waitUntil([&] {
        const auto rows = c.connectedTCPIPDevices();
        return std::none_of(rows.begin(), rows.end(),
                            [&](const auto& row) { return row.ip == before; });
    }));
    QVERIFY(!c.relayChoiceByEndpoint.contains(before));
    phone.stop();  // before the rig, which waits for this program's children to end
}

QTEST_MAIN(EndToEndTest)
#include "tst_end_to_end.moc"
