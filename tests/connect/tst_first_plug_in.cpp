// A phone plugged in for the first time, followed from the device-tracking stream to a relay
// that recovers on its own, over fake tools. Three named pipes let the test decide when the phone
// appears, when adb's connect answers and when scrcpy ends, so that the outcome never depends on
// how fast the fake tools start.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include "app/controller.h"
#include "connect/connect_rig.h"
#include "connect/ip_probe.h"
#include "tools/adb_commands.h"

using namespace sonavel;
using namespace sonavel::test;
using namespace sonavel::test::connect;

namespace {

const QString kSerial = QStringLiteral("R58M12345");
const QString kEndpoint = QStringLiteral("192.168.1.23:5555");
const QString kUsbLine = QStringLiteral(
    "R58M12345              device usb:1-1 product:panther model:Pixel_7 device:panther "
    "transport_id:2\n");
const QString kWirelessLine = QStringLiteral(
    "192.168.1.23:5555      device product:panther model:Pixel_7 device:panther "
    "transport_id:3\n");

// Named pipes that a fake tool reads with "outfile": the tool waits until the test writes.
class Gates {
public:
    explicit Gates(const QStringList& names) {
        for (const QString& name : names) {
            const QString path = dir_.filePath(name);
            mkfifo(QFile::encodeName(path).constData(), 0600);
            paths_ << path;
        }
    }
    // Lets go of whatever still waits, so that no fake tool outlives the test.
    void releaseAll() const {
        for (const QString& path : paths_) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    QString path(const QString& name) const { return dir_.filePath(name); }
    // Blocks until the tool has opened the pipe, hands it the text and ends its input.
    void open(const QString& name, const QByteArray& text = QByteArray()) const {
        const int fd = ::open(QFile::encodeName(path(name)).constData(), O_WRONLY);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, text.constData(), static_cast<size_t>(text.size())),
                 static_cast<ssize_t>(text.size()));
        ::close(fd);
    }

private:
    QTemporaryDir dir_;
    QStringList paths_;
};

void writeListing(const QString& path, const QString& rows) {
    QSaveFile file(path);  // replaced whole: a listing is never read half-written
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write((QStringLiteral("List of devices attached\n") + rows + QLatin1Char('\n')).toUtf8());
    QVERIFY(file.commit());
}

// One device table as adb's track-devices writes it: four hexadecimal digits of length first.
QByteArray frame(const QString& table) {
    const QByteArray bytes = table.toUtf8();
    return QByteArray::number(bytes.size(), 16).rightJustified(4, '0') + bytes;
}

}  // namespace

class FirstPlugInTest : public QObject {
    Q_OBJECT
private slots:
    void phoneBecomesWirelessRelayAndRecovers();
    void quickAllowStillGoesWireless();
};

void FirstPlugInTest::phoneBecomesWirelessRelayAndRecovers() {
    Gates gates({QStringLiteral("track"), QStringLiteral("connect"), QStringLiteral("scrcpy")});
    const QString listing = gates.path(QStringLiteral("listing"));
    writeListing(listing, QString());
    const QString adbScript =
        QStringLiteral(
            "when track-devices\noutraw 0000\noutfile %1\nhang\n"
            "when devices -l\noutfile %2\n"
            "when -s R58M12345 tcpip 5555\nout restarting in TCP mode port: 5555\n"
            "when -s R58M12345 shell ip -f inet addr show wlan0.*\nout 192.168.1.23\n"
            "when connect 192.168.1.23:5555\ntimes 1\noutfile %3\n"
            "when connect 192.168.1.23:5555\n"
            "out already connected to 192.168.1.23:5555\n")
            .arg(gates.path(QStringLiteral("track")), listing,
                 gates.path(QStringLiteral("connect")));
    // The first scrcpy runs until the test ends it (as when the phone's Wi-Fi drops), later ones
    // keep running.
    const QString scrcpyScript =
        QStringLiteral(
            "when .*\ntimes 1\noutfile %1\nerr ERROR: Server connection failed\nexit 1\n"
            "when .*\nhang\n")
            .arg(gates.path(QStringLiteral("scrcpy")));
    // The automatic flow gives its refresh 0.5 s: at this scale that outlasts a fake adb call.
    RelayRig rig(scrcpyScript, adbScript, 0.1);
    // Before the rig goes: it waits for every fake tool to end.
    const auto letGo = qScopeGuard([&] { gates.releaseAll(); });
    ZovAdizuZadiRizov& c = *rig.c;

    // Quiet start: no phone, the watcher has read adb's empty table. The periodic USB check is
    // stopped once no check is under way, so that the stream alone reports the phone.
    QVERIFY(rig.waitForLog(
        QStringLiteral("[TrackDevices] Derived states -> USB:false Wireless:false")));
    c.usbDetectTimer.reset();
    const auto checksRun = [&] {
        return rig.resources.arguments(QStringLiteral("adb")).count(adb::devicesLong());
    };
    QVERIFY(waitUntil([&] {
        return logMessages(c.logs()).filter(QStringLiteral("[USBCheck] USB connected: ")).size() ==
               checksRun();
    }));

    // The phone appears in the track-devices stream (and in adb's listing).
    writeListing(listing, kUsbLine);
    gates.open(QStringLiteral("track"), frame(kSerial + QStringLiteral("\tdevice\n")));
    QVERIFY(
        rig.waitForLog(QStringLiteral("[AutoNewUSB] New USB device detected: R58M12345. "
                                      "Resolving IP and connecting...")));
    QCOMPARE(c.observedUSBSerial, std::optional<QString>(kSerial));

    // The setup reaches its connect, which waits; meanwhile the automatic flow finds no
    // wireless row and ends without a relay. Normally it has seen the USB row and asked for a
    // setup of its own, which gives way to the one under way.
    QVERIFY(waitUntil([&] { return flowCalls(rig.resources).contains(adb::connect(kEndpoint)); }));
    const QString noWireless = QStringLiteral(
        "[Debug] statusText changed to: [AutoFlow] No TCP/IP device found after USB setup");
    const QString noDevice =
        QStringLiteral("[Debug] statusText changed to: [AutoFlow] No devices to connect");
    QVERIFY(waitUntil([&] { return rig.logged(noWireless) || rig.logged(noDevice); }));
    if (rig.logged(noWireless)) {
        QVERIFY(rig.logged(QStringLiteral(
            "[Debug] Auto USB setup already running for serial R58M12345; skipped")));
    }
    QVERIFY(rig.logged(QStringLiteral("[AutoFlow] Starting autoStartFullFlow")));
    QVERIFY(!c.reconnectTimer);  // nothing is switched on, so the loop does not start
    QVERIFY(!c.isRunning());

    // adb lists the wireless device once connected; then the connect answers.
    writeListing(listing, kUsbLine + kWirelessLine);
    gates.open(QStringLiteral("connect"), "connected to 192.168.1.23:5555\n");
    QVERIFY(rig.waitForLog(
        QStringLiteral("[Debug] autoUSBSetupIfNeeded connected to 192.168.1.23:5555")));
    const QList<QStringList> setupCalls = {adb::startServer(), adb::tcpip(kSerial),
                                           adb::shell(kSerial, ipProbeCommands().first()),
                                           adb::connect(kEndpoint)};
    const QList<QStringList> calls = flowCalls(rig.resources);
    qsizetype at = -1;
    for (const QStringList& call : setupCalls) {
        at = calls.indexOf(call, at + 1);
        QVERIFY2(at >= 0, qPrintable(call.join(QLatin1Char(' '))));
    }
    QCOMPARE(calls.count(adb::tcpip(kSerial)), 1);
    QCOMPARE(c.endpoint(), kEndpoint);

    // The wireless row shows with the model name, paired with the USB row of the same phone.
    QVERIFY(waitUntil([&] {
        const auto rows = c.discoveredDevices();
        return rows.size() == 1 && rows[0].serial == kSerial && rows[0].ip == kEndpoint;
    }));
    const DiscoveredDevice paired = c.discoveredDevices().first();
    QCOMPARE(paired.serial, kSerial);
    QCOMPARE(paired.name, QStringLiteral("Pixel_7"));
    QCOMPARE(paired.transport, kTransportUSB);
    QCOMPARE(c.statusText(), c.text(TextKey::wirelessConnectionReady));
    QCOMPARE(c.connectionGuideText(), c.text(TextKey::guideConnectionReady));

    // The user switches the endpoint on: scrcpy starts with the exact arguments.
    c.setRelayEnabled(kEndpoint, true);
    QVERIFY(waitUntil([&] { return rig.running(kEndpoint) && rig.scrcpyRuns().size() == 1; }));
    QVERIFY(waitUntil([&] { return rig.status() == c.text(TextKey::audioRelayActive); }));
    const QStringList arguments = {QStringLiteral("-s"),
                                   kEndpoint,
                                   QStringLiteral("--no-window"),
                                   QStringLiteral("--no-video"),
                                   QStringLiteral("--no-control"),
                                   QStringLiteral("--audio-source=output"),
                                   QStringLiteral("--audio-buffer=150")};
    QCOMPARE(rig.scrcpyRuns(), QList<QStringList>{arguments});

    // scrcpy ends on its own: "Reconnecting…", and the loop starts it again, then stops.
    gates.open(QStringLiteral("scrcpy"));
    QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 2 && rig.running(kEndpoint); }));
    QVERIFY(waitUntil([&] { return !c.reconnectTimer; }));
    QCOMPARE(rig.scrcpyRuns().last(), arguments);
    const QString again = QStringLiteral("[AutoFlow] Reconnect endpoint: 192.168.1.23:5555");
    QVERIFY(loggedInOrder(c, {QStringLiteral("[Debug] statusText changed to: Reconnecting\u2026"),
                              again, QStringLiteral("[AutoFlow] Reconnect timer stopped")}));
    QVERIFY(loggedInOrder(c, {QStringLiteral("[AutoFlow] Reconnect timer started"), again}));
    QCOMPARE(rig.status(), c.text(TextKey::audioRelayActive));
    QVERIFY(c.allEnabledEndpointsRunning());
    QVERIFY(c.isRunning());
}

// The user taps "Allow" while a setup asked for at plug-in would still be in its pause: adb lists
// the phone "authorizing", then "unauthorized" while the prompt is up, then "device". The phone
// refuses everything but the listing until it is authorised, and connects only once its daemon
// has been switched to the network.
void FirstPlugInTest::quickAllowStillGoesWireless() {
    Gates gates(
        {QStringLiteral("authorizing"), QStringLiteral("unauthorized"), QStringLiteral("device")});
    const QString listing = gates.path(QStringLiteral("listing"));
    const QString authorised = gates.path(QStringLiteral("authorised"));
    const QString listening = gates.path(QStringLiteral("listening"));
    writeListing(listing, QString());
    const QString adbScript =
        QStringLiteral(
            "when track-devices\noutraw 0000\noutfile %1\noutfile %2\noutfile %3\nhang\n"
            "when devices -l\noutfile %4\n"
            "when -s R58M12345 tcpip 5555\nif %5\ntouch %6\n"
            "out restarting in TCP mode port: 5555\n"
            "when -s R58M12345 shell ip -f inet addr show wlan0.*\nif %5\nout 192.168.1.23\n"
            "when -s R58M12345 .*\nerr error: device unauthorized.\nexit 1\n"
            "when connect 192.168.1.23:5555\nif %6\nout connected to 192.168.1.23:5555\n"
            "when connect 192.168.1.23:5555\n"
            "out failed to connect to '192.168.1.23:5555': Connection refused\nexit 1\n")
            .arg(gates.path(QStringLiteral("authorizing")),
                 gates.path(QStringLiteral("unauthorized")), gates.path(QStringLiteral("device")),
                 listing, authorised, listening);
    RelayRig rig(kHangingScrcpy, adbScript, 0.1);
    const auto letGo = qScopeGuard([&] { gates.releaseAll(); });
    QVERIFY(rig.waitForLog(
        QStringLiteral("[TrackDevices] Derived states -> USB:false Wireless:false")));

    const auto show = [&](const QString& state, int waitMs) {
        writeListing(listing,
                     QString(kUsbLine).replace(QStringLiteral(" device "),
                                               QLatin1Char(' ') + state + QLatin1Char(' ')));
        if (state == QStringLiteral("device")) {
            QVERIFY(QFile(authorised).open(QIODevice::WriteOnly));
        }
        gates.open(state, frame(kSerial + QLatin1Char('\t') + state + QLatin1Char('\n')));
        QTest::qWait(waitMs);
    };
    // 0.7 s and 1.8 s of the user's time at this scale.
    show(QStringLiteral("authorizing"), 70);
    show(QStringLiteral("unauthorized"), 180);
    show(QStringLiteral("device"), 0);

    QVERIFY(rig.waitForLog(
        QStringLiteral("[Debug] autoUSBSetupIfNeeded connected to 192.168.1.23:5555")));
    QCOMPARE(rig.c->endpoint(), kEndpoint);
}

QTEST_GUILESS_MAIN(FirstPlugInTest)
#include "tst_first_plug_in.moc"
