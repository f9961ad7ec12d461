// sim_phone: a simulated Android phone for end-to-end tests with the real adb.
//
// It listens on 127.0.0.1:PORT and speaks enough of the adb transport protocol that the real
// adb server connects to it as a wireless device ("adb connect 127.0.0.1:PORT"), lists it,
// tracks it and runs shell commands on it. Never use a port from 5555 to 5585: the adb server
// scans those for emulators and would connect on its own.
//
// Protocol, as Debian's adb 29.0.6 demanded it:
// - Every message is a 24-byte header of six little-endian 32-bit words (command, arg0, arg1,
//   payload length, payload check = sum of the payload's bytes, magic = command XOR
//   0xFFFFFFFF) followed by the payload. Commands: CNXN 0x4E584E43, AUTH 0x48545541,
//   OPEN 0x4E45504F, OKAY 0x59414B4F, WRTE 0x45545257, CLSE 0x45534C43.
// - The host opens with CNXN(0x01000001, max payload, "host::features=..."). Answering at
//   once with CNXN(0x01000001, max payload, "device::ro.product.name=P;ro.product.model=M;
//   ro.product.device=D;features=shell_v2,cmd") puts the device online without AUTH. With that
//   version the host does not verify the payload check; we fill it in anyway.
//   "adb devices -l" then shows "127.0.0.1:PORT device product:P model:M device:D
//   transport_id:N" (spaces in the model become underscores).
// - A service: the host sends OPEN(host id, 0, "shell,v2,raw:COMMAND\0") (a "TERM=..." option
//   appears when TERM is set); the device answers OKAY(device id, host id), then
//   WRTE(device id, host id, data) packets, one in flight per stream: the host OKAYs each WRTE
//   before the next may go. The device ends with CLSE and the host answers CLSE. A refused
//   OPEN is answered with CLSE(0, host id). The host also sends WRTEs of its own (the shell's
//   close-stdin packet, possibly before it OKAYs ours); each must be OKAYed.
// - shell_v2 payload: packets of [id: 1 byte][length: 4 bytes LE][data]; id 1 stdout,
//   2 stderr, 3 exit status (1 byte), 4 close stdin, 5 window size. The adb client exits with
//   that status byte. Without the shell_v2 feature the service is "shell:COMMAND": stdout and
//   stderr arrive merged and the adb client always exits 0. Phones of that age ran such
//   commands on a pty, so their lines end in "\r\n"; this simulation does the same.
// - "tcpip:5555": the device writes "restarting in TCP mode port: 5555\n" and closes. (A real
//   daemon then restarts; this one keeps its connection, since it already is on TCP.)
// - A device that dies without closing stays listed as "offline"; adb 29's "track-devices"
//   does not report a connected device going offline (the server drops it about 57 s later,
//   or at once on "adb disconnect 127.0.0.1:PORT"). Tests that need it gone at once disconnect.
//   A phone started again on the same port before then is reconnected by the server on its own
//   (seen after about 10 s), and "track-devices" then shows it "offline" and "device" at once.
// - "adb connect" prints "connected to 127.0.0.1:PORT" as soon as the server has the socket; the
//   first table of "track-devices" may still show the device "offline", the next "device".
//
// Usage: sim_phone --port N [--product P] [--model M] [--device D] [--serial S] [--ip A]
//   [--wifi-interface wlan0|wifi0] [--battery-level L] [--charging none|ac|usb|wireless]
//   [--state-file F] [--no-shell-v2] [--verbose]
// Shell commands answered: "getprop" (all), "getprop ro.product.model|ro.product.device|
// ro.product.name|ro.serialno", "dumpsys battery", the three Wi-Fi address probes
// ("ip -f inet addr show wlan0|wifi0 | grep 'inet ' | awk '{print $2}' | cut -d/ -f1" and
// "ip route get 1 | awk '{print $7; exit}'"). An empty --ip means no Wi-Fi: the probes print
// nothing on stdout, as a phone does. Any other command exits 1 with a message on stderr.
// Battery: --battery-level and --charging give the start values; the state file, re-read on
// every "dumpsys battery", overrides them with "level=N" and "charging=SOURCE" lines, so a test
// changes the battery while the phone runs by rewriting that file (atomically, by rename).
// Once listening, the program prints "listening on 127.0.0.1:PORT" on stdout; it runs until
// killed, and can be started again on the same port.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <cstdio>
#include <map>

namespace {

constexpr quint32 kCnxn = 0x4E584E43;
constexpr quint32 kAuth = 0x48545541;
constexpr quint32 kOpen = 0x4E45504F;
constexpr quint32 kOkay = 0x59414B4F;
constexpr quint32 kWrte = 0x45545257;
constexpr quint32 kClse = 0x45534C43;
// The version that lets the host skip AUTH and the payload check.
constexpr quint32 kVersion = 0x01000001;
constexpr quint32 kOurMaxPayload = 256 * 1024;
constexpr int kHeaderSize = 24;
// Anything larger is not the adb protocol; drop the connection rather than buffer it.
constexpr quint32 kPayloadLimit = 16 * 1024 * 1024;

enum ShellPacket : char { kStdout = 1, kStderr = 2, kExit = 3 };

struct Options {
    QString product;
    QString model;
    QString device;
    QString serial;
    QString ip;
    QString wifiInterface;
    int batteryLevel = 80;
    QString charging;
    QString stateFile;
    bool shellV2 = true;
    bool verbose = false;
};

struct ShellResult {
    QByteArray out;
    QByteArray err;
    int status = 0;
};

struct Battery {
    int level = 0;
    QString charging;  // none, ac, usb or wireless
};

QString commandName(quint32 command) {
    QByteArray name(4, '\0');
    qToLittleEndian(command, name.data());
    return QString::fromLatin1(name);
}

Battery currentBattery(const Options& options) {
    Battery battery{options.batteryLevel, options.charging};
    if (options.stateFile.isEmpty()) {
        return battery;
    }
    QFile file(options.stateFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return battery;
    }
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        bool ok = false;
        if (line.startsWith("level=")) {
            const int level = line.mid(6).toInt(&ok);
            if (ok) {
                battery.level = level;
            }
        } else if (line.startsWith("charging=")) {
            battery.charging = QString::fromUtf8(line.mid(9));
        }
    }
    return battery;
}

// The shape of a real "dumpsys battery" on Android 10.
QByteArray batteryDump(const Battery& battery) {
    const bool charging = battery.charging != QLatin1String("none");
    // A full phone on its charger reports "Full" (5), not "Charging" (2).
    const int status = !charging ? 3 : (battery.level >= 100 ? 5 : 2);
    auto flag = [&](const char* source) {
        return battery.charging == QLatin1String(source) ? "true" : "false";
    };
    QByteArray dump;
    dump += "Current Battery Service state:\n";
    dump += QByteArray("  AC powered: ") + flag("ac") + "\n";
    dump += QByteArray("  USB powered: ") + flag("usb") + "\n";
    dump += QByteArray("  Wireless powered: ") + flag("wireless") + "\n";
    dump += "  Max charging current: " + QByteArray(charging ? "1500000" : "0") + "\n";
    dump += "  Max charging voltage: " + QByteArray(charging ? "5000000" : "0") + "\n";
    dump += "  Charging counter: 2845000\n";
    dump += "  status: " + QByteArray::number(status) + "\n";
    dump += "  health: 2\n";
    dump += "  present: true\n";
    dump += "  level: " + QByteArray::number(battery.level) + "\n";
    dump += "  scale: 100\n";
    dump += "  voltage: 4012\n";
    dump += "  temperature: 281\n";
    dump += "  technology: Li-ion\n";
    return dump;
}

QByteArray addressProbe(const Options& options, const QString& interface) {
    if (options.ip.isEmpty() || options.wifiInterface != interface) {
        return {};
    }
    return options.ip.toUtf8() + "\n";
}

ShellResult runShell(const QString& rawCommand, const Options& options) {
    const QString command = rawCommand.trimmed();
    const QList<std::pair<QString, QString>> properties = {
        {QStringLiteral("ro.product.device"), options.device},
        {QStringLiteral("ro.product.model"), options.model},
        {QStringLiteral("ro.product.name"), options.product},
        {QStringLiteral("ro.serialno"), options.serial},
    };
    if (command == QLatin1String("getprop")) {
        ShellResult result;
        for (const auto& [key, value] : properties) {
            result.out += "[" + key.toUtf8() + "]: [" + value.toUtf8() + "]\n";
        }
        return result;
    }
    if (command.startsWith(QLatin1String("getprop "))) {
        const QString key = command.mid(8).trimmed();
        ShellResult result;
        // An unknown property prints an empty line, as on a phone.
        for (const auto& [name, value] : properties) {
            if (name == key) {
                result.out = value.toUtf8();
            }
        }
        result.out += "\n";
        return result;
    }
    if (command == QLatin1String("dumpsys battery")) {
        return {batteryDump(currentBattery(options)), {}, 0};
    }
    for (const QString& interface : {QStringLiteral("wlan0"), QStringLiteral("wifi0")}) {
        if (command == QStringLiteral("ip -f inet addr show %1 | grep 'inet ' | awk '{print $2}' "
                                      "| cut -d/ -f1")
                           .arg(interface)) {
            ShellResult result{addressProbe(options, interface), {}, 0};
            if (options.ip.isEmpty() || options.wifiInterface != interface) {
                // The pipeline's status is cut's, so a missing interface still exits 0.
                result.err = "Device \"" + interface.toUtf8() + "\" does not exist.\n";
            }
            return result;
        }
    }
    if (command == QLatin1String("ip route get 1 | awk '{print $7; exit}'")) {
        if (options.ip.isEmpty()) {
            return {{}, "RTNETLINK answers: Network is unreachable\n", 0};
        }
        return {options.ip.toUtf8() + "\n", {}, 0};
    }
    return {{}, "sim_phone: unsupported command: " + command.toUtf8() + "\n", 1};
}

QByteArray shellPacket(ShellPacket id, const QByteArray& data) {
    QByteArray packet(5, '\0');
    packet[0] = id;
    qToLittleEndian(quint32(data.size()), packet.data() + 1);
    return packet + data;
}

// One adb stream opened by the host: what is left to write, and whether a WRTE awaits its OKAY.
struct Stream {
    quint32 hostId = 0;
    QList<QByteArray> pending;
    bool awaitingOkay = false;
    bool closeSent = false;
};

class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, const Options& options)
        : QObject(socket), socket_(socket), options_(options) {
        connect(socket_, &QTcpSocket::readyRead, this, &Connection::onReadyRead);
        connect(socket_, &QTcpSocket::disconnected, socket_, &QObject::deleteLater);
    }

private:
    void onReadyRead() {
        buffer_ += socket_->readAll();
        while (buffer_.size() >= kHeaderSize) {
            const auto* header = reinterpret_cast<const uchar*>(buffer_.constData());
            const quint32 command = qFromLittleEndian<quint32>(header);
            const quint32 arg0 = qFromLittleEndian<quint32>(header + 4);
            const quint32 arg1 = qFromLittleEndian<quint32>(header + 8);
            const quint32 length = qFromLittleEndian<quint32>(header + 12);
            const quint32 magic = qFromLittleEndian<quint32>(header + 20);
            if (magic != (command ^ 0xFFFFFFFFu) || length > kPayloadLimit) {
                trace(QStringLiteral("bad header; dropping the connection"));
                socket_->abort();
                return;
            }
            if (buffer_.size() < kHeaderSize + qsizetype(length)) {
                return;
            }
            const QByteArray payload = buffer_.mid(kHeaderSize, length);
            buffer_.remove(0, kHeaderSize + length);
            handle(command, arg0, arg1, payload);
        }
    }

    void handle(quint32 command, quint32 arg0, quint32 arg1, const QByteArray& payload) {
        trace(QStringLiteral("<- %1 %2 %3 %4")
                  .arg(commandName(command))
                  .arg(arg0)
                  .arg(arg1)
                  .arg(QString::fromLatin1(payload.left(120).toPercentEncoding(" :;,=./'{}$|"))));
        switch (command) {
            case kCnxn:
                hostMaxPayload_ = qMax<quint32>(arg1, 4096);
                send(kCnxn, kVersion, kOurMaxPayload, deviceBanner());
                break;
            case kOpen:
                open(arg0, payload);
                break;
            case kOkay:
                if (auto it = streams_.find(arg1); it != streams_.end()) {
                    it->second.awaitingOkay = false;
                    pump(arg1);
                }
                break;
            case kWrte:
                // Stdin, close-stdin and window-size packets: acknowledged and ignored.
                if (streams_.count(arg1) != 0) {
                    send(kOkay, arg1, arg0, {});
                }
                break;
            case kClse:
                if (auto it = streams_.find(arg1); it != streams_.end()) {
                    if (!it->second.closeSent) {
                        send(kClse, arg1, arg0, {});
                    }
                    streams_.erase(it);
                }
                break;
            case kAuth:
            default:
                // We never ask for AUTH, so the host has no reason to send it.
                break;
        }
    }

    QByteArray deviceBanner() const {
        const QString features =
            options_.shellV2 ? QStringLiteral("shell_v2,cmd") : QStringLiteral("cmd");
        return QStringLiteral(
                   "device::ro.product.name=%1;ro.product.model=%2;ro.product.device=%3;"
                   "features=%4")
            .arg(options_.product, options_.model, options_.device, features)
            .toUtf8();
    }

    void open(quint32 hostId, QByteArray service) {
        if (service.endsWith('\0')) {
            service.chop(1);
        }
        QByteArray output;
        const int colon = service.indexOf(':');
        const QByteArray kind = colon < 0 ? service : service.left(colon);
        const QString argument = QString::fromUtf8(service.mid(colon + 1));
        const QList<QByteArray> shellOptions = kind.split(',');
        if (colon >= 0 && shellOptions.first() == "shell") {
            const ShellResult result = runShell(argument, options_);
            if (shellOptions.contains("v2")) {
                if (!result.out.isEmpty()) {
                    output += shellPacket(kStdout, result.out);
                }
                if (!result.err.isEmpty()) {
                    output += shellPacket(kStderr, result.err);
                }
                output += shellPacket(kExit, QByteArray(1, char(result.status)));
            } else {
                output = result.out + result.err;
                output.replace("\n", "\r\n");
            }
        } else if (colon >= 0 && kind == "exec") {
            const ShellResult result = runShell(argument, options_);
            output = result.out + result.err;
        } else if (colon >= 0 && kind == "tcpip") {
            output = "restarting in TCP mode port: " + argument.toUtf8() + "\n";
        } else {
            send(kClse, 0, hostId, {});
            return;
        }
        const quint32 localId = nextLocalId_++;
        Stream stream;
        stream.hostId = hostId;
        const qsizetype chunk = qMin(hostMaxPayload_, kOurMaxPayload);
        for (qsizetype at = 0; at < output.size(); at += chunk) {
            stream.pending.append(output.mid(at, chunk));
        }
        streams_[localId] = stream;
        send(kOkay, localId, hostId, {});
        pump(localId);
    }

    // Sends the next piece of a stream when the previous one has been acknowledged; closes the
    // stream once everything has been acknowledged.
    void pump(quint32 localId) {
        Stream& stream = streams_[localId];
        if (stream.awaitingOkay || stream.closeSent) {
            return;
        }
        if (!stream.pending.isEmpty()) {
            send(kWrte, localId, stream.hostId, stream.pending.takeFirst());
            stream.awaitingOkay = true;
        } else {
            send(kClse, localId, stream.hostId, {});
            stream.closeSent = true;
        }
    }

    void send(quint32 command, quint32 arg0, quint32 arg1, const QByteArray& payload) {
        trace(QStringLiteral("-> %1 %2 %3 (%4 bytes)")
                  .arg(commandName(command))
                  .arg(arg0)
                  .arg(arg1)
                  .arg(payload.size()));
        quint32 check = 0;
        for (const char byte : payload) {
            check += uchar(byte);
        }
        QByteArray header(kHeaderSize, '\0');
        const quint32 words[6] = {
            command, arg0, arg1, quint32(payload.size()), check, command ^ 0xFFFFFFFFu};
        for (int i = 0; i < 6; ++i) {
            qToLittleEndian(words[i], header.data() + 4 * i);
        }
        socket_->write(header + payload);
    }

    void trace(const QString& line) const {
        if (options_.verbose) {
            std::fprintf(stderr, "sim_phone: %s\n", qPrintable(line));
        }
    }

    QTcpSocket* socket_;
    const Options& options_;
    QByteArray buffer_;
    quint32 hostMaxPayload_ = 4096;
    quint32 nextLocalId_ = 1;
    std::map<quint32, Stream> streams_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A simulated Android phone for adb tests."));
    parser.addHelpOption();
    auto option = [&](const char* name, const char* help, const char* fallback) {
        QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(help),
                             QStringLiteral("value"), QString::fromLatin1(fallback));
        parser.addOption(o);
        return o;
    };
    const auto portOption = option("port", "TCP port on 127.0.0.1", "");
    const auto productOption = option("product", "ro.product.name", "sim_product");
    const auto modelOption = option("model", "ro.product.model", "Sim Phone");
    const auto deviceOption = option("device", "ro.product.device", "simdevice");
    const auto serialOption = option("serial", "ro.serialno", "SIM0000001");
    const auto ipOption = option("ip", "Wi-Fi IPv4 address (empty: no Wi-Fi)", "192.168.1.23");
    const auto interfaceOption = option("wifi-interface", "wlan0 or wifi0", "wlan0");
    const auto levelOption = option("battery-level", "battery level in percent", "80");
    const auto chargingOption = option("charging", "none, ac, usb or wireless", "none");
    const auto stateOption = option("state-file", "battery state file, re-read each time", "");
    const QCommandLineOption noV2Option(QStringLiteral("no-shell-v2"),
                                        QStringLiteral("an old phone without shell_v2"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("trace every message on stderr"));
    parser.addOption(noV2Option);
    parser.addOption(verboseOption);
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port == 0 || port > 65535 || (port >= 5555 && port <= 5585)) {
        std::fprintf(stderr, "sim_phone: --port must be 1-65535 outside 5555-5585\n");
        return 2;
    }
    const QString charging = parser.value(chargingOption);
    if (!QStringList{"none", "ac", "usb", "wireless"}.contains(charging)) {
        std::fprintf(stderr, "sim_phone: --charging must be none, ac, usb or wireless\n");
        return 2;
    }
    Options options;
    options.product = parser.value(productOption);
    options.model = parser.value(modelOption);
    options.device = parser.value(deviceOption);
    options.serial = parser.value(serialOption);
    options.ip = parser.value(ipOption);
    options.wifiInterface = parser.value(interfaceOption);
    options.batteryLevel = parser.value(levelOption).toInt();
    options.charging = charging;
    options.stateFile = parser.value(stateOption);
    options.shellV2 = !parser.isSet(noV2Option);
    options.verbose = parser.isSet(verboseOption);

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        std::fprintf(stderr, "sim_phone: cannot listen on 127.0.0.1:%u: %s\n", port,
                     qPrintable(server.errorString()));
        return 2;
    }
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            new Connection(socket, options);
        }
    });
    std::printf("listening on 127.0.0.1:%u\n", port);
    std::fflush(stdout);
    return app.exec();
}
