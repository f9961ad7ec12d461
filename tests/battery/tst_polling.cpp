#include <QTest>

#include "app/controller.h"
#include "battery_fixtures.h"
#include "platform/dispatch.h"
#include "recording_alert_sound.h"
#include "support/rows.h"
#include "support/test_support.h"

using namespace sonavel;
using sonavel::test::usbRow;

namespace {

const QString kUSBSerial = QStringLiteral("R58M123");
const QString kWireless = QStringLiteral("192.168.1.23:5555");

// A fake-adb rule answering the battery query for one identifier.
QString batteryRule(const QString& identifier, const QString& actions) {
    return QStringLiteral("when -s %1 shell dumpsys battery\n%2\n").arg(identifier, actions);
}

QString dumpAction(const QString& dump) {
    return QStringLiteral("outraw ") + test::fakeOutArgument(dump);
}

}  // namespace

class BatteryPollingTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void readingFillsEveryMapForTheSelectedDevice();
    void unusableAttemptsAreRetried_data();
    void unusableAttemptsAreRetried();
    void failedFetchFallsBackToTheCache();
    void failedFetchWithoutCacheLeavesTheLevel();
    void chargingEvidenceCarriesOverBetweenAttempts();
    void slowCommandIsReportedAndStillUsed();
    void lowReadingSoundsTheAlert();
    void ticksPollTheChosenIdentifiersUntilStopped();
    void nothingToPollRunsNoCommand();
    void phoneBeingAskedIsNotAskedTwice();
    void usbAndWirelessKeysAreKeptApart();
    void selectedRefreshSetsOnlyTheSelectedLevel();
    void selectedRefreshFallsBackToEndpointAndCache();
    void nameLookupRunsOffTheMainThread();
    void nameCompletionRenamesASerialNamedRow();
    void controllerGoneDuringFetch();

private:
    void makeController(double scale = 0.001);
    QList<QStringList> batteryCalls() const;
    // Log entries reach `logs` through the main queue, after the state change they describe.
    QStringList messages() const {
        drainMainQueue();
        return test::logMessages(controller_->logs());
    }

    std::unique_ptr<test::FakeResources> resources_;
    std::unique_ptr<test::TestEnvironment> env_;
    std::shared_ptr<test::AlertSoundJournal> sound_;
    std::unique_ptr<ZovAdizuZadiRizov> controller_;
};

void BatteryPollingTest::init() {
    resources_ = std::make_unique<test::FakeResources>();
    resources_->installFake(QStringLiteral("adb"));
    sound_ = std::make_shared<test::AlertSoundJournal>();
}

void BatteryPollingTest::cleanup() {
    controller_.reset();
    drainMainQueue();
    env_.reset();
    resources_.reset();
}

void BatteryPollingTest::makeController(double scale) {
    env_ = std::make_unique<test::TestEnvironment>(resources_.get(), scale);
    env_->config.makeAlertSound = test::recordingSoundFactory(sound_);
    controller_ = std::make_unique<ZovAdizuZadiRizov>(env_->config);
}

QList<QStringList> BatteryPollingTest::batteryCalls() const {
    QList<QStringList> calls;
    for (const QStringList& arguments : resources_->arguments(QStringLiteral("adb"))) {
        if (arguments.contains(QStringLiteral("dumpsys"))) {
            calls << arguments;
        }
    }
    return calls;
}

void BatteryPollingTest::readingFillsEveryMapForTheSelectedDevice() {
    resources_->setScript(QStringLiteral("adb"),
                          batteryRule(kUSBSerial, dumpAction(test::kDumpUSBCharging)));
    makeController();
    controller_->selectedDevice.set(usbRow(kUSBSerial, QStringLiteral("Pixel 7")));

    controller_->refreshBatteryLevel(kUSBSerial);
    QVERIFY(test::waitUntil([&] { return controller_->batteryCharging().contains(kUSBSerial); }));
    QCOMPARE(controller_->batteryLevels().value(kUSBSerial), 57);
    QCOMPARE(controller_->batteryCharging().value(kUSBSerial), true);
    QCOMPARE(controller_->lastBatteryByIdentifier.value(kUSBSerial), 57);
    QCOMPARE(controller_->batteryLevel(), std::optional<int>(57));
    QCOMPARE(batteryCalls(),
             (QList<QStringList>{{QStringLiteral("-s"), kUSBSerial, QStringLiteral("shell"),
                                  QStringLiteral("dumpsys"), QStringLiteral("battery")}}));
}

void BatteryPollingTest::unusableAttemptsAreRetried_data() {
    QTest::addColumn<QString>("firstAnswer");
    QTest::newRow("letters") << QStringLiteral("out level: abc");
    QTest::newRow("nothing after the colon") << QStringLiteral("out  level:");
    QTest::newRow("beyond 64 bits") << QStringLiteral("out level: 99999999999999999999");
    QTest::newRow("no level line") << QStringLiteral("out status: 3");
    QTest::newRow("empty output") << QStringLiteral("exit 0");
    QTest::newRow("device gone") << QStringLiteral(
        "err error: device '192.168.1.23:5555' not found\nexit 1");
    QTest::newRow("level printed but failed") << QStringLiteral("out level: 12\nexit 1");
    QTest::newRow("adb crashed") << QStringLiteral("crash");
}

void BatteryPollingTest::unusableAttemptsAreRetried() {
    QFETCH(QString, firstAnswer);
    resources_->setScript(QStringLiteral("adb"),
                          batteryRule(kWireless, QStringLiteral("times 1\n") + firstAnswer) +
                              batteryRule(kWireless, dumpAction(test::kDumpWirelessCharging)));
    makeController();
    controller_->refreshBatteryLevel(kWireless);
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevels().contains(kWireless); }));
    QCOMPARE(controller_->batteryLevels().value(kWireless), 40);
    QCOMPARE(batteryCalls().size(), 2);
}

void BatteryPollingTest::failedFetchFallsBackToTheCache() {
    resources_->setScript(
        QStringLiteral("adb"),
        batteryRule(kWireless, QStringLiteral("times 1\nout level: 40\nout AC powered: true")) +
            batteryRule(kWireless, QStringLiteral("exit 1")));
    makeController();
    controller_->refreshBatteryLevel(kWireless);
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevels().contains(kWireless); }));
    QCOMPARE(controller_->batteryCharging().value(kWireless), true);

    controller_->refreshBatteryLevel(kWireless);
    const QString cachedLine = QStringLiteral("[Battery] Using cached level for id=") + kWireless +
                               QStringLiteral(": 40%");
    QVERIFY(test::waitUntil([&] { return messages().contains(cachedLine); }));
    QCOMPARE(batteryCalls().size(), 4);  // one good, then three failed attempts
    QCOMPARE(controller_->batteryLevels().value(kWireless), 40);
    // The failed fetch saw no power line: its charging state is what it reports.
    QCOMPARE(controller_->batteryCharging().value(kWireless), false);
}

void BatteryPollingTest::failedFetchWithoutCacheLeavesTheLevel() {
    resources_->setScript(QStringLiteral("adb"), batteryRule(kWireless, QStringLiteral("exit 1")));
    makeController();
    controller_->batteryLevel.set(70);
    controller_->selectedDevice.set(usbRow(kWireless, QStringLiteral("Pixel")));
    controller_->refreshBatteryLevel(kWireless);
    QVERIFY(test::waitUntil([&] { return controller_->batteryCharging().contains(kWireless); }));
    QCOMPARE(batteryCalls().size(), 3);
    QVERIFY(!controller_->batteryLevels().contains(kWireless));
    QCOMPARE(controller_->batteryLevel(), std::optional<int>(70));
    QVERIFY(!messages().join(QLatin1Char('\n')).contains(QStringLiteral("Using cached level")));
}

void BatteryPollingTest::chargingEvidenceCarriesOverBetweenAttempts() {
    resources_->setScript(
        QStringLiteral("adb"),
        batteryRule(kWireless, QStringLiteral("times 1\nout   AC powered: true")) +
            batteryRule(kWireless, QStringLiteral("out   level: 50\nout   status: 3")));
    makeController();
    controller_->refreshBatteryLevel(kWireless);
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevels().contains(kWireless); }));
    QCOMPARE(controller_->batteryLevels().value(kWireless), 50);
    QCOMPARE(controller_->batteryCharging().value(kWireless), true);
}

void BatteryPollingTest::slowCommandIsReportedAndStillUsed() {
    // At this scale 5 s of flow time are 100 ms; the fake answers after 6 s of flow time.
    resources_->setScript(
        QStringLiteral("adb"),
        batteryRule(kWireless, QStringLiteral("sleep 120\n") + dumpAction(test::kDumpACCharging)));
    makeController(0.02);
    controller_->refreshBatteryLevel(kWireless);
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevels().contains(kWireless); }));
    QCOMPARE(controller_->batteryLevels().value(kWireless), 85);
    QCOMPARE(batteryCalls().size(), 1);

    drainMainQueue();
    const QStringList slow = messages().filter(QStringLiteral("[Battery] Timeout ("));
    QCOMPARE(slow.size(), 1);
    const QString suffix = QStringLiteral("s) on attempt #1 for id=") + kWireless;
    QVERIFY2(slow[0].endsWith(suffix), qPrintable(slow[0]));
    const QString number = slow[0].mid(QStringLiteral("[Battery] Timeout (").size());
    bool ok = false;
    const double seconds = number.left(number.size() - suffix.size()).toDouble(&ok);
    QVERIFY(ok);
    QVERIFY(seconds > 5.0);
}

void BatteryPollingTest::lowReadingSoundsTheAlert() {
    resources_->setScript(QStringLiteral("adb"),
                          batteryRule(kWireless, dumpAction(test::kDumpDischargingLow)));
    makeController();
    controller_->refreshBatteryLevel(kWireless);
    QVERIFY(test::waitUntil([&] { return controller_->isAlertPlaying(); }));
    QVERIFY(messages().contains(QStringLiteral("[BatteryAlert] Low battery alert: 1%")));
    QCOMPARE(sound_->events, QStringList{QStringLiteral("play")});
}

void BatteryPollingTest::ticksPollTheChosenIdentifiersUntilStopped() {
    resources_->setScript(QStringLiteral("adb"),
                          batteryRule(QStringLiteral(".*"), dumpAction(test::kDumpUSBCharging)));
    makeController();
    controller_->enabledEndpoints.set({kWireless});
    controller_->startBatteryMonitoring();
    // The first poll at once, then one per 60 s of flow time.
    QVERIFY(test::waitUntil([&] { return batteryCalls().size() >= 3; }));
    for (const QStringList& call : batteryCalls()) {
        QCOMPARE(call.value(1), kWireless);
    }

    controller_->stopBatteryMonitoring();
    QVERIFY(test::waitUntil([&] { return !controller_->batteryTimer; }));
    // Fetches already under way finish; then the count stays put. A running timer would add a
    // call every 60 ms and never settle.
    bool settled = false;
    for (int round = 0; round < 10 && !settled; ++round) {
        const auto before = batteryCalls().size();
        QTest::qWait(300);
        settled = batteryCalls().size() == before;
    }
    QVERIFY(settled);
    QCOMPARE(controller_->batteryLevels().value(kWireless), 57);
}

void BatteryPollingTest::nothingToPollRunsNoCommand() {
    resources_->setScript(QStringLiteral("adb"),
                          batteryRule(QStringLiteral(".*"), dumpAction(test::kDumpUSBCharging)));
    makeController();
    DiscoveredDevice noIP = usbRow(kWireless, QStringLiteral("Pixel"));
    noIP.transport = kTransportTCPIP;
    controller_->connectedTCPIPDevices.set({noIP});
    controller_->refreshAllBatteryLevels();
    controller_->refreshBatteryLevel(QString());
    QTest::qWait(100);
    QCOMPARE(batteryCalls().size(), 0);

    // Relay processes come first, also when theirs has ended.
    controller_->scrcpyProcesses.insert(kUSBSerial, QPointer<QProcess>());
    controller_->enabledEndpoints.set({kWireless});
    controller_->refreshAllBatteryLevels();
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevels().contains(kUSBSerial); }));
    QCOMPARE(batteryCalls().size(), 1);
    controller_->scrcpyProcesses.clear();
}

void BatteryPollingTest::phoneBeingAskedIsNotAskedTwice() {
    // Each relay that starts polls every relaying phone again; sixteen starting together would
    // otherwise ask the first phone sixteen times at once.
    resources_->setScript(QStringLiteral("adb"),
                          batteryRule(kWireless, QStringLiteral("sleep 300\nout level: 64")));
    makeController();
    controller_->refreshBatteryLevel(kWireless);
    controller_->refreshBatteryLevel(kWireless);
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevels().contains(kWireless); }));
    QTest::qWait(50);
    QCOMPARE(batteryCalls().size(), 1);

    // Once answered, the phone is asked again.
    controller_->refreshBatteryLevel(kWireless);
    QVERIFY(test::waitUntil([&] { return batteryCalls().size() == 2; }));
}

void BatteryPollingTest::usbAndWirelessKeysAreKeptApart() {
    // One phone tapped over USB, then polled over its wireless endpoint: both keys hold values.
    resources_->setScript(QStringLiteral("adb"),
                          batteryRule(kUSBSerial, dumpAction(test::kDumpUSBCharging)) +
                              batteryRule(kWireless, QStringLiteral("out level: 58")));
    makeController();
    controller_->refreshBatteryLevel(kUSBSerial);
    controller_->refreshBatteryLevel(kWireless);
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevels().size() == 2; }));
    QCOMPARE(controller_->batteryLevels().value(kUSBSerial), 57);
    QCOMPARE(controller_->batteryLevels().value(kWireless), 58);
    QCOMPARE(controller_->batteryCharging().value(kWireless), false);
}

void BatteryPollingTest::selectedRefreshSetsOnlyTheSelectedLevel() {
    resources_->setScript(QStringLiteral("adb"),
                          batteryRule(kWireless, dumpAction(test::kDumpDischargingLow)));
    makeController();
    DiscoveredDevice row = usbRow(kUSBSerial, QStringLiteral("Pixel 7"));
    row.transport = kTransportTCPIP;
    row.ip = kWireless;
    controller_->discoveredDevices.set({row});
    controller_->selectedDevice.set(row);

    controller_->refreshSelectedDeviceBattery();
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevel().has_value(); }));
    QCOMPARE(controller_->batteryLevel(), std::optional<int>(1));
    QCOMPARE(controller_->lastBatteryByIdentifier.value(kWireless), 1);
    // A 1 % level here neither fills the per-device maps nor sounds the alert.
    QVERIFY(controller_->batteryLevels().isEmpty());
    QVERIFY(controller_->batteryCharging().isEmpty());
    QVERIFY(!controller_->isAlertPlaying());
    QCOMPARE(batteryCalls().value(0).value(1), kWireless);
}

void BatteryPollingTest::selectedRefreshFallsBackToEndpointAndCache() {
    const QString endpoint = QStringLiteral("10.0.0.7:5555");
    resources_->setScript(QStringLiteral("adb"),
                          batteryRule(endpoint, QStringLiteral("times 1\nout level: 64")) +
                              batteryRule(endpoint, QStringLiteral("exit 1")));
    makeController();
    controller_->endpoint.set(endpoint);

    controller_->refreshSelectedDeviceBattery();
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevel() == std::optional<int>(64); }));

    controller_->batteryLevel.set(std::nullopt);
    controller_->refreshSelectedDeviceBattery();
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevel() == std::optional<int>(64); }));
    QVERIFY(messages().contains(QStringLiteral("[Battery] Using cached level for id=") + endpoint +
                                QStringLiteral(": 64%")));
    QCOMPARE(batteryCalls().size(), 4);

    // Another identifier without a cache clears the shown level.
    controller_->endpoint.set(QStringLiteral("10.0.0.8:5555"));
    controller_->refreshSelectedDeviceBattery();
    QVERIFY(test::waitUntil([&] { return !controller_->batteryLevel().has_value(); }));

    // Nothing selected and no endpoint: no command.
    controller_->endpoint.set(QString());
    controller_->refreshSelectedDeviceBattery();
    QTest::qWait(50);
    QCOMPARE(batteryCalls().size(), 7);
}

void BatteryPollingTest::nameLookupRunsOffTheMainThread() {
    // A phone that answers its name only after a long second: the window must go on meanwhile.
    const QString endpoint = QStringLiteral("10.0.0.7:5555");
    resources_->setScript(
        QStringLiteral("adb"),
        batteryRule(endpoint, QStringLiteral("out level: 64")) +
            QStringLiteral("when -s %1 shell getprop ro.product.model\nsleep 1000\nout Pixel 7\n")
                .arg(endpoint));
    makeController();
    controller_->endpoint.set(endpoint);

    controller_->refreshSelectedDeviceBattery();
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevel().has_value(); }));
    bool mainTurned = false;
    mainAsync([&] { mainTurned = true; });
    QVERIFY(test::waitUntil([&] { return mainTurned; }, 500));
    QVERIFY(!controller_->selectedDevice().has_value());

    QVERIFY(test::waitUntil([&] { return controller_->selectedDevice().has_value(); }));
    const DiscoveredDevice selected = *controller_->selectedDevice();
    QCOMPARE(selected.name, QStringLiteral("Pixel 7"));
    QCOMPARE(selected.serial, endpoint);
    QCOMPARE(selected.ip, std::optional<QString>(endpoint));
    QCOMPARE(selected.transport, kTransportTCPIP);
    QCOMPARE(selected.state, QStringLiteral("device"));
    QCOMPARE(controller_->discoveredDevices(), QVector<DiscoveredDevice>{selected});
}

void BatteryPollingTest::nameCompletionRenamesASerialNamedRow() {
    resources_->setScript(
        QStringLiteral("adb"),
        batteryRule(kUSBSerial, QStringLiteral("out level: 64")) +
            QStringLiteral("when -s %1 shell getprop ro.product.model\nout\n"
                           "when -s %1 shell getprop ro.product.device\nout panther\n")
                .arg(kUSBSerial));
    makeController();
    const DiscoveredDevice other = usbRow(QStringLiteral("OTHER"), QStringLiteral("Galaxy"));
    const DiscoveredDevice unnamed = usbRow(kUSBSerial, kUSBSerial);
    controller_->discoveredDevices.set({other, unnamed});
    controller_->selectedDevice.set(unnamed);

    controller_->refreshSelectedDeviceBattery();
    QVERIFY(test::waitUntil([&] {
        return controller_->discoveredDevices().value(1).name == QStringLiteral("panther");
    }));
    const DiscoveredDevice renamed = controller_->discoveredDevices().value(1);
    QVERIFY(renamed.id != unnamed.id);
    QCOMPARE(renamed.serial, kUSBSerial);
    QCOMPARE(controller_->discoveredDevices().value(0), other);
    QCOMPARE(controller_->selectedDevice(), std::optional<DiscoveredDevice>(renamed));

    // A row with a real name is left alone: no lookup at all.
    const auto lookups = [&] {
        int n = 0;
        for (const QStringList& arguments : resources_->arguments(QStringLiteral("adb"))) {
            n += arguments.contains(QStringLiteral("getprop")) ? 1 : 0;
        }
        return n;
    };
    const int before = lookups();
    controller_->batteryLevel.set(std::nullopt);
    controller_->refreshSelectedDeviceBattery();
    QVERIFY(test::waitUntil([&] { return controller_->batteryLevel().has_value(); }));
    QTest::qWait(50);
    QCOMPARE(lookups(), before);
}

void BatteryPollingTest::controllerGoneDuringFetch() {
    resources_->setScript(QStringLiteral("adb"),
                          batteryRule(kWireless, QStringLiteral("sleep 200\nout level: 3")));
    makeController();
    controller_->endpoint.set(kWireless);
    controller_->refreshBatteryLevel(kWireless);
    controller_->refreshSelectedDeviceBattery();
    QVERIFY(test::waitUntil([&] { return batteryCalls().size() >= 1; }));
    controller_.reset();
    // The fetch finishes on its worker and finds nobody to hand its reading to.
    QTest::qWait(400);
    drainMainQueue();
}

QTEST_GUILESS_MAIN(BatteryPollingTest)
#include "tst_polling.moc"
