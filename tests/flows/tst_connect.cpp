// A phone found on USB, set up for Wi-Fi and connected, over fake adb and scrcpy: by the periodic
// USB check, by the device watcher, or by both at once. Either may notice a phone first, so the
// cases look at what adb was asked, the rows, the endpoint and scrcpy's runs, never at which one.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSaveFile>
#include <QTemporaryDir>
#include <optional>

#include "connect/ip_probe.h"
#include "support/rig.h"
#include "tools/adb_commands.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kSerial = QStringLiteral("R58M12345");
const QString kEndpoint = QStringLiteral("192.168.1.23:5555");
const QString kUsbLine = QStringLiteral(
    "R58M12345 device usb:1-1 product:panther model:Pixel_7 device:panther transport_id:2");
const QString kWirelessLine = QStringLiteral(
    "192.168.1.23:5555 device product:panther model:Pixel_7 device:panther transport_id:3");

QByteArray table(const QString& state) {
    return frame(kSerial + u'\t' + state + u'\n');
}

// Files the fake adb reads, and the rig over them: a device listing the test rewrites, and named
// pipes that hold a call (read with "outfile") until the test writes to them.
class Stage {
public:
    // Lets go of the tools that still wait, so that the rig (ended next) sees them end.
    ~Stage() {
        for (const QString& p : pipes_) {
            ::close(::open(QFile::encodeName(p).constData(), O_WRONLY | O_NONBLOCK));
        }
    }
    Rig& start(const QString& adb, double scale = 0.001) {
        RigOptions options;
        options.adb = adb;
        options.scale = scale;
        return rig_.emplace(options);
    }
    QString pipe(const QString& name) {
        mkfifo(QFile::encodeName(dir_.filePath(name)).constData(), 0600);
        return pipes_.emplace_back(dir_.filePath(name));
    }
    QString write(const QString& name, const QByteArray& bytes) const {
        QSaveFile file(dir_.filePath(name));  // replaced whole: never read half-written
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
            !file.commit()) {
            qFatal("cannot write %s", qPrintable(name));
        }
        return file.fileName();
    }
    QString list(const QStringList& lines) const {
        return write("listing",
                     ("List of devices attached\n" + lines.join(u'\n') + "\n\n").toUtf8());
    }
    // Waits until the tool reads the pipe, then hands it the text and ends its input.
    void release(const QString& name, const QByteArray& text = {}) const {
        const QByteArray path = QFile::encodeName(dir_.filePath(name));
        int fd = -1;
        QVERIFY(
            waitUntil([&] { return (fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK)) >= 0; }));
        QCOMPARE(::write(fd, text.constData(), size_t(text.size())), text.size());
        ::close(fd);
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QStringList pipes_;
    std::optional<Rig> rig_;
};

// Lets the periodic USB check look twice more, so that "nothing happened" means something.
void letChecksRun(const Rig& rig) {
    const auto listings = [&] { return rig.resources.arguments("adb").count(adb::devicesLong()); };
    const auto before = listings();
    QVERIFY(waitUntil([&] { return listings() >= before + 2; }));
    settle();
}

}  // namespace

class ConnectTest : public QObject {
    Q_OBJECT
private slots:
    void firstPlugIn_data() {
        QTest::addColumn<bool>("quickAllow");
        QTest::newRow("allowed before") << false;
        QTest::newRow("quick Allow") << true;
    }

    // A phone plugged in for the first time, allowed before or within moments (adb lists it
    // "authorizing", "unauthorized" while the prompt is up, then "device"), to a relay that
    // recovers. The phone refuses all but the listing until allowed, and a connect until "tcpip"
    // has put its daemon on the network.
    void firstPlugIn() {
        QFETCH(bool, quickAllow);
        Stage stage;
        const QString allowed = stage.path("allowed"), listening = stage.path("listening");
        Rig& rig = stage.start(
            QStringLiteral(
                "when track-devices\noutraw 0000\noutfile %1\noutfile %2\noutfile %3\nhang\n"
                "when devices -l\noutfile %4\n"
                "when -s R58M12345 tcpip 5555\nif %5\ntouch %6\nout restarting in TCP mode\n"
                "when -s R58M12345 shell ip -f inet addr show wlan0.*\nif %5\nout 192.168.1.23\n"
                "when -s R58M12345 .*\nerr error: device unauthorized.\nexit 1\n"
                "when connect %8\nif %6\ntimes 1\noutfile %7\n"
                "when connect %8\nif %6\nout already connected to %8\n"
                "when connect %8\nout failed to connect to '%8': Connection refused\nexit 1\n")
                .arg(stage.pipe("authorizing"), stage.pipe("unauthorized"), stage.pipe("device"),
                     stage.list({}), allowed, listening, stage.pipe("connect"), kEndpoint),
            0.1);
        ZovAdizuZadiRizov& c = *rig.c;

        // The pauses are 0.7 s and 1.8 s of the user's time at this scale.
        const std::pair<QString, int> steps[] = {
            {"authorizing", 70}, {"unauthorized", 180}, {"device", 0}};
        for (const auto& [state, pauseMs] : steps) {
            const bool shown = quickAllow || state == "device";
            if (shown) {
                stage.list({QString(kUsbLine).replace(" device ", " " + state + " ")});
            }
            if (state == "device") {
                stage.write("allowed", {});
            }
            stage.release(state, shown ? table(state) : QByteArray());
            QTest::qWait(quickAllow ? pauseMs : 0);
        }
        QVERIFY(waitUntil([&] { return rig.adbCalls().contains(adb::connect(kEndpoint)); }));
        // An automatic flow the watcher may have started finds no wireless row: let it end before
        // the connect lands, or it would pick the new row itself.
        QVERIFY(rig.waitForLog("[TrackDevices] Derived states -> USB:true Wireless:false"));
        QVERIFY(waitUntil([&] {
            return !rig.logged("[AutoFlow] Starting autoStartFullFlow") ||
                   c.statusText().startsWith("[AutoFlow]");
        }));
        QVERIFY(!c.isRunning());

        stage.list({kUsbLine, kWirelessLine});
        stage.release("connect", "connected to 192.168.1.23:5555\n");
        // One row for the phone: the wireless endpoint paired with its USB row, named by its model.
        QVERIFY(waitUntil([&] {
            const auto rows = c.discoveredDevices();
            return rows.size() == 1 && rows[0].ip == kEndpoint;
        }));
        const DiscoveredDevice row = c.discoveredDevices().first();
        QVERIFY(row.serial == kSerial && row.name == "Pixel_7" && row.transport == kTransportUSB);
        const QList<QStringList> calls = rig.adbCalls();
        qsizetype at = -1;
        for (const QStringList& call :
             {adb::startServer(), adb::tcpip(kSerial),
              adb::shell(kSerial, ipProbeCommands().first()), adb::connect(kEndpoint)}) {
            QVERIFY2((at = calls.indexOf(call, at + 1)) >= 0, qPrintable(call.join(' ')));
        }
        QCOMPARE(calls.count(adb::tcpip(kSerial)), 1);
        QCOMPARE(c.endpoint(), kEndpoint);
        QCOMPARE(c.statusText(), c.text(TextKey::wirelessConnectionReady));

        // Switched on: scrcpy relays the audio only, and never takes control of the phone.
        c.setRelayEnabled(kEndpoint, true);
        QVERIFY(waitUntil([&] { return rig.running(kEndpoint) && rig.scrcpyRuns().size() == 1; }));
        const QStringList arguments = QString(
                                          "-s %1 --no-window --no-video --no-control "
                                          "--audio-source=output --audio-buffer=150")
                                          .arg(kEndpoint)
                                          .split(' ');
        QCOMPARE(rig.scrcpyRuns(), QList<QStringList>{arguments});

        // scrcpy ends (the phone's Wi-Fi dropped): the reconnect loop starts it again, then stops.
        ::kill(pid_t(rig.pidOf(kEndpoint)), SIGTERM);
        QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 2 && rig.running(kEndpoint); }));
        QVERIFY(waitUntil([&] { return !c.reconnectTimer; }));
        QCOMPARE(rig.scrcpyRuns().last(), arguments);
        QCOMPARE(c.statusText(), c.text(TextKey::audioRelayActive));
    }

    void allowedAfterPrompt_data() {
        QTest::addColumn<bool>("byWatcher");
        QTest::newRow("USB check") << false;
        QTest::newRow("watcher") << true;
    }

    // A phone first listed waiting for the user's authorisation is set up once it is allowed,
    // seen so by the USB check or by the watcher; and only then.
    void allowedAfterPrompt() {
        QFETCH(bool, byWatcher);
        Stage stage;
        Rig& rig = stage.start(
            QStringLiteral("when track-devices\noutfile %1\nhang\n"
                           "when devices -l\noutfile %2\n")
                .arg(stage.pipe("track"), stage.list({"R58M12345 unauthorized usb:1-1"})),
            0.01);
        ZovAdizuZadiRizov& c = *rig.c;
        QVERIFY(waitUntil([&] { return c.usbSerialsAwaitingReady.contains(kSerial); }));
        letChecksRun(rig);
        QVERIFY(!rig.adbCalls().contains(adb::tcpip(kSerial)));

        // In the watcher's case the listing still shows the prompt: the check cannot see it.
        if (byWatcher) {
            stage.release("track", table("unauthorized") + table("device"));
        } else {
            stage.list({kUsbLine});
        }
        QVERIFY(waitUntil([&] { return rig.adbCalls().contains(adb::tcpip(kSerial)); }));
        QVERIFY(waitUntil([&] { return c.usbSetupsInProgress.isEmpty(); }));
        letChecksRun(rig);
        // The checks that follow find nothing new (an automatic flow the watcher started may ask
        // again once the setup has ended).
        QVERIFY(byWatcher || rig.adbCalls().count(adb::tcpip(kSerial)) == 1);
        QVERIFY(c.isUSBDeviceConnected());
        stage.list({});  // unplugged
        QVERIFY(waitUntil([&] { return !c.isUSBDeviceConnected() && !c.observedUSBSerial; }));
    }

    void setupOutcomes_data() {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("endpoint");  // empty: no address found
        QTest::addColumn<int>("probes");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("selected");  // the row selected, if any
        QTest::newRow("two addresses") << "TWO" << kEndpoint << 1 << true << kEndpoint;
        QTest::newRow("error, empty, address") << "ERR"
                                               << "999.1.1.1:5555" << 3 << true << "999.1.1.1:5555";
        QTest::newRow("no address") << "EMPTY"
                                    << "" << 3 << false << "";
        QTest::newRow("tcpip refused; listed on another port")
            << "LOCKED"
            << "192.168.1.40:5555" << 1 << true << "192.168.1.40:37001";
        QTest::newRow("connect refused, status 0") << "REFUSED"
                                                   << "192.168.1.50:5555" << 1 << false << "";
    }

    void setupOutcomes() {
        QFETCH(QString, serial);
        QFETCH(QString, endpoint);
        QFETCH(int, probes);
        QFETCH(bool, connected);
        QFETCH(QString, selected);
        Stage stage;
        Rig& rig = stage.start(
            "when -s TWO shell ip -f inet addr show wlan0.*\nout 192.168.1.23\\n10.0.0.9\n"
            "when -s ERR shell ip -f inet addr show wlan0.*\nerr Device \"wlan0\" does not "
            "exist.\nexit 1\n"
            "when -s ERR shell ip route get 1.*\nout 999.1.1.1\n"
            "when -s LOCKED tcpip 5555\nerr error: device unauthorized.\nexit 1\n"
            "when -s LOCKED shell ip -f inet addr show wlan0.*\nout 192.168.1.40\n"
            "when -s REFUSED shell ip -f inet addr show wlan0.*\nout 192.168.1.50\n"
            "when connect 192.168.1.50:5555\nout failed to connect to '192.168.1.50:5555'\n"
            "when connect .*\nout connected to the phone\n",
            0.01);
        ZovAdizuZadiRizov& c = *rig.c;
        // 192.168.1.230 begins with 192.168.1.23 but is another phone.
        const QVector<DiscoveredDevice> listed = {wirelessRow("192.168.1.230:5555", "Galaxy"),
                                                  wirelessRow("192.168.1.40:37001", "Pixel_8")};
        c.discoveredDevices.set(listed);
        c.connectedTCPIPDevices.set(listed);  // the refreshes over an empty listing keep these

        // The USB check, the watcher and the automatic flow may ask at the same moment.
        c.autoUSBSetupIfNeeded(serial);
        c.autoUSBSetupIfNeeded(serial);
        QVERIFY(waitUntil([&] { return c.usbSetupsInProgress.isEmpty(); }));
        QList<QStringList> expected = {adb::startServer(), adb::tcpip(serial)};
        for (int i = 0; i < probes; ++i) {
            expected << adb::shell(serial, ipProbeCommands()[i]);
        }
        if (!endpoint.isEmpty()) {
            expected << adb::connect(endpoint);
        }
        QCOMPARE(rig.adbCalls(), expected);
        QCOMPARE(c.observedUSBSerial, std::optional(serial));
        // Taken and kept as soon as an address is found, whether or not the connect works.
        QCOMPARE(c.endpoint(), endpoint);
        QCOMPARE(rig.env.settings()->value("endpoint").toString(), endpoint);
        QCOMPARE(c.selectedDevice() ? c.selectedDevice()->serial : QString(), selected);
        settle();  // the refreshes after a connect
        const QVector<DiscoveredDevice> rows = c.discoveredDevices();
        QCOMPARE(rows.size(), listed.size() + connected);
        QCOMPARE(rows.last().ip, connected ? endpoint : listed.last().ip);
        QCOMPARE(c.statusText(),
                 c.text(connected ? TextKey::wirelessConnectionReady : TextKey::statusIdle));

        // Once a setup has ended, the phone can be set up again.
        c.autoUSBSetupIfNeeded(serial);
        QVERIFY(waitUntil([&] { return rig.adbCalls().count(adb::tcpip(serial)) == 2; }));
    }

    void automaticFlowJudgesConnectByItsText() {
        const QString endpoint = QStringLiteral("192.168.1.20:5555");
        Stage stage;
        Rig& rig = stage.start(
            "when connect 192.168.1.20:5555\ntimes 1\n"
            "out failed to connect to '192.168.1.20:5555': Connection refused\n"
            "when connect .*\nout connected to 192.168.1.20:5555\n",
            0.01);
        ZovAdizuZadiRizov& c = *rig.c;
        DiscoveredDevice noAddress = wirelessRow("10.0.0.1:5555", "Old");
        noAddress.ip.reset();
        const QVector<DiscoveredDevice> rows = {noAddress, wirelessRow(endpoint, "Pixel_7")};
        c.discoveredDevices.set(rows);
        c.connectedTCPIPDevices.set(rows);
        c.autoStartFullFlow();
        QVERIFY(waitUntil(
            [&] { return c.statusText() == "[AutoFlow] Failed to connect to " + endpoint; }));
        settle();
        QVERIFY(rig.scrcpyRuns().isEmpty());

        c.autoStartFullFlow();
        QVERIFY(waitUntil([&] { return rig.running(endpoint) && rig.scrcpyRuns().size() == 1; }));
        QCOMPARE(rig.scrcpyRuns().first().mid(0, 2), (QStringList{"-s", endpoint}));
        QCOMPARE(c.selectedDevice()->serial, endpoint);
        QCOMPARE(c.endpoint(), endpoint);
    }

    // The address of each USB phone is looked up in the background, with retries for a phone
    // whose Wi-Fi is still coming up.
    void enrichmentRetriesTheProbe() {
        Stage stage;
        Rig& rig =
            stage.start("when -s GOOD shell ip -f inet addr show wlan0.*\nout 192.168.1.23\n");
        const auto probes = [&](const QString& serial) {
            return rig.adbCalls().count(adb::shell(serial, ipProbeCommands().first()));
        };
        const QVector<DiscoveredDevice> rows = {usbRow("GOOD"), usbRow("BAD")};
        rig.c->discoveredDevices.set(rows);
        rig.c->enrichIPsForUSBDevices();
        QVERIFY(waitUntil([&] { return probes("BAD") == 3; }));
        settle();
        QCOMPARE(probes("GOOD"), 1);
        QCOMPARE(rig.adbCalls().size(), 1 + 3 * ipProbeCommands().size());
        QCOMPARE(rig.c->discoveredDevices(), rows);
    }

    void watcher() {
        QVERIFY(waitUntil([] { return childProcesses().isEmpty() && liveProcessObjects() == 0; }));
        const int fds = openFileDescriptors();
        {
            // Without adb there is nothing to watch.
            FakeResources empty;
            TestEnvironment env(&empty);
            ZovAdizuZadiRizov c(env.config);
            QVERIFY(!c.trackDevicesProcess);
            QCOMPARE(liveProcessObjects(), 0);
        }
        {
            // adb's server keeps going away: the watcher follows it, each time anew.
            Stage stage;
            Rig& rig = stage.start("when track-devices\nexit 1\n");
            const auto runs = [&] {
                return rig.resources.arguments("adb").count(adb::trackDevices());
            };
            QVERIFY(waitUntil([&] { return runs() >= 20; }));
            QVERIFY(liveProcessObjects() <= 2);
        }
        QVERIFY(waitUntil([&] {
            return childProcesses().isEmpty() && liveProcessObjects() == 0 &&
                   openFileDescriptors() <= fds;
        }));
    }
};

QTEST_GUILESS_MAIN(ConnectTest)
#include "tst_connect.moc"
