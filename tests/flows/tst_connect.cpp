// A phone found on USB, set up for Wi-Fi and connected, over fake adb and scrcpy: by the periodic
// USB check, by the device watcher, or by both at once. Either may notice a phone first, so the
// cases look at what adb was asked, the rows, the endpoint and scrcpy's runs, never at which one.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSaveFile>

#include "connect/ip_probe.h"
#include "support/rig.h"
#include "tools/adb_commands.h"
#include "ui/presentation.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kSerial = QStringLiteral("R58M12345");
const QString kEndpoint = QStringLiteral("192.168.1.23:5555");
const QString kUsbLine = QStringLiteral(
    "R58M12345 device usb:1-1 product:panther model:Pixel_7 device:panther transport_id:2");
const QString kWirelessLine = QStringLiteral(
    "192.168.1.23:5555 device product:panther model:Pixel_7 device:panther transport_id:3");

// Files the fake adb reads, and the rig over them: a device listing the test rewrites, and named
// pipes that hold a call (read with "outfile") until the test writes to them.
struct Stage {
    // Lets go of the tools that still wait, so that the rig (ended next) sees them end.
    ~Stage() {
        for (const QString& p : pipes) {
            ::close(::open(QFile::encodeName(p).constData(), O_WRONLY | O_NONBLOCK));
        }
    }
    QString pipe(const QString& name) {
        mkfifo(QFile::encodeName(path(name)).constData(), 0600);
        return pipes.emplace_back(path(name));
    }
    QString list(const QStringList& lines) const {
        QSaveFile file(path("listing"));  // replaced whole: never read half-written
        file.open(QIODevice::WriteOnly);
        file.write(("List of devices attached\n" + lines.join(u'\n') + "\n\n").toUtf8());
        file.commit();
        return file.fileName();
    }
    // Waits until the tool reads the pipe, then hands it the text and ends its input.
    void release(const QString& name, const QByteArray& text = {}) const {
        const QByteArray file = QFile::encodeName(path(name));
        int fd = -1;
        QVERIFY(
            waitUntil([&] { return (fd = ::open(file.constData(), O_WRONLY | O_NONBLOCK)) >= 0; }));
        QCOMPARE(::write(fd, text.constData(), size_t(text.size())), text.size());
        ::close(fd);
        // Flow time stays until the tool has taken what it was handed.
        QVERIFY(waitUntilPipeTaken(path(name)));
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QByteArray listing() const {
        QFile file(path("listing"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    QStringList pipes;
    std::optional<Rig> rig;  // last: ended before the folder goes
};

// What the window shows of each phone: the row's name, its two status lines and its switch.
QStringList shownRows(const ZovAdizuZadiRizov& c) {
    const WindowState s = windowStateOf(c);
    QStringList rows;
    for (const DiscoveredDevice& entry : s.connectedTCPIPDevices) {
        const DeviceBlockFields fields = deviceRowFields(s, entry);
        const StatusLines lines = statusLines(fields, en);
        rows << QStringList{fields.name, lines.audio ? en(*lines.audio) : "-",
                            lines.wireless ? en(*lines.wireless) : "-",
                            fields.switchedOn ? "on" : "off"}
                    .join(" | ");
    }
    return rows;
}

QStringList audioOnly(const QString& target) {
    return QStringList{"-s", target} +
           QString("--no-window --no-video --no-control --audio-source=output --audio-buffer=150")
               .split(' ');
}

}  // namespace

class ConnectTest : public QObject {
    Q_OBJECT
private slots:
    // Each event: a state, where adb shows it (its device "stream", its "list" or both) and then a
    // pause in seconds of flow time, or until the USB "checks" have looked twice.
    void firstPlugIn_data() {
        QTest::addColumn<QStringList>("events");
        QTest::newRow("allowed before") << QStringList{"device stream+list"};
        QTest::newRow("quick Allow") << QStringList{
            "authorizing stream+list 0.7", "unauthorized stream+list 1.8", "device stream+list"};
        QTest::newRow("allowed later, seen by the check")
            << QStringList{"unauthorized stream+list checks", "device list"};
        QTest::newRow("allowed later, seen by the watcher")
            << QStringList{"unauthorized stream+list checks", "device stream"};
    }

    // A phone plugged in for the first time and allowed at some moment (adb lists it
    // "authorizing", "unauthorized" while the prompt is up, then "device"), to a relay that
    // recovers. The phone refuses all but the listing until allowed, and a connect until "tcpip"
    // has put its daemon on the network.
    void firstPlugIn() {
        QFETCH(QStringList, events);
        Stage stage;
        QString stream;
        for (const QString& event : events.filter("stream")) {
            stream += "outfile " + stage.pipe(event.section(' ', 0, 0)) + '\n';
        }
        const QString allowed = stage.path("allowed");
        const QString script =
            QStringLiteral(
                "when track-devices\noutraw 0000\n%1hang\n"
                "when devices -l\noutfile %2\n"
                "when -s R58M12345 tcpip 5555\nif %3\ntouch %4\nout restarting in TCP mode\n"
                "when -s R58M12345 shell ip -f inet addr show wlan0.*\nif %3\nout 192.168.1.23\n"
                "when -s R58M12345 .*\nerr error: device unauthorized.\nexit 1\n"
                "when connect %6\nif %4\ntimes 1\noutfile %5\n"
                "when connect %6\nif %4\nout already connected to %6\n"
                "when connect %6\nout failed to connect to '%6': Connection refused\nexit 1\n")
                .arg(stream, stage.list({}), allowed, stage.path("listening"),
                     stage.pipe("connect"), kEndpoint);
        Rig& rig = stage.rig.emplace(RigOptions{.adb = script});
        ZovAdizuZadiRizov& c = *rig.c;

        for (const QString& step : events) {
            const QStringList event = step.split(' ');  // state, where, pause
            if (event[1].contains("list")) {
                stage.list({QString(kUsbLine).replace(" device ", " " + event[0] + " ")});
            }
            if (event[0] == "device") {
                QFile(allowed).open(QIODevice::WriteOnly);
            }
            if (event[1].contains("stream")) {
                stage.release(event[0], frame(kSerial + '\t' + event[0] + '\n'));
            }
            if (event.value(2) == "checks") {  // they find nothing to set up before it is allowed
                const auto checks = rig.resources.arguments("adb").count(adb::devicesLong()) + 2;
                QVERIFY(waitUntil([&] {
                    return rig.resources.arguments("adb").count(adb::devicesLong()) >= checks;
                }));
                QVERIFY(!rig.adbCalls().contains(adb::tcpip(kSerial)));
            }
            QVERIFY(advance(event.value(2).toDouble()));
        }
        QVERIFY(waitUntil([&] { return rig.adbCalls().contains(adb::connect(kEndpoint)); }));
        // Every table sent has been read, and each automatic flow those started has ended on a
        // status of its own; one still running when the connect lands would pick the new row.
        QVERIFY(waitUntil([&] {
            const QStringList log = rig.log();
            return log.filter("[TrackDevices] Derived states").size() > stream.count("outfile") &&
                   log.filter("statusText changed to: [AutoFlow]").size() ==
                       log.filter("[AutoFlow] Starting autoStartFullFlow").size();
        }));

        stage.list({kUsbLine, kWirelessLine});
        stage.release("connect", "connected to 192.168.1.23:5555\n");
        // One row for the phone: the wireless endpoint paired with its USB row, named by its model.
        QVERIFY(waitUntil([&] {
            const auto rows = c.discoveredDevices();
            return rows.size() == 1 && rows[0].serial == kSerial && rows[0].ip == kEndpoint &&
                   rows[0].name == "Pixel_7" && rows[0].transport == kTransportUSB &&
                   c.statusText() == c.text(TextKey::wirelessConnectionReady) &&
                   c.endpoint() == kEndpoint && rig.adbCalls().count(adb::tcpip(kSerial)) == 1;
        }));

        // Switched on: scrcpy relays the audio only, and never takes control of the phone.
        c.setRelayEnabled(kEndpoint, true);
        QVERIFY(waitUntil([&] { return rig.running(kEndpoint) && rig.scrcpyRuns().size() == 1; }));
        QCOMPARE(rig.scrcpyRuns(),
                 (QList<QStringList>{{"-s", kEndpoint, "--no-window", "--no-video", "--no-control",
                                      "--audio-source=output", "--audio-buffer=150"}}));

        // scrcpy ends (the phone's Wi-Fi dropped): the reconnect loop starts it again, then stops.
        ::kill(pid_t(rig.pidOf(kEndpoint)), SIGTERM);
        QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 2 && rig.running(kEndpoint); }));
        QVERIFY(waitUntil([&] { return !c.reconnectTimer; }));

        // The cable is pulled: the phone is gone from USB, its relay goes on over Wi-Fi.
        stage.list({kWirelessLine});
        QVERIFY(waitUntil([&] { return !c.isUSBDeviceConnected() && !c.observedUSBSerial; }));
        QVERIFY(rig.running(kEndpoint));
    }

    void setupOutcomesAndTheAutomaticFlow() {
        // adb lists two phones on Wi-Fi, and an endpoint the setup connects once it is connected.
        QTemporaryDir marks;
        const QString listed2 =
            "List of devices attached\\n"
            "192.168.1.230:5555\\tdevice product:a model:Galaxy device:a transport_id:1\\n"
            "192.168.1.40:37001\\tdevice product:b model:Pixel_8 device:b transport_id:2\\n";
        QString listing;
        const QStringList connectable{"999.1.1.1:5555", "192.168.1.40:5555"};
        const auto forgetConnects = [&] {
            for (const QString& endpoint : connectable) {
                QFile::remove(marks.filePath(endpoint));
            }
        };
        for (const QString& endpoint : connectable) {
            const QString mark = marks.filePath(endpoint);
            listing += "when connect " + endpoint + "\ntouch " + mark +
                       "\nout connected to the phone\nwhen devices -l\nif " + mark + "\nout " +
                       listed2 + endpoint + "\\tdevice product:c model:Pixel_9 device:c\n";
        }
        const QString script =
            listing + "when devices -l\nout " + listed2 + "\n" +
            "when -s ERR shell ip -f inet addr .*\nerr Device \"wlan0\" does not exist.\nexit 1\n"
            "when -s ERR shell ip route\nout 999.1.1.0/24 dev wlan0 scope link src 999.1.1.1\n"
            "when -s LOCKED tcpip 5555\nerr error: device unauthorized.\nexit 1\n"
            "when -s LOCKED shell ip -f inet addr show wlan0.*\nout 192.168.1.40\\n10.0.0.9\n"
            "when -s REFUSED shell ip -f inet addr show wlan0.*\nout 192.168.1.50\n"
            "when connect 192.168.1.50:5555\nout failed to connect to '192.168.1.50:5555'\n"
            "when connect 192.168.1.20:5555\ntimes 1\nout failed to authenticate to the phone\n"
            "when connect .*\nout connected to the phone\n";
        // The phone; the address probes adb runs; the endpoint found (empty: none); whether the
        // connect works; the listed row then selected, if any. ERR: errors, then an address.
        // LOCKED: tcpip refused, two addresses, listed on another port. REFUSED: status 0.
        for (const auto& [serial, probes, endpoint, connected, selected] :
             QList<std::tuple<QString, int, QString, bool, QString>>{
                 {"ERR", 3, "999.1.1.1:5555", true, "999.1.1.1:5555"},
                 {"EMPTY", 3, "", false, ""},
                 {"LOCKED", 1, "192.168.1.40:5555", true, "192.168.1.40:37001"},
                 {"REFUSED", 1, "192.168.1.50:5555", false, ""}}) {
            forgetConnects();
            Rig rig({.adb = script});
            ZovAdizuZadiRizov& c = *rig.c;
            // 192.168.1.230 begins with 192.168.1.23 but is another phone.
            const QVector<DiscoveredDevice> listed = {wirelessRow("192.168.1.230:5555", "Galaxy"),
                                                      wirelessRow("192.168.1.40:37001", "Pixel_8")};
            c.discoveredDevices.set(listed);
            c.connectedTCPIPDevices.set(listed);

            // The USB check, the watcher and the automatic flow may ask at the same moment.
            c.autoUSBSetupIfNeeded(serial);
            c.autoUSBSetupIfNeeded(serial);
            QVERIFY(waitUntil([&] { return c.usbSetupsInProgress.isEmpty(); }));
            // The address first: a phone without one is left on USB, its daemon untouched.
            QList<QStringList> expected = {adb::startServer()};
            for (int i = 0; i < probes; ++i) {
                expected << adb::shell(serial, ipProbeCommands()[i]);
            }
            if (!endpoint.isEmpty()) {
                expected << adb::getprop(serial, "service.adb.tcp.port") << adb::tcpip(serial)
                         << adb::connect(endpoint);
            }
            QCOMPARE(rig.adbCalls(), expected);
            // Taken and kept as soon as an address is found, whether or not the connect works.
            QCOMPARE(c.endpoint(), endpoint);
            QCOMPARE(rig.env.settings()->value("endpoint").toString(), endpoint);
            QCOMPARE(c.selectedDevice() ? c.selectedDevice()->serial : QString(), selected);
            settle();  // the refreshes after a connect
            QCOMPARE(c.discoveredDevices().size(), listed.size() + connected);
            QCOMPARE(c.discoveredDevices().last().ip, connected ? endpoint : listed.last().ip);

            // Once a setup has ended, the phone can be set up again.
            c.autoUSBSetupIfNeeded(serial);
            QVERIFY(waitUntil([&] {
                return rig.adbCalls().count(adb::shell(serial, ipProbeCommands()[0])) == 2;
            }));
        }

        // The automatic flow, on status 0 and no word of success: a phone that has not accepted
        // this computer's key.
        const QString endpoint = QStringLiteral("192.168.1.20:5555");
        Rig rig({.adb = "when devices -l\nout List of devices attached\\n" + endpoint +
                        "\\tdevice product:p model:Pixel_7 device:p\n" + script});
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
        QCOMPARE(c.endpoint(), endpoint);
    }

    // A phone's life after its set-up: a reboot puts its daemon back on USB only, a new Wi-Fi
    // address moves its endpoint, and a phone listed again relays at once. The fake phone's
    // daemon listens on the network while the file "listening" exists.
    void phoneLife_data() {
        QTest::addColumn<QString>("life");
        QTest::newRow("reboot, then the cable") << "reboot";
        QTest::newRow("new address, cable in") << "new address";
        QTest::newRow("listed again") << "listed again";
    }
    void phoneLife() {
        QFETCH(QString, life);
        Stage stage;
        const QString listening = stage.path("listening"), moved = stage.path("moved");
        const QString newEndpoint = "192.168.1.77:5555";
        const QString script =
            QStringLiteral(
                "when track-devices\noutraw 0000\noutfile %1\noutfile %2\noutfile %3\noutfile "
                "%9\nhang\n"
                "when devices -l\noutfile %4\n"
                "when -s R58M12345 shell getprop service.adb.tcp.port\nif %5\nout 5555\n"
                "when -s R58M12345 shell getprop service.adb.tcp.port\nout\n"
                "when -s R58M12345 tcpip 5555\ntouch %5\nout restarting in TCP mode port: 5555\n"
                "when -s R58M12345 shell ip -f inet addr show wlan0.*\nif %6\nout 192.168.1.77\n"
                "when -s R58M12345 shell ip -f inet addr show wlan0.*\nout 192.168.1.23\n"
                "when connect %7\nif %6\nout failed to connect to '%7'\n"
                "when connect (%7|%8)\nif %5\nout connected to the phone\n"
                "when connect .*\nout failed to connect to the phone\n")
                .arg(stage.pipe("1"), stage.pipe("2"), stage.pipe("3"), stage.list({}), listening,
                     moved, kEndpoint, newEndpoint, stage.pipe("4"));
        if (life != "reboot") {
            QFile(listening).open(QIODevice::WriteOnly);  // set up for Wi-Fi in an earlier run
        }
        Rig& rig = stage.rig.emplace(RigOptions{.adb = script});
        ZovAdizuZadiRizov& c = *rig.c;
        const auto table = [&](const QString& pipe, const QStringList& serials) {
            stage.release(
                pipe, frame(serials.isEmpty() ? "" : serials.join("\tdevice\n") + "\tdevice\n"));
        };
        const auto relaying = [&](const QString& endpoint, int runs) {
            return waitUntil([&] {
                return rig.running(endpoint) && rig.scrcpyRuns().size() == runs &&
                       c.enabledEndpoints() == QSet<QString>{endpoint};
            });
        };

        // Plugged in, set up, listed over Wi-Fi and switched on, with a buffer of its own.
        stage.list({kUsbLine});
        table("1", {kSerial});
        QVERIFY(waitUntil(
            [&] { return c.usbSetupsInProgress.isEmpty() && c.endpoint() == kEndpoint; }));
        stage.list({kUsbLine, kWirelessLine});
        table("2", {kSerial, kEndpoint});
        c.setAudioBuffer(kEndpoint, 180);
        c.setRelayEnabled(kEndpoint, true);
        QVERIFY(relaying(kEndpoint, 1));

        // Gone from Wi-Fi: its relay ends and the loop fails to connect it.
        QFile::remove(life != "new address" ? listening : QString());
        QFile(life == "new address" ? moved : QString()).open(QIODevice::WriteOnly);
        const QStringList left = life == "listed again" ? QStringList{} : QStringList{kSerial};
        stage.list(life == "listed again" ? QStringList{} : QStringList{kUsbLine});
        if (life == "reboot") {
            table("3", left);  // back on USB after its reboot, its daemon on USB only
        }
        ::kill(pid_t(rig.pidOf(kEndpoint)), SIGTERM);
        const auto connects = rig.adbCalls().count(adb::connect(kEndpoint));
        QVERIFY(waitUntil([&] { return !rig.running(kEndpoint); }));
        if (life != "reboot") {
            table("3", left);
        }
        if (life == "listed again") {
            QVERIFY(waitUntil(
                [&] { return rig.adbCalls().count(adb::connect(kEndpoint)) >= connects + 2; }));
            QFile(listening).open(QIODevice::WriteOnly);
            table("4", {kEndpoint});
            // Relayed on the watcher's news, with the loop's clock standing still.
            QVERIFY(settleWork());
            QVERIFY(rig.running(kEndpoint) && rig.scrcpyRuns().size() == 2);
            return;
        }
        const QString now = life == "reboot" ? kEndpoint : newEndpoint;
        QVERIFY(relaying(now, 2));
        QCOMPARE(rig.scrcpyRuns().last().filter("--audio-buffer"),
                 QStringList{"--audio-buffer=180"});
        // "tcpip" only for a daemon that does not listen: never to move a listening phone.
        QCOMPARE(rig.adbCalls().count(adb::tcpip(kSerial)), life == "reboot" ? 2 : 0);
    }

    // A phone too old to capture sound is not retried until its switch is turned on again.
    void androidTooOldIsNotRetried() {
        Rig rig({.scrcpy = "when .*\nerr [server] INFO: Device: [samsung] samsung SM-A505F "
                           "(Android 10)\nexit 1\n"});
        ZovAdizuZadiRizov& c = *rig.c;
        c.setRelayEnabled("SER1", true);
        QVERIFY(waitUntil(
            [&] { return c.silenceCauses().value("SER1") == SilenceCause::AndroidTooOld; }));
        QVERIFY(advance(60));
        QVERIFY(rig.scrcpyRuns().size() == 1 && !c.reconnectTimer);
        c.setRelayEnabled("SER1", false);
        c.setRelayEnabled("SER1", true);
        QVERIFY(waitUntil([&] { return rig.scrcpyRuns().size() == 2; }));
    }

    // One phone, one row, one relay: what adb and scrcpy are asked and what each row says, as
    // phones come, go and look alike. Every phone listens on 5555 once set up; the endpoints
    // answer the serial number of the phone they reach.
    void onePhoneOneRowOneRelay_data() {
        QTest::addColumn<QString>("life");
        QTest::newRow("second phone unplugged") << "unplugged";
        QTest::newRow("automatic relay and its switch") << "automatic";
        QTest::newRow("unreachable phone") << "unreachable";
        QTest::newRow("same-model twins") << "twins";
        QTest::newRow("mobile data") << "mobile data";
    }
    void onePhoneOneRowOneRelay() {
        QFETCH(QString, life);
        const QString otherSerial = "R58M0B22", otherEndpoint = "192.168.1.24:5555";
        const QString otherUsbLine = otherSerial + " device usb:1-2 product:b model:" +
                                     (life == "twins" ? "Pixel_7" : "Pixel_8") + " device:b";
        const QString otherWirelessLine =
            otherEndpoint + " device product:b model:" + (life == "twins" ? "Pixel_7" : "Pixel_8") +
            " device:b";
        const QString galaxy = "192.168.1.50:5555", galaxyLine = galaxy + " device model:Galaxy";
        Stage stage;
        const QString script =
            QStringLiteral(
                "when devices -l\noutfile %1\n"
                "when -s %2 shell getprop ro.serialno\nout R58M12345\n"
                "when -s %3 shell getprop ro.serialno\nout R58M0B22\n"
                "when -s %4 shell getprop ro.serialno\nout GALAXY01\n"
                "when -s .* shell getprop service.adb.tcp.port\nout 5555\n"
                // On mobile data: no Wi-Fi interface, a carrier's address and 464XLAT's.
                "when -s R58M12345 shell ip -f inet .*\nif %5\nerr Device \"wlan0\" does not "
                "exist.\nexit 1\n"
                "when -s R58M12345 shell ip route\nif %5\nout 100.64.12.0/24 dev rmnet_data0 "
                "proto kernel scope link src 100.64.12.7\\n192.0.0.4/32 dev v4-rmnet_data0 "
                "scope link src 192.0.0.4\n"
                "when -s R58M12345 shell ip -f inet addr show wlan0.*\nout 192.168.1.23\n"
                "when -s R58M0B22 shell ip -f inet addr show wlan0.*\nout 192.168.1.24\n"
                "when connect %2\nif %6\nout failed to connect to '%2'\n"
                "when connect .*\nout already connected to the phone\n")
                .arg(stage.list({}), kEndpoint, otherEndpoint, galaxy, stage.path("mobile data"),
                     stage.path("unreachable"));
        QFile(stage.path(life)).open(QIODevice::WriteOnly);
        const auto prepare = [&](TestEnvironment& env) {
            if (life == "unreachable") {  // switched on in an earlier run
                env.settings()->setValue("relayEnabledByEndpoint", R"({"192.168.1.23:5555":true})");
            }
        };
        if (life == "unplugged") {
            stage.list({kUsbLine, otherUsbLine, kWirelessLine, otherWirelessLine});
        } else if (life == "automatic") {
            stage.list({kUsbLine, kWirelessLine});
        } else if (life == "unreachable") {
            stage.list({galaxyLine});
        } else if (life == "twins") {
            stage.list({kUsbLine, kWirelessLine, otherWirelessLine});
        } else {
            stage.list({kUsbLine});
        }
        // The watcher's table lists what adb lists at the start, as adb's server does.
        QStringList table;
        for (const QString& line : QString(stage.listing()).split('\n').mid(1)) {
            if (!line.isEmpty()) {
                table << line.section(' ', 0, 0) + "\tdevice";
            }
        }
        const QString stream = QString(frame(table.join('\n') + (table.isEmpty() ? "" : "\n")))
                                   .replace('\n', "\\n")
                                   .replace('\t', "\\t");
        Rig& rig = stage.rig.emplace(
            RigOptions{.adb = "when track-devices\noutraw " + stream + "\nhang\n" + script,
                       .prepare = prepare});
        ZovAdizuZadiRizov& c = *rig.c;
        const auto shows = [&](const QStringList& rows) {
            const bool shown = waitUntil([&] { return shownRows(c) == rows; });
            if (!shown) {
                qWarning() << "shown:" << shownRows(c) << "wanted:" << rows;
            }
            return shown;
        };
        const auto row = [](const QString& name, TextKey audio, TextKey wireless, bool on) {
            return QStringList{name, en(audio), en(wireless), on ? "on" : "off"}.join(" | ");
        };
        const QString relaying = row("Pixel_7", TextKey::audioRelayActive, TextKey::ready, true);

        if (life == "unplugged") {
            // Both relayed; the observed phone is unplugged and the check moves to the other.
            QVERIFY(
                shows({row("Pixel_7", TextKey::readyToConnect, TextKey::wirelessReady, false),
                       row("Pixel_8", TextKey::readyToConnect, TextKey::wirelessReady, false)}));
            c.setRelayEnabled(kEndpoint, true);
            c.setRelayEnabled(otherEndpoint, true);
            QVERIFY(
                waitUntil([&] { return rig.running(kEndpoint) && rig.running(otherEndpoint); }));
            const qint64 other = rig.pidOf(otherEndpoint);
            stage.list({otherUsbLine, kWirelessLine, otherWirelessLine});
            QVERIFY(waitUntil([&] { return c.observedUSBSerial == otherSerial; }));
            QVERIFY(waitUntil([&] { return c.usbSetupsInProgress.isEmpty(); }));
            settle();
            // Its daemon already listens: no "tcpip" to drop the connections it carries.
            QVERIFY(!rig.adbCalls().contains(adb::tcpip(otherSerial)) &&
                    !rig.adbCalls().contains(adb::tcpip(kSerial)));
            QCOMPARE(rig.pidOf(otherEndpoint), other);
            QList<QStringList> runs = rig.scrcpyRuns();
            std::sort(runs.begin(), runs.end());
            QCOMPARE(runs, (QList<QStringList>{audioOnly(kEndpoint), audioOnly(otherEndpoint)}));
        } else if (life == "automatic") {
            QVERIFY(
                shows({row("Pixel_7", TextKey::readyToConnect, TextKey::wirelessReady, false)}));
            // Relayed over the cable, under the row's switch, which shows it on.
            c.autoStartFullFlow();
            QVERIFY(shows({relaying}));
            QCOMPARE(c.enabledEndpoints(), QSet<QString>{kEndpoint});
            QVERIFY(waitUntil([&] { return !rig.scrcpyRuns().isEmpty(); }));
            QCOMPARE(rig.scrcpyRuns(), QList<QStringList>{audioOnly(kSerial)});
            // The switch ends it, and nothing starts another.
            c.setRelayEnabled(kEndpoint, false);
            QVERIFY(
                shows({row("Pixel_7", TextKey::readyToConnect, TextKey::wirelessReady, false)}));
            QVERIFY(waitUntil([] { return liveScrcpyProcessCount() == 0; }));
            QVERIFY(advance(30));
            QCOMPARE(rig.scrcpyRuns().size(), 1);
            // Switched on again, then lost: the loop brings it back, one relay at a time.
            c.setRelayEnabled(kEndpoint, true);
            QVERIFY(
                waitUntil([&] { return rig.running(kEndpoint) && rig.scrcpyRuns().size() == 2; }));
            ::kill(pid_t(rig.pidOf(kEndpoint)), SIGTERM);
            const bool back =
                waitUntil([&] { return rig.scrcpyRuns().size() == 3 && rig.running(kEndpoint); });
            QVERIFY2(back, qPrintable(QDebug::toString(rig.scrcpyRuns())));
            QVERIFY(shows({relaying}));
            QCOMPARE(liveScrcpyProcessCount(), 1);
        } else if (life == "unreachable") {
            // Switched on and out of reach: its row says so, and so do the status and the guide.
            const QString away =
                row(kEndpoint, TextKey::reconnecting, TextKey::rowNotConnected, true);
            QVERIFY(shows(
                {row("Galaxy", TextKey::readyToConnect, TextKey::wirelessReady, false), away}));
            QVERIFY(waitUntil([&] { return rig.adbCalls().count(adb::connect(kEndpoint)) >= 2; }));
            const WindowState s = windowStateOf(c);
            QCOMPARE(statusLabel(s), TextKey::reconnecting);
            QCOMPARE(connectionGuideKey(s), TextKey::guideReconnecting);
            QVERIFY(rig.scrcpyRuns().isEmpty());
            // A phone that leaves with its switch off leaves the list.
            stage.list({});
            c.refreshDevices();
            QVERIFY(shows({away}));
        } else if (life == "twins") {
            // Two rows told apart by the end of their serial numbers; each switch relays its own.
            const QString a = "Pixel_7 (2345)", b = "Pixel_7 (0B22)";
            QVERIFY(shows({row(a, TextKey::readyToConnect, TextKey::wirelessReady, false),
                           row(b, TextKey::readyToConnect, TextKey::wirelessReady, false)}));
            c.setRelayEnabled(otherEndpoint, true);
            QVERIFY(waitUntil(
                [&] { return rig.running(otherEndpoint) && rig.scrcpyRuns().size() == 1; }));
            QVERIFY(shows({row(a, TextKey::readyToConnect, TextKey::wirelessReady, false),
                           row(b, TextKey::audioRelayActive, TextKey::ready, true)}));
            QCOMPARE(rig.scrcpyRuns(), QList<QStringList>{audioOnly(otherEndpoint)});
            c.setRelayEnabled(kEndpoint, true);
            QVERIFY(
                waitUntil([&] { return rig.running(kEndpoint) && rig.scrcpyRuns().size() == 2; }));
            QCOMPARE(rig.scrcpyRuns().last(), audioOnly(kEndpoint));
        } else {
            // No Wi-Fi address: the phone stays on USB, untouched, and its row says why.
            QVERIFY(shows({row("Pixel_7", TextKey::usbDetected, TextKey::rowNotOnWifi, false)}));
            QVERIFY(waitUntil([&] { return c.usbSetupsInProgress.isEmpty(); }));
            QVERIFY(advance(30));
            for (const QStringList& call : rig.adbCalls()) {
                QVERIFY2((call.value(2) == "shell" && call.value(3).startsWith("ip ")) ||
                             call == adb::startServer(),
                         qPrintable(call.join(' ')));
            }
            QVERIFY(rig.scrcpyRuns().isEmpty());
        }
    }

    // The address of each USB phone is looked up in the background, with retries for a phone
    // whose Wi-Fi is still coming up.
    void enrichmentRetriesTheProbe() {
        Rig rig({.adb = "when -s GOOD shell ip -f inet addr show wlan0.*\nout 192.168.1.23\n"});
        const QVector<DiscoveredDevice> rows = {usbRow("GOOD"), usbRow("BAD")};
        rig.c->discoveredDevices.set(rows);
        rig.c->enrichIPsForUSBDevices();
        // One probe found GOOD's address (whose set-up follows); BAD had three tries of every
        // command.
        const auto badCalls = [&] {
            const QList<QStringList> calls = rig.adbCalls();
            return std::count_if(calls.begin(), calls.end(),
                                 [](const QStringList& call) { return call.value(1) == "BAD"; });
        };
        QVERIFY(waitUntil([&] {
            return badCalls() == 3 * ipProbeCommands().size() &&
                   rig.c->wirelessEndpointBySerial.value("GOOD") == "192.168.1.23:5555";
        }));
        settle();
        QCOMPARE(badCalls(), 3 * ipProbeCommands().size());
    }

    void watcher() {
        QVERIFY(waitUntil([] { return childProcesses().isEmpty() && liveProcessObjects() == 0; }));
        const int fds = openFileDescriptors();
        {
            // Without adb there is nothing to watch.
            FakeResources empty;
            TestEnvironment env(&empty);
            ZovAdizuZadiRizov c(env.config);
            QVERIFY(!c.trackDevicesProcess && liveProcessObjects() == 0);
        }
        {
            // adb's server keeps going away: the watcher follows it, each time anew.
            Rig rig({.adb = "when track-devices\nexit 1\n"});
            QVERIFY(waitUntil(
                [&] { return rig.resources.arguments("adb").count(adb::trackDevices()) >= 20; }));
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
