#include <QTest>

#include "app/controller.h"
#include "connect/connect_rig.h"
#include "connect/ip_probe.h"
#include "tools/adb_commands.h"

using namespace sonavel;
using namespace sonavel::test;
using namespace sonavel::test::connect;

namespace {

const QString kRefreshStarted = QStringLiteral("[Debug] refreshDevices started");
const QString kNoAddress = QStringLiteral(
    "Failed to determine Android IP over USB. Ensure Wireless debugging or Wi\u2011Fi is "
    "enabled.");
const QString kOtherEndpoint = QStringLiteral("10.9.9.9:5555");

// These cases read the order and number of log lines, and the log keeps only the last 1000. The
// controller's own USB check logs every listing it takes, once per 10 s of flow time: at the
// usual 0.001 a slow sanitizer run would see the early lines of a flow pushed out before it ends.
constexpr double kFlowScale = 0.01;

// How the fake phones answer the setup. The answers are the tools' own wordings.
const QString kPhones = QStringLiteral(
    "when -s TWO shell ip -f inet addr show wlan0.*\nout 192.168.1.23\\n10.0.0.9\n"
    "when -s ERR shell ip -f inet addr show wlan0.*\nerr Device \"wlan0\" does not exist.\n"
    "exit 1\n"
    "when -s ERR shell ip route get 1.*\nout 999.1.1.1\n"
    "when -s LOCKED tcpip 5555\nerr error: device unauthorized.\nexit 1\n"
    "when -s LOCKED shell ip -f inet addr show wlan0.*\nout 192.168.1.40\n"
    "when -s GONE tcpip 5555\nout restarting in TCP mode port: 5555\n"
    "when -s GONE shell .*\nerr error: device 'GONE' not found\nexit 1\n"
    "when -s REFUSED shell ip -f inet addr show wlan0.*\nout 192.168.1.50\n"
    "when -s PIXEL shell ip -f inet addr show wlan0.*\nout 192.168.1.23\n"
    "when connect 192.168.1.50:5555\n"
    "out failed to connect to '192.168.1.50:5555': Connection refused\n"
    "when connect 10.9.9.9:5555\n"
    "out failed to connect to '10.9.9.9:5555': Connection refused\n"
    "when connect ([0-9.]+:5555)\nout connected to the phone\n");

// The phones above; `refused` makes the first connect to 192.168.1.20:5555 fail.
QString phonesScript(bool refused = false) {
    const QString refusal = QStringLiteral(
        "when connect 192.168.1.20:5555\ntimes 1\n"
        "out failed to connect to '192.168.1.20:5555': Connection refused\n");
    return (refused ? refusal : QString()) + kPhones;
}

DiscoveredDevice row(const QString& serial, const QString& name, std::optional<QString> ip,
                     const QString& transport, const QString& state = QStringLiteral("device")) {
    DiscoveredDevice r;
    r.serial = serial;
    r.name = name;
    r.state = state;
    r.ip = std::move(ip);
    r.transport = transport;
    return r;
}

// Both lists, so that the refreshes of the flows (over an empty listing) carry the rows over.
void listRows(ZovAdizuZadiRizov& c, const QVector<DiscoveredDevice>& rows) {
    c.discoveredDevices.set(rows);
    c.connectedTCPIPDevices.set(rows);
}

QString savedEndpoint(const RelayRig& rig) {
    return rig.env.settings()->value(QStringLiteral("endpoint")).toString();
}

}  // namespace

class ConnectFlowsTest : public QObject {
    Q_OBJECT
private slots:
    void setupOutcomes_data();
    void setupOutcomes();
    void setupSelectsOnlyWhenNothingIsSelected();
    void oneSetupPerSerialAtATime();
    void flowStartsRelayOnWirelessRow();
    void flowEnds_data();
    void flowEnds();
};

void ConnectFlowsTest::setupOutcomes_data() {
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("endpoint");  // empty: no address found
    QTest::addColumn<int>("probes");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("tcpipOutput");
    QTest::newRow("two addresses") << "TWO"
                                   << "192.168.1.23:5555" << 1 << true << "";
    QTest::newRow("error text, empty, then 999.1.1.1") << "ERR"
                                                       << "999.1.1.1:5555" << 3 << true << "";
    QTest::newRow("empty outputs") << "EMPTY"
                                   << "" << 3 << false << "";
    QTest::newRow("tcpip refused")
        << "LOCKED"
        << "192.168.1.40:5555" << 1 << true << "error: device unauthorized.\n";
    QTest::newRow("unplugged during the pause")
        << "GONE"
        << "" << 3 << false << "restarting in TCP mode port: 5555\n";
    QTest::newRow("connect refused with status 0") << "REFUSED"
                                                   << "192.168.1.50:5555" << 1 << false << "";
}

void ConnectFlowsTest::setupOutcomes() {
    QFETCH(QString, serial);
    QFETCH(QString, endpoint);
    QFETCH(int, probes);
    QFETCH(bool, connected);
    QFETCH(QString, tcpipOutput);
    RelayRig rig(kHangingScrcpy, phonesScript(), kFlowScale);
    ZovAdizuZadiRizov& c = *rig.c;

    c.autoUSBSetupIfNeeded(serial);
    const QString last =
        endpoint.isEmpty() ? kNoAddress
        : connected
            ? QStringLiteral("[Debug] autoUSBSetupIfNeeded connected to ") + endpoint
            : QStringLiteral("[Debug] adb connect failed in autoUSBSetupIfNeeded for endpoint ") +
                  endpoint;
    QVERIFY(rig.waitForLog(last));

    QList<QStringList> expected = {adb::startServer(), adb::tcpip(serial)};
    for (int i = 0; i < probes; ++i) {
        expected << adb::shell(serial, ipProbeCommands()[i]);
    }
    if (!endpoint.isEmpty()) {
        expected << adb::connect(endpoint);
    }
    QCOMPARE(flowCalls(rig.resources), expected);
    QVERIFY(loggedInOrder(
        c,
        {QStringLiteral("[TrackDevices] observedUSBSerial set from setup -> ") + serial,
         QStringLiteral("[Debug] Auto USB setup: attempting adb tcpip 5555 for serial ") + serial,
         QStringLiteral("[Debug] adb tcpip output: ") + tcpipOutput,
         QStringLiteral("[Flow] tcpip done; waiting 5s before attempting IP resolution or "
                        "connect"),
         last}));
    QCOMPARE(c.observedUSBSerial, std::optional<QString>(serial));
    // The endpoint is taken (and kept) as soon as an address is found, before the connect.
    QCOMPARE(c.endpoint(), endpoint);
    QCOMPARE(savedEndpoint(rig), endpoint);

    if (connected) {
        // One refresh with the endpoint, three after the connect (the last 3 s later).
        QVERIFY(waitUntil([&] { return countLogged(c, kRefreshStarted) == 4; }));
        const DiscoveredDevice shown = c.discoveredDevices().value(0);
        QCOMPARE(c.discoveredDevices().size(), 1);
        QVERIFY(shown.serial == endpoint && shown.name == QStringLiteral("Android") &&
                shown.ip == endpoint && shown.transport == kTransportTCPIP);
        QCOMPARE(c.connectedTCPIPDevices(), c.discoveredDevices());
        QCOMPARE(c.selectedDevice(), std::optional<DiscoveredDevice>(shown));
        QCOMPARE(c.statusText(), c.text(TextKey::wirelessConnectionReady));
        return;
    }
    settle();
    QCOMPARE(countLogged(c, kRefreshStarted), endpoint.isEmpty() ? 0 : 1);
    QVERIFY(c.discoveredDevices().isEmpty() && c.connectedTCPIPDevices().isEmpty());
    QCOMPARE(c.selectedDevice(), std::nullopt);
    QCOMPARE(c.statusText(), c.text(TextKey::statusIdle));
    if (endpoint.isEmpty()) {
        QVERIFY(loggedInOrder(
            c, {QStringLiteral("[Debug] autoUSBSetupIfNeeded failed to get IP"), kNoAddress}));
    }
}

void ConnectFlowsTest::setupSelectsOnlyWhenNothingIsSelected() {
    RelayRig rig(kHangingScrcpy, phonesScript(), kFlowScale);
    ZovAdizuZadiRizov& c = *rig.c;
    const QString endpoint = QStringLiteral("192.168.1.23:5555");
    const QString done = QStringLiteral("[Debug] autoUSBSetupIfNeeded connected to ") + endpoint;
    // 192.168.1.23 is part of the text "192.168.1.230:5555", but that is another phone.
    const DiscoveredDevice neighbour =
        row(QStringLiteral("192.168.1.230:5555"), QStringLiteral("Galaxy"),
            QStringLiteral("192.168.1.230:5555"), kTransportTCPIP);
    const DiscoveredDevice samePhone =
        row(QStringLiteral("192.168.1.23:37001"), QStringLiteral("Pixel_7"),
            QStringLiteral("192.168.1.23:37001"), kTransportTCPIP);
    listRows(c, {neighbour, samePhone});
    c.autoUSBSetupIfNeeded(QStringLiteral("PIXEL"));
    QVERIFY(rig.waitForLog(done));
    QCOMPARE(c.selectedDevice(), std::optional<DiscoveredDevice>(samePhone));
    // No row had the new endpoint itself, so the connected step adds one to both lists.
    QVERIFY(waitUntil([&] { return countLogged(c, kRefreshStarted) == 4; }));
    const QVector<DiscoveredDevice> listed = c.discoveredDevices();
    QCOMPARE(listed.size(), 3);
    QCOMPARE(listed.last().serial, endpoint);
    QCOMPARE(c.connectedTCPIPDevices(), listed);

    // Again from another phone at the same address: the endpoint is listed and a device is
    // selected, so neither changes; nor does the observed serial.
    c.autoUSBSetupIfNeeded(QStringLiteral("TWO"));
    QVERIFY(waitUntil([&] { return countLogged(c, done) == 2; }));
    QVERIFY(waitUntil([&] { return countLogged(c, kRefreshStarted) == 8; }));
    QCOMPARE(c.discoveredDevices(), listed);
    QCOMPARE(c.connectedTCPIPDevices(), listed);
    QCOMPARE(c.selectedDevice(), std::optional<DiscoveredDevice>(samePhone));
    QCOMPARE(c.observedUSBSerial, std::optional<QString>(QStringLiteral("PIXEL")));
}

void ConnectFlowsTest::oneSetupPerSerialAtATime() {
    RelayRig rig(kHangingScrcpy, phonesScript(), kFlowScale);
    ZovAdizuZadiRizov& c = *rig.c;
    const QString done =
        QStringLiteral("[Debug] autoUSBSetupIfNeeded connected to 192.168.1.23:5555");
    const QString skipped =
        QStringLiteral("[Debug] Auto USB setup already running for serial TWO; skipped");

    // The USB check and the watcher may ask at the same moment; another phone is not held up.
    c.autoUSBSetupIfNeeded(QStringLiteral("TWO"));
    c.autoUSBSetupIfNeeded(QStringLiteral("TWO"));
    c.autoUSBSetupIfNeeded(QStringLiteral("EMPTY"));
    QVERIFY(rig.waitForLog(done));
    QVERIFY(rig.waitForLog(kNoAddress));
    QCOMPARE(countLogged(c, skipped), 1);
    const auto tcpipCalls = [&](const QString& serial) {
        return flowCalls(rig.resources).count(adb::tcpip(serial));
    };
    QCOMPARE(tcpipCalls(QStringLiteral("TWO")), 1);
    QCOMPARE(tcpipCalls(QStringLiteral("EMPTY")), 1);

    // Once a setup has ended, the phone can be set up again.
    QVERIFY(waitUntil([&] { return c.usbSetupsInProgress.isEmpty(); }));
    c.autoUSBSetupIfNeeded(QStringLiteral("TWO"));
    QVERIFY(waitUntil([&] { return countLogged(c, done) == 2; }));
    QCOMPARE(tcpipCalls(QStringLiteral("TWO")), 2);
    QCOMPARE(countLogged(c, skipped), 1);
    QCOMPARE(c.discoveredDevices().size(), 1);
}

void ConnectFlowsTest::flowStartsRelayOnWirelessRow() {
    RelayRig rig(kHangingScrcpy, phonesScript(), kFlowScale);
    ZovAdizuZadiRizov& c = *rig.c;
    const QString endpoint = QStringLiteral("192.168.1.20:5555");
    // A wireless row without an address is passed over.
    listRows(
        c, {row(QStringLiteral("10.0.0.1:5555"), QStringLiteral("Old"), QString(), kTransportTCPIP),
            row(endpoint, QStringLiteral("Pixel_7"), endpoint, kTransportTCPIP)});

    c.autoStartFullFlow();
    QVERIFY(waitUntil([&] { return rig.running(endpoint); }));
    QVERIFY(waitUntil([&] { return c.statusText() == c.text(TextKey::audioRelayActive); }));
    QVERIFY(c.selectedDevice());
    QCOMPARE(c.selectedDevice()->serial, endpoint);
    QCOMPARE(c.endpoint(), endpoint);
    QCOMPARE(savedEndpoint(rig), endpoint);
    // The selection line comes from the main thread, the connect's lines from the worker.
    const QString start = QStringLiteral("[AutoFlow] Starting autoStartFullFlow");
    QVERIFY(loggedInOrder(
        c,
        {start, QStringLiteral("[AutoFlow] Selected TCP/IP device: Pixel_7 @ 192.168.1.20:5555")}));
    QVERIFY(loggedInOrder(
        c, {start, QStringLiteral("[AutoFlow] adb connect output: connected to the phone\n"),
            QStringLiteral("[Debug] statusText changed to: 音声リレーがアクティブ")}));
    // The fake records its run once it runs, a moment after the start is reported.
    QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 1; }));
    QCOMPARE(rig.scrcpyRuns().first().mid(0, 2), (QStringList{QStringLiteral("-s"), endpoint}));
    QVERIFY(waitUntil([&] { return c.batteryTimer != nullptr; }));
    QVERIFY(!c.reconnectTimer);
}

void ConnectFlowsTest::flowEnds_data() {
    QTest::addColumn<QVector<DiscoveredDevice>>("rows");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("setupSerial");  // empty: no USB setup asked for
    QTest::newRow("no usable row")
        << QVector<DiscoveredDevice>{row(QStringLiteral("10.0.0.1:5555"), QStringLiteral("Old"),
                                         QString(), kTransportTCPIP)}
        << "[AutoFlow] No devices to connect"
        << "";
    QTest::newRow("connect refused with status 0")
        << QVector<DiscoveredDevice>{row(QStringLiteral("192.168.1.20:5555"),
                                         QStringLiteral("Pixel_7"),
                                         QStringLiteral("192.168.1.20:5555"), kTransportTCPIP)}
        << "[AutoFlow] Failed to connect to 192.168.1.20:5555"
        << "";
    QTest::newRow("unauthorised USB phone only")
        << QVector<DiscoveredDevice>{row(QStringLiteral("EMPTY"), QStringLiteral("EMPTY"),
                                         std::nullopt, kTransportUSB,
                                         QStringLiteral("unauthorized"))}
        << "[AutoFlow] No TCP/IP device found after USB setup"
        << "EMPTY";
}

void ConnectFlowsTest::flowEnds() {
    QFETCH(QVector<DiscoveredDevice>, rows);
    QFETCH(QString, status);
    QFETCH(QString, setupSerial);
    RelayRig rig(kHangingScrcpy, phonesScript(true), kFlowScale);
    ZovAdizuZadiRizov& c = *rig.c;
    listRows(c, rows);
    // Something the reconnect loop can look after, so that its start shows.
    c.enabledEndpoints.set({kOtherEndpoint});

    c.autoStartFullFlow();
    QVERIFY(rig.waitForLog(QStringLiteral("[AutoFlow] Reconnect timer started")));
    c.stopReconnectTimer();  // its passes would only load the machine from here on
    QVERIFY(loggedInOrder(c, {QStringLiteral("[AutoFlow] Starting autoStartFullFlow"),
                              QStringLiteral("[Debug] statusText changed to: ") + status,
                              QStringLiteral("[AutoFlow] Reconnect timer started")}));
    if (!setupSerial.isEmpty()) {
        QVERIFY(rig.waitForLog(kNoAddress, 20000));
        QVERIFY(loggedInOrder(
            c, {QStringLiteral("[AutoFlow] No TCP/IP device found; trying USB -> TCP/IP for "
                               "serial ") +
                    setupSerial,
                QStringLiteral("[Debug] Auto USB setup: attempting adb tcpip 5555 for serial ") +
                    setupSerial}));
    }
    QVERIFY(!rig.logged(QStringLiteral("[Debug] statusText changed to: 音声リレーがアクティブ")));
    QVERIFY(!rig.logged(QStringLiteral("[Debug] startRelay (usb-priority multi) called")));
    QVERIFY(rig.scrcpyRuns().isEmpty());
}

QTEST_GUILESS_MAIN(ConnectFlowsTest)
#include "tst_connect_flows.moc"
