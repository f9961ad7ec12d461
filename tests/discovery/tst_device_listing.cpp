#include <QTest>

#include "connect/ip_probe.h"
#include "discovery/device_listing.h"

using namespace sonavel;

namespace {

// Lines as Debian's adb prints them for "devices -l".
const QString kHeader = QStringLiteral("List of devices attached");
const QString kUSBPixel = QStringLiteral(
    "0123456789ABCDEF       device usb:1-1 product:panther model:Pixel_7 device:panther "
    "transport_id:2");
const QString kWifiPixel = QStringLiteral(
    "192.168.1.20:5555      device product:panther model:Pixel_7 device:panther transport_id:3");
const QString kEmulator =
    QStringLiteral("emulator-5554 device product:sdk model:sdk device:emu transport_id:1");
const QString kTLS = QStringLiteral(
    "adb-ABC123-xyz._adb-tls-connect._tcp device product:panther model:Pixel_7 transport_id:4");

DiscoveredDevice row(const QString& serial, const QString& name, const QString& transport,
                     std::optional<QString> ip = std::nullopt) {
    DiscoveredDevice d;
    d.serial = serial;
    d.name = name;
    d.state = QStringLiteral("device");
    d.transport = transport;
    d.ip = std::move(ip);
    return d;
}

}  // namespace

class DeviceListingTest : public QObject {
    Q_OBJECT
private slots:
    void parsesRealListingLines();
    void dropsWhatCannotBeUsed();
    void hostileInput();
    void pairsUSBAndWirelessRowsOfOnePhone();
    void keepsWirelessRowsInUse();
    void mergeKeepsRowsNoLongerListed();
    void rowKey();
    void findsRowsBySerialThenIP();
    void findsFirstUSBDeviceInAnyState();
    void ipProbe();
};

void DeviceListingTest::parsesRealListingLines() {
    const DeviceListing listing =
        parseDeviceListing(kHeader + QLatin1Char('\n') + kUSBPixel + QLatin1Char('\n') +
                           kWifiPixel + QStringLiteral("\n\n"));
    QCOMPARE(listing.rows.size(), 2);
    const DiscoveredDevice& usb = listing.rows[0];
    QCOMPARE(usb.serial, QStringLiteral("0123456789ABCDEF"));
    QCOMPARE(usb.name, QStringLiteral("Pixel_7"));
    QCOMPARE(usb.state, QStringLiteral("device"));
    QCOMPARE(usb.ip, std::nullopt);
    QCOMPARE(usb.transport, kTransportUSB);
    const DiscoveredDevice& wifi = listing.rows[1];
    QCOMPARE(wifi.serial, QStringLiteral("192.168.1.20:5555"));
    QCOMPARE(wifi.ip, std::optional<QString>(QStringLiteral("192.168.1.20:5555")));
    QCOMPARE(wifi.transport, kTransportTCPIP);
    // Every parse builds fresh rows.
    QVERIFY(parseDeviceListing(kUSBPixel).rows[0].id != parseDeviceListing(kUSBPixel).rows[0].id);
    // "model:" as the last piece leaves the serial as the name; no model field does too.
    QCOMPARE(parseDeviceListing(QStringLiteral("SER1 device usb:1-2 model:")).rows[0].name,
             QStringLiteral("SER1"));
    QCOMPARE(parseDeviceListing(QStringLiteral("SER1\tDEVICE usb:1-2")).rows[0].name,
             QStringLiteral("SER1"));
    QCOMPARE(parseDeviceListing(QStringLiteral("SER1\tDEVICE usb:1-2")).rows[0].state,
             QStringLiteral("device"));
}

void DeviceListingTest::dropsWhatCannotBeUsed() {
    const QString text =
        QStringList{
            kHeader,
            kEmulator,
            kTLS,
            QStringLiteral("R58M12345 unauthorized usb:1-1 transport_id:5"),
            QStringLiteral("R58M12346 offline usb:1-3 transport_id:6"),
            QStringLiteral("192.168.1.30:5555 offline product:x model:y transport_id:7"),
            QStringLiteral("NOUSBFIELD device product:x model:y transport_id:8"),
        }
            .join(QLatin1Char('\n'));
    const DeviceListing listing = parseDeviceListing(text);
    QVERIFY(listing.rows.isEmpty());
    // Only the TLS service row is reported, as listed.
    QCOMPARE(listing.ignoredTLSSerials,
             QStringList{QStringLiteral("adb-ABC123-xyz._adb-tls-connect._tcp")});
}

void DeviceListingTest::hostileInput() {
    QVERIFY(parseDeviceListing(QString()).rows.isEmpty());
    QVERIFY(parseDeviceListing(QStringLiteral("* daemon not running; starting now at tcp:5037\n"
                                              "* daemon started successfully\n"))
                .rows.isEmpty());
    // CRLF line ends and no final newline.
    const DeviceListing crlf = parseDeviceListing(kHeader + QStringLiteral("\r\n") + kUSBPixel +
                                                  QStringLiteral("\r\n") + kWifiPixel);
    QCOMPARE(crlf.rows.size(), 2);
    QCOMPARE(crlf.rows[0].serial, QStringLiteral("0123456789ABCDEF"));
    QCOMPARE(crlf.rows[1].name, QStringLiteral("Pixel_7"));
    QVERIFY(parseDeviceListing(QStringLiteral("lonely\n\t\t\n   \n")).rows.isEmpty());
    const QString huge(1 << 20, QLatin1Char('x'));
    QCOMPARE(parseDeviceListing(huge + QLatin1Char('\n') + kUSBPixel).rows.size(), 1);
}

void DeviceListingTest::pairsUSBAndWirelessRowsOfOnePhone() {
    const QVector<DiscoveredDevice> parsed =
        parseDeviceListing(kUSBPixel + QLatin1Char('\n') + kWifiPixel).rows;
    const QVector<DiscoveredDevice> visible = buildVisibleRows(parsed, {});
    QCOMPARE(visible.size(), 1);
    QCOMPARE(visible[0].serial, QStringLiteral("0123456789ABCDEF"));
    QCOMPARE(visible[0].ip, std::optional<QString>(QStringLiteral("192.168.1.20:5555")));
    QCOMPARE(visible[0].transport, kTransportUSB);
    QVERIFY(visible[0].id != parsed[0].id);

    // Two phones of one model: each wireless row is taken once; different models stay apart.
    const QVector<DiscoveredDevice> rows = {
        row("A1", "Pixel_7", kTransportUSB),
        row("B2", "Pixel_7", kTransportUSB),
        row("10.0.0.1:5555", "Pixel_7", kTransportTCPIP, "10.0.0.1:5555"),
        row("10.0.0.2:5555", "Pixel_7", kTransportTCPIP, "10.0.0.2:5555"),
        row("10.0.0.3:5555", "SM_G991", kTransportTCPIP, "10.0.0.3:5555"),
        row("10.0.0.4:5555", "SM_G991", kTransportTCPIP, "10.0.0.4:5555"),
    };
    const QVector<DiscoveredDevice> out = buildVisibleRows(rows, {});
    QCOMPARE(out.size(), 3);
    QCOMPARE(out[0].ip, std::optional<QString>("10.0.0.1:5555"));
    QCOMPARE(out[1].ip, std::optional<QString>("10.0.0.2:5555"));
    // The second SM_G991 endpoint has the key of the first and is not shown twice.
    QCOMPARE(out[2].serial, QStringLiteral("10.0.0.3:5555"));

    // Without model names the key falls back to the endpoint: nothing pairs.
    const QVector<DiscoveredDevice> bare =
        buildVisibleRows({row("A1", "A1", kTransportUSB),
                          row("10.0.0.9:5555", "10.0.0.9:5555", kTransportTCPIP, "10.0.0.9:5555")},
                         {});
    QCOMPARE(bare.size(), 2);
    QCOMPARE(bare[0].ip, std::nullopt);
}

void DeviceListingTest::keepsWirelessRowsInUse() {
    RowsInUse inUse;
    inUse.previousRows = {
        row("10.0.0.5:5555", "Galaxy", kTransportTCPIP, "10.0.0.5:5555"),    // enabled
        row("10.0.0.6:5555", "Moto", kTransportTCPIP, "10.0.0.6:5555"),      // relaying
        row("10.0.0.7:5555", "Nokia", kTransportTCPIP, "10.0.0.7:5555"),     // battery read
        row("10.0.0.8:5555", "Sony", kTransportTCPIP, "10.0.0.8:5555"),      // not in use
        row("0123456789ABCDEF", "Pixel_7", kTransportUSB, "10.0.0.5:5555"),  // same ip, listed
    };
    inUse.enabledEndpoints = {QStringLiteral("10.0.0.5:5555")};
    inUse.runningEndpoints = {QStringLiteral("10.0.0.6:5555")};
    inUse.batteryEndpoints = {QStringLiteral("10.0.0.7:5555")};
    const QVector<DiscoveredDevice> out =
        buildVisibleRows(parseDeviceListing(kUSBPixel).rows, inUse);
    QStringList serials;
    for (const auto& r : out) {
        serials << r.serial;
    }
    QCOMPARE(serials,
             (QStringList{"0123456789ABCDEF", "10.0.0.5:5555", "10.0.0.6:5555", "10.0.0.7:5555"}));
}

void DeviceListingTest::mergeKeepsRowsNoLongerListed() {
    const QVector<DiscoveredDevice> visible = {row("A1", "Pixel_7", kTransportUSB)};
    const QVector<DiscoveredDevice> previous = {
        row("A1", "Other", kTransportUSB),                                  // same serial
        row("10.0.0.1:5555", "Pixel_7", kTransportTCPIP, "10.0.0.1:5555"),  // same name
        row("10.0.0.2:5555", "Moto", kTransportTCPIP, "10.0.0.2:5555"),     // kept
        row("10.0.0.3:5555", "Moto", kTransportTCPIP, "10.0.0.3:5555"),     // name of a kept row
        row("B2", "", kTransportUSB),  // no ip, like the visible row: "absent equals absent"
    };
    const QVector<DiscoveredDevice> merged = mergeWithPreviousRows(visible, previous);
    QCOMPARE(merged.size(), 2);
    QCOMPARE(merged[0].serial, QStringLiteral("A1"));
    QCOMPARE(merged[0].name, QStringLiteral("Pixel_7"));
    QCOMPARE(merged[1].serial, QStringLiteral("10.0.0.2:5555"));
    QCOMPARE(mergeWithPreviousRows({}, previous).size(), 3);
}

void DeviceListingTest::rowKey() {
    QCOMPARE(deviceRowKey(row("A1", " Pixel_7\n", kTransportUSB)), QStringLiteral("pixel_7"));
    QCOMPARE(deviceRowKey(row("A1", "a1", kTransportUSB, "10.0.0.1:5555")),
             QStringLiteral("10.0.0.1:5555"));
    QCOMPARE(deviceRowKey(row("AbC", "", kTransportUSB, QString())), QStringLiteral("abc"));
}

void DeviceListingTest::findsRowsBySerialThenIP() {
    const QVector<DiscoveredDevice> rows = {
        row("0123456789ABCDEF", "Pixel_7", kTransportUSB, "192.168.1.23:5555"),
        row("192.168.1.23:5555", "Pixel_7", kTransportTCPIP, "192.168.1.23:5555"),
    };
    QCOMPARE(findDeviceRow(rows, "192.168.1.23:5555")->transport, kTransportTCPIP);
    QCOMPARE(findDeviceRow({rows[0]}, "192.168.1.23:5555")->serial, "0123456789ABCDEF");
    QCOMPARE(findDeviceRow(rows, "0123456789ABCDEF")->id, rows[0].id);
    QCOMPARE(findDeviceRow(rows, "0123456789abcdef"), std::nullopt);
    QCOMPARE(findDeviceRow(rows, " 0123456789ABCDEF"), std::nullopt);
}

void DeviceListingTest::findsFirstUSBDeviceInAnyState() {
    const USBPresence ready = findUSBDevice(
        kHeader +
        QStringLiteral("\nR58M12345 device usb:1-1 product:a model:b device:c transport_id:1\n"));
    QVERIFY(ready.found);
    QCOMPARE(ready.serial, QStringLiteral("R58M12345"));
    QCOMPARE(ready.state, QStringLiteral("device"));
    const USBPresence prompt = findUSBDevice(
        kWifiPixel + QStringLiteral("\nR58M12345 UNAUTHORIZED usb:1-1 transport_id:1"));
    QCOMPARE(prompt.serial, QStringLiteral("R58M12345"));
    QCOMPARE(prompt.state, QStringLiteral("unauthorized"));
    QVERIFY(!findUSBDevice(kWifiPixel).found);
    QVERIFY(!findUSBDevice(kEmulator).found);
    QVERIFY(!findUSBDevice(QStringLiteral("adb-X usb:1-1 device")).found);
    QVERIFY(!findUSBDevice(QString()).found);
    QCOMPARE(findUSBDevice(QString()).state, QString());
}

void DeviceListingTest::ipProbe() {
    QCOMPARE(ipProbeCommands().size(), 3);
    QCOMPARE(ipProbeCommands()[0],
             QStringLiteral(
                 "ip -f inet addr show wlan0 | grep 'inet ' | awk '{print $2}' | cut -d/ -f1"));
    QCOMPARE(ipProbeCommands()[1],
             QStringLiteral(
                 "ip -f inet addr show wifi0 | grep 'inet ' | awk '{print $2}' | cut -d/ -f1"));
    QCOMPARE(ipProbeCommands()[2], QStringLiteral("ip route get 1 | awk '{print $7; exit}'"));
    QVERIFY(isIPv4Text("192.168.1.23"));
    QVERIFY(isIPv4Text("999.1.1.1"));
    QVERIFY(!isIPv4Text("192.168.1.23\n"));
    QVERIFY(!isIPv4Text("192.168.1"));
    QVERIFY(!isIPv4Text("1234.1.1.1"));
    QVERIFY(!isIPv4Text("Device \"wlan0\" does not exist."));
    QVERIFY(!isIPv4Text(""));
}

QTEST_GUILESS_MAIN(DeviceListingTest)
#include "tst_device_listing.moc"
