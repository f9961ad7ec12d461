// The simulated phone against Debian's real adb: the real tool is the judge of whether the phone
// looks like a wireless Android device. The end-to-end tests of the application build on this.

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "support/real_adb.h"
#include "support/sim_phone_control.h"
#include "support/test_support.h"
#include "tools/adb_commands.h"

using namespace sonavel;
using namespace sonavel::test;
using sonavel::test::SimPhone;
using sonavel::test::SimPhoneConfig;

namespace {

// The Wi-Fi address probes the application sends, one shell argument each.
const QString kProbeWlan0 =
    QStringLiteral("ip -f inet addr show wlan0 | grep 'inet ' | awk '{print $2}' | cut -d/ -f1");
const QString kProbeWifi0 =
    QStringLiteral("ip -f inet addr show wifi0 | grep 'inet ' | awk '{print $2}' | cut -d/ -f1");
const QString kProbeRoute = QStringLiteral("ip route get 1 | awk '{print $7; exit}'");

// A running "adb track-devices", cut into its tables: four hexadecimal digits of length, then
// that many bytes of "serial\tstate\n" lines.
class TrackStream {
public:
    TrackStream() {
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { read(); });
        process_.start(kRealAdb, adb::trackDevices());
        process_.closeWriteChannel();
    }
    ~TrackStream() {
        process_.kill();
        process_.waitForFinished();
    }
    const QStringList& tables() const { return tables_; }
    bool malformed() const { return malformed_; }
    // Waits until a table newer than `since` satisfies the test.
    bool waitForTable(qsizetype since, const std::function<bool(const QString&)>& test) {
        return test::waitUntil(
            [&] {
                for (qsizetype i = since; i < tables_.size(); ++i) {
                    if (test(tables_[i])) {
                        return true;
                    }
                }
                return false;
            },
            kRealAdbLimitMs);
    }

private:
    void read() {
        buffer_ += process_.readAllStandardOutput();
        while (buffer_.size() >= 4) {
            bool ok = false;
            const int length = buffer_.left(4).toInt(&ok, 16);
            if (!ok) {
                malformed_ = true;
                buffer_.clear();
                return;
            }
            if (buffer_.size() < 4 + length) {
                return;
            }
            tables_.append(QString::fromUtf8(buffer_.mid(4, length)));
            buffer_.remove(0, 4 + length);
        }
    }

    QProcess process_;
    QByteArray buffer_;
    QStringList tables_;
    bool malformed_ = false;
};

}  // namespace

class SimPhoneTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void connectedPhoneIsListedAndAnswersShellCommands();
    void batteryFollowsTheTest();
    void phoneGoesAwayAndComesBack();
    void oldPhoneWithoutShellV2();

private:
    PrivateAdbServer server_{"15731"};
};

void SimPhoneTest::initTestCase() {
    if (!realAdbInstalled()) {
        QSKIP("Debian's adb (/usr/bin/adb) is not installed");
    }
    if (test::simPhoneBinary().isEmpty()) {
        QSKIP("the sim_phone program is unknown: set SONAVEL_SIM_PHONE to its path");
    }
    QVERIFY(server_.start());
}

void SimPhoneTest::cleanup() {
    // No phone of one test may linger in the server's list of the next.
    runRealAdb({QStringLiteral("disconnect")});
}

void SimPhoneTest::connectedPhoneIsListedAndAnswersShellCommands() {
    SimPhoneConfig config;
    config.product = QStringLiteral("sunfish_eea");
    config.model = QStringLiteral("Pixel 4a");
    config.device = QStringLiteral("sunfish");
    config.serial = QStringLiteral("0A1B2C3D4E");
    config.ip = QStringLiteral("10.20.30.40");
    SimPhone phone(config);
    QString error;
    QVERIFY2(phone.start(&error), qPrintable(error));
    const QString endpoint = phone.endpoint();

    const RealAdbRun connected = runRealAdb(adb::connect(endpoint));
    QCOMPARE(connected.status, 0);
    QCOMPARE(connected.out.trimmed(), QStringLiteral("connected to ") + endpoint);
    QVERIFY(waitForRealAdbListing(endpoint, QStringLiteral("device")));
    const QRegularExpression row(
        QStringLiteral("^%1\\s+device product:sunfish_eea model:Pixel_4a device:sunfish "
                       "transport_id:\\d+$")
            .arg(QRegularExpression::escape(endpoint)));
    QVERIFY2(row.match(realAdbListingLine(endpoint)).hasMatch(),
             qPrintable(realAdbListingLine(endpoint)));

    const QList<std::pair<QString, QString>> properties = {
        {QStringLiteral("ro.product.model"), QStringLiteral("Pixel 4a\n")},
        {QStringLiteral("ro.product.device"), QStringLiteral("sunfish\n")},
        {QStringLiteral("ro.serialno"), QStringLiteral("0A1B2C3D4E\n")},
    };
    for (const auto& [property, expected] : properties) {
        const RealAdbRun answer = runRealAdb(adb::getprop(endpoint, property));
        QCOMPARE(answer.status, 0);
        QCOMPARE(answer.out, expected);
    }

    for (const QString& probe : {kProbeWlan0, kProbeRoute}) {
        const RealAdbRun answer = runRealAdb(adb::shell(endpoint, probe));
        QCOMPARE(answer.status, 0);
        QCOMPARE(answer.out, QStringLiteral("10.20.30.40\n"));
    }
    // The phone's Wi-Fi is wlan0: the wifi0 probe finds nothing, as on a real phone.
    const RealAdbRun wifi0 = runRealAdb(adb::shell(endpoint, kProbeWifi0));
    QCOMPARE(wifi0.status, 0);
    QCOMPARE(wifi0.out, QString());
    QVERIFY(wifi0.err.contains(QStringLiteral("wifi0")));

    // shell_v2 carries stderr apart and the exit status through adb.
    const RealAdbRun unknown = runRealAdb(adb::shell(endpoint, QStringLiteral("pm list packages")));
    QCOMPARE(unknown.status, 1);
    QCOMPARE(unknown.out, QString());
    QVERIFY2(unknown.err.contains(QStringLiteral("pm list packages")), qPrintable(unknown.err));

    const RealAdbRun tcpip = runRealAdb(adb::tcpip(endpoint));
    QCOMPARE(tcpip.status, 0);
    QCOMPARE(tcpip.out, QStringLiteral("restarting in TCP mode port: 5555\n"));
    // The phone is still there for more.
    QCOMPARE(runRealAdb(adb::getprop(endpoint, QStringLiteral("ro.product.model"))).out,
             QStringLiteral("Pixel 4a\n"));
}

void SimPhoneTest::batteryFollowsTheTest() {
    SimPhoneConfig config;
    config.batteryLevel = 64;
    config.charging = QStringLiteral("none");
    SimPhone phone(config);
    QString error;
    QVERIFY2(phone.start(&error), qPrintable(error));
    const QString endpoint = phone.endpoint();
    QCOMPARE(runRealAdb(adb::connect(endpoint)).status, 0);
    QVERIFY(waitForRealAdbListing(endpoint, QStringLiteral("device")));

    struct Reading {
        int level;
        QString charging;
        QStringList expectedLines;
    };
    const QList<Reading> readings = {
        {64,
         QStringLiteral("none"),
         {"  level: 64", "  status: 3", "  AC powered: false", "  USB powered: false",
          "  Wireless powered: false"}},
        {2, QStringLiteral("none"), {"  level: 2", "  status: 3", "  AC powered: false"}},
        {50, QStringLiteral("ac"), {"  level: 50", "  status: 2", "  AC powered: true"}},
        // Full on the charger reads "Full" (5): only the powered line says it charges.
        {100, QStringLiteral("usb"), {"  level: 100", "  status: 5", "  USB powered: true"}},
        {7, QStringLiteral("wireless"), {"  level: 7", "  status: 2", "  Wireless powered: true"}},
    };
    bool first = true;
    for (const Reading& reading : readings) {
        if (!first) {
            QVERIFY(phone.setBattery(reading.level, reading.charging));
        }
        first = false;
        const RealAdbRun dump = runRealAdb(adb::dumpsysBattery(endpoint));
        QCOMPARE(dump.status, 0);
        const QStringList lines = dump.out.split(QLatin1Char('\n'));
        QCOMPARE(lines.first(), QStringLiteral("Current Battery Service state:"));
        for (const QString& expected : reading.expectedLines) {
            QVERIFY2(lines.contains(expected), qPrintable(expected + " missing in\n" + dump.out));
        }
    }
}

void SimPhoneTest::phoneGoesAwayAndComesBack() {
    TrackStream track;
    QVERIFY(track.waitForTable(0, [](const QString&) { return true; }));
    SimPhone phone;
    QString error;
    QVERIFY2(phone.start(&error), qPrintable(error));
    const QString endpoint = phone.endpoint();
    auto online = [&](const QString& table) {
        return table.split(QLatin1Char('\n')).contains(endpoint + QStringLiteral("\tdevice"));
    };
    auto absent = [&](const QString& table) { return !table.contains(endpoint); };

    for (int round = 1; round <= 2; ++round) {
        const qsizetype seen = track.tables().size();
        const RealAdbRun connected = runRealAdb(adb::connect(endpoint));
        QCOMPARE(connected.out.trimmed(), QStringLiteral("connected to ") + endpoint);
        QVERIFY(waitForRealAdbListing(endpoint, QStringLiteral("device")));
        QVERIFY2(track.waitForTable(seen, online),
                 qPrintable(track.tables().join(QLatin1Char('|'))));
        QCOMPARE(runRealAdb(adb::getprop(endpoint, QStringLiteral("ro.product.model"))).out,
                 QStringLiteral("Sim Phone\n"));

        // Gone without a goodbye: the server keeps it, offline, until told to let go.
        phone.stop();
        QVERIFY(waitForRealAdbListing(endpoint, QStringLiteral("offline")));
        const qsizetype beforeDisconnect = track.tables().size();
        QCOMPARE(runRealAdb({QStringLiteral("disconnect"), endpoint}).out.trimmed(),
                 QStringLiteral("disconnected ") + endpoint);
        QVERIFY(waitForRealAdbListing(endpoint, QString()));
        QVERIFY2(track.waitForTable(beforeDisconnect, absent),
                 qPrintable(track.tables().join(QLatin1Char('|'))));

        if (round == 1) {
            QVERIFY2(phone.start(&error), qPrintable(error));
        }
    }
    QVERIFY(!track.malformed());
}

void SimPhoneTest::oldPhoneWithoutShellV2() {
    SimPhoneConfig config;
    config.shellV2 = false;
    config.model = QStringLiteral("Galaxy S5");
    config.ip = QStringLiteral("192.168.0.77");
    config.wifiInterface = QStringLiteral("wifi0");
    SimPhone phone(config);
    QString error;
    QVERIFY2(phone.start(&error), qPrintable(error));
    const QString endpoint = phone.endpoint();
    QCOMPARE(runRealAdb(adb::connect(endpoint)).status, 0);
    QVERIFY(waitForRealAdbListing(endpoint, QStringLiteral("device")));

    // Its shell runs on a pty: lines end in "\r\n", stderr is merged, and adb exits 0 regardless.
    QCOMPARE(runRealAdb(adb::getprop(endpoint, QStringLiteral("ro.product.model"))).out,
             QStringLiteral("Galaxy S5\r\n"));
    const RealAdbRun wlan0 = runRealAdb(adb::shell(endpoint, kProbeWlan0));
    QCOMPARE(wlan0.status, 0);
    QCOMPARE(wlan0.out, QStringLiteral("Device \"wlan0\" does not exist.\r\n"));
    QCOMPARE(runRealAdb(adb::shell(endpoint, kProbeWifi0)).out, QStringLiteral("192.168.0.77\r\n"));
    const RealAdbRun unknown = runRealAdb(adb::shell(endpoint, QStringLiteral("pm list packages")));
    QCOMPARE(unknown.status, 0);
    QVERIFY2(unknown.out.contains(QStringLiteral("pm list packages")), qPrintable(unknown.out));
    const RealAdbRun dump = runRealAdb(adb::dumpsysBattery(endpoint));
    QVERIFY(dump.out.contains(QStringLiteral("\r\n  level: 80\r\n")));
}

QTEST_GUILESS_MAIN(SimPhoneTest)
#include "tst_sim_phone.moc"
