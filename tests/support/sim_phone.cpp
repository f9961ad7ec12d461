// sim_phone: a simulated Android phone for end-to-end tests with the real adb.
//
// Usage: sim_phone PORT BATTERY_FILE. It listens on 127.0.0.1:PORT and speaks enough of the adb
// transport protocol that the real adb server connects to it ("adb connect 127.0.0.1:PORT"),
// lists it as "model:Sim_Phone", tracks it and runs the shell commands the application sends.
// Once listening it prints "listening" on stdout; it runs until killed. Never use a port from
// 5555 to 5585: the adb server scans those for emulators and would connect on its own.
//
// The protocol, as Debian's adb 29.0.6 demanded it:
// - Every message is a 24-byte header of six little-endian 32-bit words (command, arg0, arg1,
//   payload length, payload check = sum of the payload's bytes, magic = command XOR
//   0xFFFFFFFF) followed by the payload.
// - The host opens with CNXN; answering at once with CNXN(0x01000001, max payload,
//   "device::...;features=shell_v2,cmd") puts the device online without AUTH.
// - A service: OPEN(host id, 0, "shell,v2,raw:COMMAND\0"); the device answers OKAY(device id,
//   host id), then WRTE packets, one in flight per stream (the host OKAYs each before the next),
//   and ends with CLSE. A refused OPEN is answered with CLSE(0, host id). The host's own WRTEs
//   (close-stdin) must be OKAYed.
// - shell_v2 payload: packets of [id: 1 byte][length: 4 bytes LE][data]; id 1 stdout, 2 stderr,
//   3 exit status (1 byte). The adb client exits with that status.
// - A device that dies without closing stays listed "offline" until the server drops it (about
//   57 s) or "adb disconnect 127.0.0.1:PORT"; adb 29's "track-devices" does not report it.
//
// Battery: BATTERY_FILE holds "LEVEL SOURCE" (SOURCE none, ac, usb or wireless), re-read on every
// "dumpsys battery", so a test changes the battery while the phone runs by rewriting it.

#include <sys/prctl.h>

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <csignal>
#include <cstdio>
#include <map>

namespace {

constexpr quint32 kCnxn = 0x4E584E43;
constexpr quint32 kOpen = 0x4E45504F;
constexpr quint32 kOkay = 0x59414B4F;
constexpr quint32 kWrte = 0x45545257;
constexpr quint32 kClse = 0x45534C43;
constexpr quint32 kMaxPayload = 4096;
constexpr int kHeaderSize = 24;

struct ShellResult {
    QByteArray out;
    QByteArray err;
    char status = 0;
};

// The shape of a real "dumpsys battery" on Android 10, with what the parser reads.
QByteArray batteryDump(const QString& file) {
    QFile state(file);
    const QList<QByteArray> fields = state.open(QIODevice::ReadOnly)
                                         ? state.readAll().simplified().split(' ')
                                         : QList<QByteArray>();
    const QByteArray level = fields.value(0, "80");
    const QByteArray source = fields.value(1, "none");
    const bool charging = source != "none";
    auto flag = [&](const char* name) { return source == name ? "true\n" : "false\n"; };
    return QByteArray("Current Battery Service state:\n  AC powered: ") + flag("ac") +
           "  USB powered: " + flag("usb") + "  Wireless powered: " + flag("wireless") +
           "  status: " + (charging ? (level.toInt() >= 100 ? "5" : "2") : "3") +
           "\n  health: 2\n  present: true\n  level: " + level + "\n  scale: 100\n";
}

ShellResult runShell(const QString& command, const QString& batteryFile) {
    static const std::map<QString, QByteArray> answers = {
        {QStringLiteral("getprop ro.product.model"), "Sim Phone\n"},
        {QStringLiteral("getprop ro.product.device"), "simdevice\n"},
        {QStringLiteral("getprop ro.serialno"), "SIM0000001\n"},
        {QStringLiteral(
             "ip -f inet addr show wlan0 | grep 'inet ' | awk '{print $2}' | cut -d/ -f1"),
         "192.168.1.23\n"},
        {QStringLiteral("ip route"),
         "192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.23\n"},
    };
    if (command == QLatin1String("dumpsys battery")) {
        return {batteryDump(batteryFile), {}, 0};
    }
    if (const auto it = answers.find(command); it != answers.end()) {
        return {it->second, {}, 0};
    }
    return {{}, "sim_phone: unsupported command: " + command.toUtf8() + "\n", 1};
}

QByteArray shellPacket(char id, const QByteArray& data) {
    QByteArray packet(5, id);
    qToLittleEndian(quint32(data.size()), packet.data() + 1);
    return packet + data;
}

// One stream opened by the host: what is left to write, and whether a WRTE awaits its OKAY.
struct Stream {
    quint32 hostId = 0;
    QList<QByteArray> pending;
    bool awaitingOkay = false;
    bool closeSent = false;
};

class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, const QString& batteryFile)
        : QObject(socket), socket_(socket), batteryFile_(batteryFile) {
        connect(socket_, &QTcpSocket::readyRead, this, &Connection::onReadyRead);
        connect(socket_, &QTcpSocket::disconnected, socket_, &QObject::deleteLater);
    }

private:
    void onReadyRead() {
        buffer_ += socket_->readAll();
        while (buffer_.size() >= kHeaderSize) {
            quint32 word[6];
            for (int i = 0; i < 6; ++i) {
                word[i] = qFromLittleEndian<quint32>(buffer_.constData() + 4 * i);
            }
            if (word[5] != (word[0] ^ 0xFFFFFFFFu) || word[3] > 16 * 1024 * 1024) {
                socket_->abort();  // not the adb protocol
                return;
            }
            if (buffer_.size() < kHeaderSize + qsizetype(word[3])) {
                return;
            }
            const QByteArray payload = buffer_.mid(kHeaderSize, word[3]);
            buffer_.remove(0, kHeaderSize + word[3]);
            handle(word[0], word[1], word[2], payload);
        }
    }

    void handle(quint32 command, quint32 arg0, quint32 arg1, const QByteArray& payload) {
        const auto stream = streams_.find(arg1);
        if (command == kCnxn) {
            send(kCnxn, 0x01000001, kMaxPayload,
                 "device::ro.product.name=sim_product;ro.product.model=Sim Phone;"
                 "ro.product.device=simdevice;features=shell_v2,cmd");
        } else if (command == kOpen) {
            open(arg0, payload);
        } else if (stream == streams_.end()) {
            return;
        } else if (command == kOkay) {
            stream->second.awaitingOkay = false;
            pump(arg1);
        } else if (command == kWrte) {
            send(kOkay, arg1, arg0, {});
        } else if (command == kClse) {
            if (!stream->second.closeSent) {
                send(kClse, arg1, arg0, {});
            }
            streams_.erase(stream);
        }
    }

    void open(quint32 hostId, const QByteArray& service) {
        const QString argument =
            QString::fromUtf8(service.mid(service.indexOf(':') + 1)).remove(QChar(0));
        QByteArray output;
        if (service.startsWith("shell,v2")) {
            const ShellResult result = runShell(argument.trimmed(), batteryFile_);
            output = (result.out.isEmpty() ? QByteArray() : shellPacket(1, result.out)) +
                     (result.err.isEmpty() ? QByteArray() : shellPacket(2, result.err)) +
                     shellPacket(3, QByteArray(1, result.status));
        } else if (service.startsWith("tcpip:")) {
            // A real daemon restarts; this one is on TCP already and keeps its connection.
            output = "restarting in TCP mode port: " + argument.toUtf8() + "\n";
        } else {
            send(kClse, 0, hostId, {});
            return;
        }
        const quint32 localId = nextLocalId_++;
        Stream& stream = streams_[localId];
        stream.hostId = hostId;
        for (qsizetype at = 0; at < output.size(); at += kMaxPayload) {
            stream.pending.append(output.mid(at, kMaxPayload));
        }
        send(kOkay, localId, hostId, {});
        pump(localId);
    }

    // The next piece once the previous one is acknowledged; the close once all of them are.
    void pump(quint32 localId) {
        Stream& stream = streams_[localId];
        if (stream.awaitingOkay || stream.closeSent) {
            return;
        }
        stream.awaitingOkay = !stream.pending.isEmpty();
        stream.closeSent = !stream.awaitingOkay;
        send(stream.awaitingOkay ? kWrte : kClse, localId, stream.hostId,
             stream.awaitingOkay ? stream.pending.takeFirst() : QByteArray());
    }

    void send(quint32 command, quint32 arg0, quint32 arg1, const QByteArray& payload) {
        quint32 check = 0;
        for (const char byte : payload) {
            check += uchar(byte);
        }
        const quint32 words[6] = {
            command, arg0, arg1, quint32(payload.size()), check, command ^ 0xFFFFFFFFu};
        QByteArray header(kHeaderSize, '\0');
        for (int i = 0; i < 6; ++i) {
            qToLittleEndian(words[i], header.data() + 4 * i);
        }
        socket_->write(header + payload);
    }

    QTcpSocket* socket_;
    QString batteryFile_;
    QByteArray buffer_;
    quint32 nextLocalId_ = 1;
    std::map<quint32, Stream> streams_;
};

}  // namespace

int main(int argc, char** argv) {
    // Ends with the test that started it, also when that test crashed or was killed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const uint port = args.value(1).toUInt();
    QTcpServer server;
    if (args.size() != 3 || port == 0 || (port >= 5555 && port <= 5585) ||
        !server.listen(QHostAddress::LocalHost, quint16(port))) {
        std::fprintf(stderr,
                     "usage: sim_phone PORT BATTERY_FILE (a free port outside 5555-5585)\n");
        return 2;
    }
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            new Connection(socket, args.at(2));
        }
    });
    std::printf("listening\n");
    std::fflush(stdout);
    return app.exec();
}
