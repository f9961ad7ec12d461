// The simulated phone against Debian's real adb: the real tool is the judge of whether the phone
// looks like a wireless Android device. The end-to-end tests of the application build on this and
// cover its listing, battery, leaving and returning through the application itself; what is here
// is what they do not reach (the address probes, tcpip, a phone without shell_v2).

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

}  // namespace

class SimPhoneTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void connectedPhoneIsListedAndAnswersShellCommands();
    void oldPhoneWithoutShellV2();

private:
    PrivateAdbServer server_;
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
