#include <QTest>

#include "discovery/track_stream.h"

using namespace sonavel;

namespace {

// Bytes captured from Debian's adb 29.0.6 "track-devices" on a fresh server port, with one
// wireless device coming and going.
const QByteArray kServerStart =
    "* daemon not running; starting now at tcp:5037\n* daemon started successfully\n";
const QByteArray kEmptyTable = "0000";
const QByteArray kOfflineTable = "0017127.0.0.1:5601\toffline\n";
const QByteArray kOnlineTable = "0016127.0.0.1:5601\tdevice\n";

// What the tool wrote when another client started the server at the same moment.
const QByteArray kServerStartFailed =
    "* daemon not running; starting now at tcp:15472\n"
    "ADB server didn't ACK\n"
    "Full server startup log: /tmp/adb.0.log\n"
    "Server had pid: 29985\n"
    "--- adb starting (pid 29985) ---\n"
    "adb I 12-06 20:39:28 29985 29985 main.cpp:60] Android Debug Bridge version 1.0.41\n"
    "adb I 12-06 20:39:28 29985 29985 main.cpp:60] \n"
    "adb F 12-06 20:39:28 29985 29985 main.cpp:144] could not install *smartsocket* listener: "
    "Address already in use\n"
    "\n"
    "* failed to start daemon\n"
    "adb: failed to check server version: cannot connect to daemon\n";

QByteArray frame(const QByteArray& table) {
    return QByteArray::number(table.size(), 16).rightJustified(4, '0') + table;
}

// A decoder with its own state, fed read by read.
struct Decoder {
    QByteArray buffer;
    QStringList lines;
    std::optional<bool> framed;
    QList<TrackSnapshot> feed(const QByteArray& read) {
        return feedTrackStream({buffer, lines, framed}, read);
    }
    QList<TrackSnapshot> feedAll(const QList<QByteArray>& reads) {
        QList<TrackSnapshot> all;
        for (const QByteArray& r : reads) {
            all += feed(r);
        }
        return all;
    }
};

TrackContext context(std::optional<QString> observed = std::nullopt, QSet<QString> known = {},
                     QString endpoint = {}, QSet<QString> awaiting = {}) {
    return {std::move(observed), std::move(known), std::move(awaiting), std::move(endpoint)};
}

TrackEvaluation evaluate(const QStringList& lines, const TrackContext& ctx) {
    return evaluateTrackSnapshot(parseTrackEntries(lines), ctx);
}

}  // namespace

class TrackStreamTest : public QObject {
    Q_OBJECT
private slots:
    void decodesRealToolStream();
    void joinsSplitFramesAndSplitsJoinedOnes();
    void blankLineFormat();
    void failedServerStartIsNoTable();
    void hostileStream();
    void serialTokens();
    void parsesEntries();
    void followsObservedDevice();
    void newDevicesAndWirelessState();
    void phoneAllowedAfterPrompt();
};

void TrackStreamTest::decodesRealToolStream() {
    Decoder d;
    const QList<TrackSnapshot> tables =
        d.feed(kServerStart + kEmptyTable + kOfflineTable + kOnlineTable + kEmptyTable);
    QCOMPARE(tables.size(), 4);
    QVERIFY(tables[0].complete);
    QVERIFY(tables[0].lines.isEmpty());
    QCOMPARE(tables[1].lines, QStringList{"127.0.0.1:5601\toffline"});
    QCOMPARE(tables[2].lines, QStringList{"127.0.0.1:5601\tdevice"});
    QVERIFY(tables[3].lines.isEmpty());
    QCOMPARE(d.framed, std::optional<bool>(true));
    QVERIFY(d.buffer.isEmpty());

    // The empty table is a snapshot with no device in it.
    const TrackEvaluation empty =
        evaluate(tables[0].lines, context("R58M12345", {"R58M12345"}, "127.0.0.1:5601"));
    QVERIFY(!empty.usbConnected);
    QVERIFY(!empty.wirelessOnline);
    QVERIFY(empty.observedMissing);
    QVERIFY(!evaluate(tables[1].lines, context()).wirelessOnline);
    QVERIFY(evaluate(tables[2].lines, context()).wirelessOnline);

    // A USB serial made of hex digits is not mistaken for a length.
    Decoder usb;
    const QList<TrackSnapshot> t = usb.feed(frame("0123456789ABCDEF\tdevice\n"));
    QCOMPARE(t.size(), 1);
    QCOMPARE(parseTrackEntries(t[0].lines)[0].serial, QStringLiteral("0123456789ABCDEF"));
}

void TrackStreamTest::joinsSplitFramesAndSplitsJoinedOnes() {
    const QByteArray stream = kServerStart + kEmptyTable + frame("R58M12345\tdevice\n") +
                              kOfflineTable + frame("R58M12345\tdevice\n127.0.0.1:5601\tdevice\n");
    // Every cut of the stream into two reads yields the same tables.
    for (qsizetype cut = 1; cut < stream.size(); ++cut) {
        Decoder d;
        const QList<TrackSnapshot> tables = d.feedAll({stream.left(cut), stream.mid(cut)});
        QCOMPARE(tables.size(), 4);
        QCOMPARE(tables[1].lines, QStringList{"R58M12345\tdevice"});
        QCOMPARE(tables[3].lines.size(), 2);
    }
    // Byte by byte, too.
    Decoder d;
    QList<QByteArray> bytes;
    for (char c : stream) {
        bytes << QByteArray(1, c);
    }
    QCOMPARE(d.feedAll(bytes).size(), 4);
}

void TrackStreamTest::blankLineFormat() {
    Decoder d;
    QList<TrackSnapshot> tables = d.feedAll({"R58M1", "2345\tdevice\n\n"});
    QCOMPARE(tables.size(), 1);
    QVERIFY(!tables[0].complete);
    QCOMPARE(tables[0].lines, QStringList{"R58M12345\tdevice"});
    QCOMPARE(d.framed, std::optional<bool>(false));

    // A hex-looking first serial with its glued length, CRLF ends, a header and noise.
    Decoder glued;
    tables = glued.feedAll({"001a192.168.1.23:5555\tdevice\r\n", "\r\n",
                            "List of devices attached\n* daemon started successfully\nx\n\n"});
    QCOMPARE(tables.size(), 2);
    QCOMPARE(parseTrackEntries(tables[0].lines)[0].serial, QStringLiteral("192.168.1.23:5555"));
    QCOMPARE(tables[1].lines, (QStringList{"List of devices attached", "x"}));
    QVERIFY(parseTrackEntries(tables[1].lines).isEmpty());

    // A table without its closing blank line waits.
    Decoder open;
    QVERIFY(open.feed("R58M12345\tdevice\n").isEmpty());
    QCOMPARE(open.lines, QStringList{"R58M12345\tdevice"});
    QCOMPARE(open.feed("\n").size(), 1);
}

void TrackStreamTest::failedServerStartIsNoTable() {
    // Read as a blank-line table, this would say "nothing attached" while a phone may be.
    Decoder d;
    QVERIFY(d.feed(kServerStartFailed).isEmpty());
    QCOMPARE(d.framed, std::nullopt);
    QVERIFY(d.lines.isEmpty());
    // Had the tool gone on, its tables would still be read.
    QCOMPARE(d.feed(kEmptyTable + kOnlineTable).size(), 2);
}

void TrackStreamTest::hostileStream() {
    // A read that is not UTF-8 is dropped whole; the buffer keeps what it had.
    Decoder d;
    QVERIFY(d.feed("0016127.0.0.1").isEmpty());
    QVERIFY(d.feed(QByteArray(":5601\t\xff\xfe", 8)).isEmpty());
    QCOMPARE(d.buffer, QByteArray("0016127.0.0.1"));
    QCOMPARE(d.feed(":5601\tdevice\n").size(), 1);

    // A prefix that is not hexadecimal is skipped up to its line feed; the next table counts.
    Decoder garbage;
    QList<TrackSnapshot> tables = garbage.feedAll({kEmptyTable, "zz17garbage\n", kOnlineTable});
    QCOMPARE(tables.size(), 2);
    QCOMPARE(tables[1].lines, QStringList{"127.0.0.1:5601\tdevice"});

    // A length beyond what has arrived is waited for.
    Decoder longer;
    QCOMPARE(longer.feedAll({kEmptyTable, "0040R58M12345\tdevice\n"}).size(), 1);
    QVERIFY(!longer.buffer.isEmpty());

    // A 1 MB line is waited for, then skipped as garbage, and what follows is evaluated.
    Decoder big;
    const QByteArray mb(1 << 20, 'x');
    QVERIFY(big.feedAll({mb.left(1000), mb.mid(1000)}).isEmpty());
    tables = big.feedAll({"\nR58M12345\tdevice\n\n"});
    QCOMPARE(tables.size(), 1);
    const QVector<TrackEntry> entries = parseTrackEntries(tables[0].lines);
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].serial, QStringLiteral("R58M12345"));

    // Noise beyond any table size is dropped rather than kept for ever.
    Decoder flood;
    const QByteArray chunk(1 << 20, 'y');
    for (int i = 0; i < 6; ++i) {
        flood.feed(chunk);
    }
    QVERIFY(flood.buffer.size() <= kMaxPendingTrackBytes);

    QVERIFY(Decoder().feed({}).isEmpty());
}

void TrackStreamTest::serialTokens() {
    QCOMPARE(normalizeTrackSerial("001a192.168.1.23:5555"), QStringLiteral("192.168.1.23:5555"));
    QCOMPARE(normalizeTrackSerial("0012R58M12345"), QStringLiteral("0012R58M12345"));
    QCOMPARE(normalizeTrackSerial("  192.168.1.23:5555\r\n"), QStringLiteral("192.168.1.23:5555"));
    QCOMPARE(normalizeTrackSerial("00"), QStringLiteral("00"));
    QCOMPARE(normalizeTrackSerial("ＡＢＣＤ1.2"), QStringLiteral("ＡＢＣＤ1.2"));
    QVERIFY(isUSBSerialToken("R58M12345"));
    QVERIFY(!isUSBSerialToken("192.168.1.23:5555"));
    QVERIFY(!isUSBSerialToken("emulator.local"));
    QVERIFY(!isUSBSerialToken("ADB-ABC123-xyz"));
    QVERIFY(!isUSBSerialToken("x._adb-tls-connect._TCP"));
}

void TrackStreamTest::parsesEntries() {
    const QVector<TrackEntry> entries = parseTrackEntries(
        {"List of devices attached", "lonely", "R58M12345   DEVICE  usb:1-1", "  ", "a\tb\tc"});
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0].serial, QStringLiteral("R58M12345"));
    QCOMPARE(entries[0].state, QStringLiteral("device"));
    QCOMPARE(entries[1].state, QStringLiteral("b"));
    QVERIFY(!evaluate({"List of devices attached"}, context()).usbConnected);
}

void TrackStreamTest::followsObservedDevice() {
    // First sighting.
    TrackEvaluation ev = evaluate({"R58M12345\tdevice"}, context());
    QVERIFY(ev.observedInitialized);
    QCOMPARE(ev.observedUSBSerial, std::optional<QString>("R58M12345"));
    QVERIFY(ev.usbConnected);
    QCOMPARE(ev.newlyReady, QStringList{"R58M12345"});

    // Present, "authorizing" included.
    ev = evaluate({"R58M12345\tauthorizing"}, context("R58M12345", {"R58M12345"}));
    QVERIFY(ev.usbConnected);
    QVERIFY(!ev.observedOffline && !ev.observedMissing && !ev.switchedTo);

    // Offline with nothing else: disconnected, the observed serial stays.
    ev = evaluate({"R58M12345\toffline"}, context("R58M12345", {"R58M12345"}));
    QVERIFY(ev.observedOffline);
    QVERIFY(!ev.usbConnected);
    QCOMPARE(ev.observedUSBSerial, std::optional<QString>("R58M12345"));

    // Unauthorized: no line of its own, but a switch when another device is present.
    ev = evaluate({"R58M12345\tunauthorized", "ABC987\tdevice"},
                  context("R58M12345", {"R58M12345", "ABC987"}));
    QVERIFY(!ev.observedOffline && !ev.observedMissing);
    QCOMPARE(ev.switchedTo, std::optional<QString>("ABC987"));
    QVERIFY(ev.newlyReady.isEmpty());

    // Missing, another USB device present: switch to it (and it is new, so it is set up too).
    ev = evaluate({"ABC987\tdevice", "192.168.1.23:5555\tdevice"},
                  context("R58M12345", {"R58M12345"}));
    QVERIFY(ev.observedMissing);
    QCOMPARE(ev.switchedTo, std::optional<QString>("ABC987"));
    QCOMPARE(ev.observedUSBSerial, std::optional<QString>("ABC987"));
    QCOMPARE(ev.newlyReady, QStringList{"ABC987"});
    QVERIFY(ev.usbConnected);

    // A wireless entry is never the observed USB device.
    ev = evaluate({"192.168.1.23:5555\tdevice"}, context());
    QVERIFY(!ev.observedInitialized);
    QVERIFY(!ev.usbConnected);
}

void TrackStreamTest::newDevicesAndWirelessState() {
    const TrackEvaluation ev = evaluate(
        {"R58M12345\tdevice", "NEW1\tauthorizing", "NEW1\tdevice", "OLD\tdevice", "GONE\toffline"},
        context("R58M12345", {"R58M12345", "OLD"}));
    QCOMPARE(ev.newlyReady, QStringList{"NEW1"});

    // The endpoint decides alone when no other wireless entry is online.
    QVERIFY(!evaluate({"192.168.1.23:5555\toffline"}, context({}, {}, "192.168.1.23:5555"))
                 .wirelessOnline);
    QVERIFY(evaluate({"001a192.168.1.23:5555\tdevice"}, context({}, {}, "192.168.1.23:5555"))
                .wirelessOnline);
    QVERIFY(evaluate({"192.168.1.24:5555\tdevice"}, context({}, {}, "192.168.1.23:5555"))
                .wirelessOnline);
    QVERIFY(!evaluate({"R58M12345\tdevice"}, context({}, {}, "")).wirelessOnline);
}

void TrackStreamTest::phoneAllowedAfterPrompt() {
    // Plug-in: the prompt is on the phone. Nothing to set up, but the serial is remembered.
    TrackEvaluation ev = evaluate({"R58M12345\tunauthorized"}, context());
    QVERIFY(ev.newlyReady.isEmpty());
    QCOMPARE(ev.awaitingAdded, QStringList{"R58M12345"});
    QVERIFY(!ev.usbConnected);

    // Meanwhile the USB check has recorded it as known and observed. The user accepts:
    ev = evaluate({"R58M12345\tdevice"}, context("R58M12345", {"R58M12345"}, {}, {"R58M12345"}));
    QCOMPARE(ev.newlyReady, QStringList{"R58M12345"});
    QCOMPARE(ev.awaitingCleared, QStringList{"R58M12345"});
    QVERIFY(ev.usbConnected);

    // "authorizing" first: set up as the table shows it present, and again once it is ready.
    ev = evaluate({"R58M12345\tauthorizing"}, context());
    QCOMPARE(ev.newlyReady, QStringList{"R58M12345"});
    QCOMPARE(ev.awaitingAdded, QStringList{"R58M12345"});
    ev = evaluate({"R58M12345\tdevice"}, context("R58M12345", {"R58M12345"}, {}, {"R58M12345"}));
    QCOMPARE(ev.newlyReady, QStringList{"R58M12345"});

    // A known phone that goes offline and comes back (as after "adb tcpip") is not set up again.
    ev = evaluate({"R58M12345\toffline"}, context("R58M12345", {"R58M12345"}));
    QVERIFY(ev.awaitingAdded.isEmpty());
    ev = evaluate({"R58M12345\tdevice"}, context("R58M12345", {"R58M12345"}));
    QVERIFY(ev.newlyReady.isEmpty());
}

QTEST_GUILESS_MAIN(TrackStreamTest)
#include "tst_track_stream.moc"
