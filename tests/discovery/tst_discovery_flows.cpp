#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/controller.h"
#include "discovery/device_identity.h"
#include "discovery/discovery_test_helpers.h"
#include "support/rows.h"
#include "support/test_support.h"

using namespace sonavel;
using namespace sonavel::test;
using namespace sonavel::test::discovery;

namespace {

const QString kQuietWatcher = QStringLiteral("when track-devices\nhang\n");
const QString kDetected = QStringLiteral("USB Android device detected");
const QString kRefreshStarted = QStringLiteral("[Debug] refreshDevices started");
const QString kUnauthorizedWarning = QStringLiteral(
    "Warning: USB device unauthorized. Please accept the USB debugging authorization dialog on "
    "your device.");
const QString kChangedLine = QStringLiteral(
    "[Debug] USB device connection state changed/serial changed. found=true, previous=nil, "
    "current=R58M12345");

QString listing(const QStringList& lines) {
    QString script = QStringLiteral("out List of devices attached\n");
    for (const QString& line : lines) {
        script += QStringLiteral("out ") + line + QLatin1Char('\n');
    }
    return script;
}

const QString kReadyLine =
    QStringLiteral("R58M12345 device usb:1-1 product:a model:b device:c transport_id:1");
const QString kPromptLine = QStringLiteral("R58M12345 unauthorized usb:1-1 transport_id:1");

// A controller whose periodic check is stopped once its first check (run at creation) is done,
// so that every further check is the test's own.
struct Rig {
    explicit Rig(const QString& adbScript) {
        resources.installFake(QStringLiteral("adb"), adbScript);
        env = std::make_unique<TestEnvironment>(&resources);
        controller = std::make_unique<ZovAdizuZadiRizov>(env->config);
        controller->usbDetectTimer.reset();
    }
    // Workers that were inside a probe when the controller went keep running adb for a moment;
    // the fake's folder must outlive them.
    ~Rig() {
        controller.reset();
        waitUntil([] { return childProcesses().isEmpty(); });
        QTest::qWait(50);
        waitUntil([] { return childProcesses().isEmpty(); });
    }
    ZovAdizuZadiRizov& c() { return *controller; }
    int adbCalls(const QStringList& arguments) const {
        return static_cast<int>(resources.arguments(QStringLiteral("adb")).count(arguments));
    }
    FakeResources resources;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<ZovAdizuZadiRizov> controller;
};

// Lets steps that might still be queued run; used only before asserting that something did NOT
// happen.
void settle() {
    QTest::qWait(100);
}

}  // namespace

class DiscoveryFlowsTest : public QObject {
    Q_OBJECT
private slots:
    void refreshPublishesPairedRowsAndKeepsOldOnes();
    void ipEnrichmentOnlyLogs();
    void deviceNameLookup();
    void usbCheckDetectsOnceThenStaysQuiet();
    void usbCheckWarnsThenReportsUnplug();
    void phoneAllowedAfterPromptSeenByCheck();
    void phoneAllowedAfterPromptSeenByWatcher();
    void watcherSwitchesToAnotherPhone();
    void wirelessPhonesListedAsTheWatcherSeesThem();
    void watcherWithoutAdbOrUnlaunchable();
    void watcherStoppedAtDestruction();
    void watcherRestartsWithoutLeaking();
};

void DiscoveryFlowsTest::refreshPublishesPairedRowsAndKeepsOldOnes() {
    // The check at creation sees an empty listing; the refresh sees the phone on both transports.
    Rig rig(QStringLiteral("when devices -l\ntimes 1\nout List of devices attached\n"
                           "when devices -l\n") +
            listing({QStringLiteral("0123456789ABCDEF       device usb:1-1 product:panther "
                                    "model:Pixel_7 device:panther transport_id:2"),
                     QStringLiteral("192.168.1.20:5555      device product:panther model:Pixel_7 "
                                    "device:panther transport_id:3"),
                     QStringLiteral("adb-ABC123-xyz._adb-tls-connect._tcp device "
                                    "product:panther model:Pixel_7 transport_id:4")}) +
            kQuietWatcher);
    auto& c = rig.c();
    QVERIFY(waitLogged(c, QStringLiteral("[USBCheck] USB connected: false serial: nil state: ")));
    DiscoveredDevice old;
    old.serial = old.name = QStringLiteral("10.0.0.8:5555");
    old.ip = old.serial;
    old.state = QStringLiteral("device");
    old.transport = kTransportTCPIP;
    c.connectedTCPIPDevices.set({old});

    c.refreshDevices();
    QVERIFY(waitLogged(c, QStringLiteral("[Debug] Visible device rows count: 1")));
    const QVector<DiscoveredDevice> rows = c.discoveredDevices();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].serial, QStringLiteral("0123456789ABCDEF"));
    QCOMPARE(rows[0].ip, std::optional<QString>(QStringLiteral("192.168.1.20:5555")));
    QCOMPARE(rows[1], old);
    QCOMPARE(c.connectedTCPIPDevices(), rows);
    QVERIFY(c.knownPhysicalSerials.contains(QStringLiteral("0123456789ABCDEF")));

    const QStringList log = logMessages(c.logs());
    QVERIFY(log.contains(kRefreshStarted));
    QVERIFY(log.contains(
        QStringLiteral("[Debug] Ignored adb TLS row: adb-ABC123-xyz._adb-tls-connect._tcp")));
    QVERIFY(log.contains(QStringLiteral("[Debug] Detected adb devices count: 2")));
    QVERIFY(log.contains(QStringLiteral(
        "[Debug] ADB Device: serial=0123456789ABCDEF, name=Pixel_7, state=device, ip=nil, "
        "transport=usb")));
    QVERIFY(log.contains(QStringLiteral(
        "[Debug] Visible Row: serial=0123456789ABCDEF, name=Pixel_7, ip=192.168.1.20:5555, "
        "transport=usb")));
    const auto dump = std::find_if(log.begin(), log.end(), [](const QString& m) {
        return m.startsWith(QStringLiteral("\n=== adb devices -l の実行結果 ===\nList of devices"));
    });
    QVERIFY(dump != log.end());
    QVERIFY(dump->endsWith(QStringLiteral("\n==========================\n")));
}

void DiscoveryFlowsTest::ipEnrichmentOnlyLogs() {
    Rig rig(QStringLiteral("when -s GOOD shell ip -f inet addr show wlan0.*\nout 192.168.1.23\n") +
            kQuietWatcher);
    auto& c = rig.c();
    const QVector<DiscoveredDevice> list = {usbRow(QStringLiteral("GOOD")),
                                            usbRow(QStringLiteral("BAD"))};
    c.discoveredDevices.set(list);
    c.enrichIPsForUSBDevices();
    const QString closing = QStringLiteral(
        "[Debug] enriched IP check finished; UI rows remain based on adb devices -l");
    QVERIFY(waitLogged(c, closing));
    const QStringList log = logMessages(c.logs());
    const QStringList expected = {
        QStringLiteral("[Debug] enrichIPsForUSBDevices started for 2 USB device(s)"),
        QStringLiteral("[Debug] IP resolved for device GOOD: 192.168.1.23:5555"),
        QStringLiteral("[Debug] enrichIPsForUSBDevices retry #1 for serial BAD"),
        QStringLiteral("[Debug] enrichIPsForUSBDevices retry #2 for serial BAD"),
        QStringLiteral("[Debug] enrichIPsForUSBDevices retry #3 for serial BAD"),
        QStringLiteral("[Debug] IP not resolved for device BAD"),
        closing,
    };
    qsizetype at = -1;
    for (const QString& line : expected) {
        const qsizetype next = log.indexOf(line, at + 1);
        QVERIFY2(next > at, qPrintable(line));
        at = next;
    }
    QCOMPARE(c.discoveredDevices(), list);
    // One command found GOOD; BAD got three attempts of three commands.
    int good = 0, bad = 0;
    for (const QStringList& args : rig.resources.arguments(QStringLiteral("adb"))) {
        if (args.value(2) == QStringLiteral("shell")) {
            (args.value(1) == QStringLiteral("GOOD") ? good : bad)++;
        }
    }
    QCOMPARE(good, 1);
    QCOMPARE(bad, 9);

    // No USB row: not a single line.
    c.discoveredDevices.set({});
    c.enrichIPsForUSBDevices();
    settle();
    QCOMPARE(countLogged(c, closing), 1);
}

void DiscoveryFlowsTest::deviceNameLookup() {
    Rig rig(QStringLiteral("when -s DEV1 shell getprop ro.product.model\nout \n"
                           "when -s DEV1 shell getprop ro.product.device\nout panther\n"
                           "when -s DEV2 shell getprop ro.product.model\nout Pixel 7\n"
                           "when -s GONE shell getprop .*\nerr error: device 'GONE' not found\n"
                           "exit 1\n") +
            kQuietWatcher);
    QCOMPARE(lookupDeviceName(rig.c().ref(), QStringLiteral("DEV1")),
             std::optional<QString>(QStringLiteral("panther")));
    QCOMPARE(lookupDeviceName(rig.c().ref(), QStringLiteral("DEV2")),
             std::optional<QString>(QStringLiteral("Pixel 7")));
    QCOMPARE(lookupDeviceName(rig.c().ref(), QStringLiteral("GONE")), std::nullopt);
    const QStringList order = {QStringLiteral("ro.product.model"),
                               QStringLiteral("ro.product.device"), QStringLiteral("ro.serialno")};
    QStringList asked;
    for (const QStringList& args : rig.resources.arguments(QStringLiteral("adb"))) {
        if (args.value(1) == QStringLiteral("GONE")) {
            asked << args.value(4);
        }
    }
    QCOMPARE(asked, order);
}

void DiscoveryFlowsTest::usbCheckDetectsOnceThenStaysQuiet() {
    Rig rig(QStringLiteral("when devices -l\n") + listing({kReadyLine}) + kQuietWatcher);
    auto& c = rig.c();
    QVERIFY(waitLogged(c, kDetected));
    QVERIFY(c.isUSBDeviceConnected());
    QCOMPARE(c.observedUSBSerial, std::optional<QString>(QStringLiteral("R58M12345")));
    QVERIFY(c.knownPhysicalSerials.contains(QStringLiteral("R58M12345")));
    QVERIFY(indexLogged(c, kChangedLine) <
            indexLogged(c, QStringLiteral("[USBCheck] Observed USB serial set -> R58M12345")));
    QVERIFY(waitLogged(c, kRefreshStarted));

    // The next tick finds the same device: its background lines, nothing else.
    c.checkUSBConnection();
    const QString background =
        QStringLiteral("[USBCheck] USB connected: true serial: R58M12345 state: device");
    QVERIFY(waitLogged(c, background, 2));
    QVERIFY(waitLogged(
        c, QStringLiteral("[Debug] USB state: found=true, serial=R58M12345, state=device"), 2));
    settle();
    QCOMPARE(countLogged(c, kDetected), 1);
    QCOMPARE(countLogged(c, kRefreshStarted), 1);
}

void DiscoveryFlowsTest::usbCheckWarnsThenReportsUnplug() {
    Rig rig(QStringLiteral("when devices -l\ntimes 1\n") + listing({kPromptLine}) +
            QStringLiteral("when devices -l\n") +
            listing({QStringLiteral("192.168.1.20:5555 device product:x model:y transport_id:3"),
                     QStringLiteral("R58M99999 device product:x model:y transport_id:4")}) +
            kQuietWatcher);
    auto& c = rig.c();
    QVERIFY(waitLogged(c, kUnauthorizedWarning));
    QVERIFY(c.isUSBDeviceConnected());
    QVERIFY(c.usbSerialsAwaitingReady.contains(QStringLiteral("R58M12345")));
    settle();
    QCOMPARE(countLogged(c, kRefreshStarted), 0);

    // Unplugged: only a wireless row and a line without the USB field remain.
    c.checkUSBConnection();
    QVERIFY(waitLogged(c, QStringLiteral("No USB Android device detected")));
    QVERIFY(!c.isUSBDeviceConnected());
    QCOMPARE(c.observedUSBSerial, std::nullopt);
    QVERIFY(waitLogged(c, kRefreshStarted));
}

void DiscoveryFlowsTest::phoneAllowedAfterPromptSeenByCheck() {
    Rig rig(QStringLiteral("when devices -l\ntimes 1\n") + listing({kPromptLine}) +
            QStringLiteral("when devices -l\n") + listing({kReadyLine}) + kQuietWatcher);
    auto& c = rig.c();
    QVERIFY(waitLogged(c, kUnauthorizedWarning));

    // The user accepts the prompt: same serial, same connected flag, but now ready.
    c.checkUSBConnection();
    QVERIFY(waitLogged(c, kRefreshStarted));
    QVERIFY(c.usbSerialsAwaitingReady.isEmpty());
    QCOMPARE(countLogged(c, kDetected), 2);

    // From then on it is an ordinary attached phone.
    c.checkUSBConnection();
    QVERIFY(waitLogged(
        c, QStringLiteral("[Debug] USB state: found=true, serial=R58M12345, state=device"), 2));
    settle();
    QCOMPARE(countLogged(c, kDetected), 2);
    QCOMPARE(countLogged(c, kRefreshStarted), 1);
}

void DiscoveryFlowsTest::phoneAllowedAfterPromptSeenByWatcher() {
    // The check sees the prompt first; then the watcher sees the prompt and the acceptance.
    const QString watcherStream =
        QStringLiteral("when track-devices\ntimes 1\nhang\nwhen track-devices\noutraw ") +
        frameScript(QStringLiteral("R58M12345\tunauthorized\n")) +
        QStringLiteral("\nsleep 20\noutraw ") + frameScript(QStringLiteral("R58M12345\tdevice\n")) +
        QStringLiteral("\nhang\n");
    Rig rig(QStringLiteral("when devices -l\ntimes 1\n") + listing({kPromptLine}) +
            QStringLiteral("when devices -l\n") + listing({kReadyLine}) + watcherStream);
    auto& c = rig.c();
    QVERIFY(waitLogged(c, kUnauthorizedWarning));
    QVERIFY(c.knownPhysicalSerials.contains(QStringLiteral("R58M12345")));

    c.startTrackDevicesWatcher();
    QVERIFY(waitLogged(c, QStringLiteral("[AutoNewUSB] New USB device detected: R58M12345. "
                                         "Resolving IP and connecting...")));
    QVERIFY(c.usbSerialsAwaitingReady.isEmpty());
    QVERIFY(waitLogged(c, kRefreshStarted));
    QVERIFY(waitUntil([&] { return c.isUSBDeviceConnected(); }));
    QVERIFY(
        waitLogged(c, QStringLiteral("[TrackDevices] Derived states -> USB:true Wireless:false")));

    // The automatic flow that the new phone started refreshes on its own; let it end first.
    QVERIFY(waitUntil([&] {
        return logMessages(c.logs())
                   .filter(QStringLiteral("statusText changed to: [AutoFlow]"))
                   .size() > 0;
    }));
    settle();
    // The check that follows finds nothing new to do.
    const int refreshesBefore = countLogged(c, kRefreshStarted);
    c.checkUSBConnection();
    QVERIFY(waitLogged(
        c, QStringLiteral("[Debug] USB state: found=true, serial=R58M12345, state=device")));
    settle();
    QCOMPARE(countLogged(c, kRefreshStarted), refreshesBefore);
    QCOMPARE(countLogged(c, kDetected), 1);
}

void DiscoveryFlowsTest::watcherSwitchesToAnotherPhone() {
    Rig rig(kQuietWatcher);
    auto& c = rig.c();
    c.observedUSBSerial = QStringLiteral("R58M12345");
    c.knownPhysicalSerials = {QStringLiteral("R58M12345"), QStringLiteral("ABC987")};
    c.processTrackSnapshot({QStringLiteral("ABC987\tdevice")}, true);
    QCOMPARE(c.observedUSBSerial, std::optional<QString>(QStringLiteral("ABC987")));
    QVERIFY(waitUntil([&] { return c.statusText() == QStringLiteral("Switching device…"); }));
    QVERIFY(
        waitLogged(c, QStringLiteral("[TrackDevices] Derived states -> USB:true Wireless:false")));
    const QStringList log = logMessages(c.logs());
    const int missing = static_cast<int>(log.indexOf(QStringLiteral(
        "[TrackDevices] Observed USB serial R58M12345 missing from snapshot -> treat as "
        "disconnected")));
    QVERIFY(missing >= 0);
    QCOMPARE(log.value(missing + 1),
             QStringLiteral("[TrackDevices] USB switched to new serial -> ABC987"));
    // A known serial is no new device; a blank-line table without lines is nothing at all.
    QVERIFY(!log.join(QLatin1Char('\n')).contains(QStringLiteral("[AutoNewUSB]")));
    c.processTrackSnapshot({}, false);
    settle();
    QCOMPARE(countLogged(c, QStringLiteral("[TrackDevices] Snapshot lines:\nABC987\tdevice")), 1);
    QCOMPARE(log.filter(QStringLiteral("Snapshot lines")).size(),
             logMessages(c.logs()).filter(QStringLiteral("Snapshot lines")).size());
}

void DiscoveryFlowsTest::wirelessPhonesListedAsTheWatcherSeesThem() {
    // One phone is still connected over Wi-Fi when the application starts; another tool connects a
    // second one later, which the watcher's next run reports.
    const QString first = QStringLiteral("192.168.1.20:5555\tdevice\n");
    const QString both = first + QStringLiteral("192.168.1.21:5555\tdevice\n");
    QTemporaryDir dir;
    const QString listingFile = dir.filePath(QStringLiteral("listing"));
    const auto list = [&](const QStringList& lines) {
        QSaveFile file(listingFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("List of devices attached\n%1\n\n")
                       .arg(lines.join(QLatin1Char('\n')))
                       .toUtf8());
        QVERIFY(file.commit());
    };
    const QString a =
        QStringLiteral("192.168.1.20:5555 device product:a model:Pixel_7 device:a transport_id:3");
    const QString b =
        QStringLiteral("192.168.1.21:5555 device product:b model:SM_S918B device:b transport_id:4");
    list({a});
    Rig rig(QStringLiteral("when track-devices\ntimes 1\noutraw ") + frameScript(first) +
            QStringLiteral("\nhang\nwhen track-devices\noutraw ") + frameScript(both) +
            QStringLiteral("\nhang\nwhen devices -l\noutfile ") + listingFile + QLatin1Char('\n'));
    auto& c = rig.c();
    const auto names = [&] {
        QStringList listed;
        for (const DiscoveredDevice& row : c.connectedTCPIPDevices()) {
            listed << row.name;
        }
        return listed;
    };
    QVERIFY(waitUntil([&] { return names() == QStringList{QStringLiteral("Pixel_7")}; }));

    list({a, b});
    c.startTrackDevicesWatcher();
    QVERIFY(waitUntil([&] {
        return names() == QStringList({QStringLiteral("Pixel_7"), QStringLiteral("SM_S918B")});
    }));
}

void DiscoveryFlowsTest::watcherWithoutAdbOrUnlaunchable() {
    {
        FakeResources empty;
        TestEnvironment env(&empty);
        ZovAdizuZadiRizov c(env.config);
        QVERIFY(waitLogged(c, QStringLiteral("[TrackDevices] adb not found; watcher not started")));
        QVERIFY(!c.trackDevicesProcess);
    }
    {
        FakeResources broken;
        broken.writeFile(QStringLiteral("adb"),
                         "\x7f"
                         "ELF not really",
                         true);
        TestEnvironment env(&broken);
        ZovAdizuZadiRizov c(env.config);
        c.usbDetectTimer.reset();
        QVERIFY(waitUntil([&] {
            return logMessages(c.logs())
                .join(QLatin1Char('\n'))
                .contains(QStringLiteral("[TrackDevices] failed to start: "));
        }));
        QVERIFY(!c.trackDevicesProcess);
        settle();
        // No restart follows a launch failure.
        QCOMPARE(countLogged(c, QStringLiteral(
                                    "[TrackDevices] watcher terminated; scheduling restart in 2s")),
                 0);
        QVERIFY(!c.trackDevicesProcess);
    }
    QVERIFY(waitUntil([] { return liveProcessObjects() == 0; }));
}

void DiscoveryFlowsTest::watcherStoppedAtDestruction() {
    auto rig = std::make_unique<Rig>(
        QStringLiteral("when track-devices\nignore-term\nsleep 200\n") + kQuietWatcher);
    QVERIFY(waitLogged(rig->c(), QStringLiteral("[TrackDevices] watcher started")));
    QVERIFY(rig->c().trackDevicesProcess);
    rig.reset();
    // The process ends on its own later; its object goes with it and touches no controller.
    QVERIFY(waitUntil([] { return liveProcessObjects() == 0 && childProcesses().isEmpty(); }));
}

void DiscoveryFlowsTest::watcherRestartsWithoutLeaking() {
    // A settled baseline: everything the earlier tests started has ended.
    QVERIFY(waitUntil([] { return childProcesses().isEmpty() && liveProcessObjects() == 0; }));
    const int fds = openFileDescriptors();
    {
        Rig rig(QStringLiteral("when track-devices\nexit 1\n"));
        auto& c = rig.c();
        const QString started = QStringLiteral("[TrackDevices] watcher started");
        QVERIFY(waitLogged(c, started, 21));
        QVERIFY(waitLogged(
            c, QStringLiteral("[TrackDevices] watcher terminated; scheduling restart in 2s"), 20));
        QVERIFY(liveProcessObjects() <= 2);
    }
    QVERIFY(waitUntil([&] {
        return childProcesses().isEmpty() && liveProcessObjects() == 0 &&
               openFileDescriptors() <= fds;
    }));
}

QTEST_GUILESS_MAIN(DiscoveryFlowsTest)
#include "tst_discovery_flows.moc"
