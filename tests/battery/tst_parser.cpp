#include <QTest>
#include <limits>

#include "battery/battery_dump_parser.h"
#include "battery/battery_targets.h"
#include "battery_fixtures.h"

using namespace sonavel;

class BatteryParserTest : public QObject {
    Q_OBJECT
private slots:
    void capturedDumps_data();
    void capturedDumps();
    void chargingEvidence_data();
    void chargingEvidence();
    void levelValues_data();
    void levelValues();
    void lineShapes();
    void levelOnlyReadsTheFirstValidLine();
    void megabyteDumpWithoutLevel();
    void clampingKeepsHugeLevelsHuge();
    void selectedIdentifier();
    void pollTargetsTakeTheFirstNonEmptySource();
};

void BatteryParserTest::capturedDumps_data() {
    QTest::addColumn<QString>("dump");
    QTest::addColumn<qint64>("level");
    QTest::addColumn<bool>("charging");
    QTest::newRow("usb charging") << test::kDumpUSBCharging << qint64(57) << true;
    QTest::newRow("ac charging") << test::kDumpACCharging << qint64(85) << true;
    QTest::newRow("wireless charging") << test::kDumpWirelessCharging << qint64(40) << true;
    QTest::newRow("full on ac") << test::kDumpFull << qint64(100) << true;
    QTest::newRow("discharging") << test::kDumpDischargingLow << qint64(1) << false;
    QString crlf = test::kDumpDischargingLow;
    crlf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    QTest::newRow("windows line ends") << crlf << qint64(1) << false;
    QTest::newRow("adb noise first")
        << QStringLiteral(
               "* daemon not running; starting now at tcp:5037\n* daemon started "
               "successfully\n") +
               test::kDumpUSBCharging
        << qint64(57) << true;
}

void BatteryParserTest::capturedDumps() {
    QFETCH(QString, dump);
    QFETCH(qint64, level);
    QFETCH(bool, charging);
    const BatteryDump parsed = parseBatteryDump(dump);
    QCOMPARE(parsed.level, std::optional<qint64>(level));
    QCOMPARE(parsed.charging, charging);
    QCOMPARE(parseFirstBatteryLevel(dump), std::optional<qint64>(level));
}

void BatteryParserTest::chargingEvidence_data() {
    QTest::addColumn<QString>("dump");
    QTest::addColumn<bool>("charging");
    QTest::newRow("status 2 alone") << QStringLiteral("level: 85\nstatus: 2\n") << true;
    QTest::newRow("status 3, every source false")
        << QStringLiteral(
               "status: 3\nAC powered: false\nUSB powered: false\n"
               "Wireless powered: false\nlevel: 50\n")
        << false;
    QTest::newRow("usb true beats status 3")
        << QStringLiteral("status: 3\nUSB powered: true\nlevel: 50\n") << true;
    QTest::newRow("wireless true") << QStringLiteral("Wireless powered: true\n") << true;
    QTest::newRow("status in words") << QStringLiteral("Status: Charging\n") << true;
    // Both contain the word "charging" but say the opposite.
    QTest::newRow("status discharging") << QStringLiteral("status: Discharging\n") << false;
    QTest::newRow("status not charging") << QStringLiteral("status: Not charging\n") << false;
    QTest::newRow("status 20 is not 2") << QStringLiteral("status: 20\n") << false;
    // Lines that only look related.
    QTest::newRow("max charging current")
        << QStringLiteral("Max charging current: 500000\nCharging state: 1\n") << false;
    QTest::newRow("dock powered") << QStringLiteral("Dock powered: true\n") << false;
}

void BatteryParserTest::chargingEvidence() {
    QFETCH(QString, dump);
    QFETCH(bool, charging);
    QCOMPARE(parseBatteryDump(dump).charging, charging);
}

void BatteryParserTest::levelValues_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<std::optional<qint64>>("level");
    const std::optional<qint64> none;
    QTest::newRow("plain") << QStringLiteral("  level: 42") << std::optional<qint64>(42);
    QTest::newRow("tab and spaces") << QStringLiteral("level:\t 7 \t") << std::optional<qint64>(7);
    QTest::newRow("minus one") << QStringLiteral("level: -1") << std::optional<qint64>(-1);
    QTest::newRow("plus sign") << QStringLiteral("level: +12") << std::optional<qint64>(12);
    QTest::newRow("mixed case key") << QStringLiteral("LeVeL: 33") << std::optional<qint64>(33);
    QTest::newRow("64-bit maximum") << QStringLiteral("level: 9223372036854775807")
                                    << std::optional<qint64>(std::numeric_limits<qint64>::max());
    QTest::newRow("64-bit minimum") << QStringLiteral("level: -9223372036854775808")
                                    << std::optional<qint64>(std::numeric_limits<qint64>::min());
    QTest::newRow("second piece only")
        << QStringLiteral("level: 12:34") << std::optional<qint64>(12);
    QTest::newRow("letters") << QStringLiteral("level: abc") << none;
    QTest::newRow("digits then letters") << QStringLiteral("level: 12%") << none;
    QTest::newRow("nothing") << QStringLiteral("level:") << none;
    QTest::newRow("blank") << QStringLiteral("level:   ") << none;
    QTest::newRow("sign only") << QStringLiteral("level: -") << none;
    QTest::newRow("beyond 64 bits") << QStringLiteral("level: 9223372036854775808") << none;
    QTest::newRow("twenty digits") << QStringLiteral("level: 99999999999999999999") << none;
    QTest::newRow("inner space") << QStringLiteral("level: 4 2") << none;
    QTest::newRow("arabic-indic digits") << QStringLiteral("level: \u0664\u0662") << none;
    QTest::newRow("decimal point") << QStringLiteral("level: 42.0") << none;
}

void BatteryParserTest::levelValues() {
    QFETCH(QString, line);
    QFETCH(std::optional<qint64>, level);
    QCOMPARE(parseBatteryDump(line).level, level);
    QCOMPARE(parseFirstBatteryLevel(line), level);
}

void BatteryParserTest::lineShapes() {
    // The last valid level wins; an invalid one in between does not clear it.
    QCOMPARE(parseBatteryDump(QStringLiteral("level: 10\nlevel: 20\nlevel: oops\n")).level,
             std::optional<qint64>(20));
    // Only lines that start with the key count.
    QCOMPARE(parseBatteryDump(QStringLiteral("battery level: 50\nscale: 100\n")).level,
             std::nullopt);
    // No final line feed; empty output.
    QCOMPARE(parseBatteryDump(QStringLiteral("level: 64")).level, std::optional<qint64>(64));
    const BatteryDump empty = parseBatteryDump(QString());
    QCOMPARE(empty.level, std::nullopt);
    QCOMPARE(empty.charging, false);
    // The error adb prints for a device that went away.
    QCOMPARE(parseBatteryDump(QStringLiteral("error: device '10.0.0.9:5555' not found\n")).level,
             std::nullopt);
}

void BatteryParserTest::levelOnlyReadsTheFirstValidLine() {
    const QString dump = QStringLiteral("level: none\nlevel: 30\nlevel: 90\n");
    QCOMPARE(parseFirstBatteryLevel(dump), std::optional<qint64>(30));
    QCOMPARE(parseBatteryDump(dump).level, std::optional<qint64>(90));
}

void BatteryParserTest::megabyteDumpWithoutLevel() {
    QString dump;
    dump.reserve(1100000);
    while (dump.size() < 1000000) {
        dump += QStringLiteral("  Max charging current: 500000\r\n");
    }
    QCOMPARE(parseBatteryDump(dump).level, std::nullopt);
    dump += QStringLiteral("  level: 77");
    QCOMPARE(parseBatteryDump(dump).level, std::optional<qint64>(77));
    // One megabyte on a single line.
    QCOMPARE(parseBatteryDump(QStringLiteral("level: ") + QString(1000000, QLatin1Char('9'))).level,
             std::nullopt);
}

void BatteryParserTest::clampingKeepsHugeLevelsHuge() {
    QCOMPARE(clampBatteryLevel(57), 57);
    QCOMPARE(clampBatteryLevel(-1), -1);
    // 2^32 + 2 would truncate to 2, a "low battery".
    QCOMPARE(clampBatteryLevel(4294967298LL), std::numeric_limits<int>::max());
    QCOMPARE(clampBatteryLevel(std::numeric_limits<qint64>::min()),
             std::numeric_limits<int>::min());
}

void BatteryParserTest::selectedIdentifier() {
    DiscoveredDevice usb;
    usb.serial = QStringLiteral("R58M123");
    usb.ip = QStringLiteral("192.168.1.23:5555");
    usb.transport = kTransportUSB;
    QCOMPARE(selectedDeviceIdentifier(usb), QStringLiteral("R58M123"));

    DiscoveredDevice wireless = usb;
    wireless.transport = kTransportTCPIP;
    QCOMPARE(selectedDeviceIdentifier(wireless), QStringLiteral("192.168.1.23:5555"));
    wireless.ip.reset();
    QCOMPARE(selectedDeviceIdentifier(wireless), QStringLiteral("R58M123"));
}

void BatteryParserTest::pollTargetsTakeTheFirstNonEmptySource() {
    DiscoveredDevice withIP;
    withIP.serial = QStringLiteral("192.168.1.5:5555");
    withIP.ip = QStringLiteral("192.168.1.5:5555");
    DiscoveredDevice withoutIP;
    withoutIP.serial = QStringLiteral("192.168.1.6:5555");
    DiscoveredDevice emptyIP = withoutIP;
    emptyIP.ip = QString();
    DiscoveredDevice second = withIP;
    second.ip = QStringLiteral("192.168.1.2:5555");
    const QVector<DiscoveredDevice> rows{withIP, withoutIP, emptyIP, second};
    const QSet<QString> enabled{QStringLiteral("b:5555"), QStringLiteral("a:5555")};

    QCOMPARE(batteryPollTargets({QStringLiteral("R58M123")}, enabled, rows),
             QStringList{QStringLiteral("R58M123")});
    QCOMPARE(batteryPollTargets({}, enabled, rows),
             (QStringList{QStringLiteral("a:5555"), QStringLiteral("b:5555")}));
    QCOMPARE(batteryPollTargets({}, {}, rows),
             (QStringList{QStringLiteral("192.168.1.5:5555"), QStringLiteral("192.168.1.2:5555")}));
    QCOMPARE(batteryPollTargets({}, {}, {withoutIP}), QStringList());
}

QTEST_GUILESS_MAIN(BatteryParserTest)
#include "tst_parser.moc"
