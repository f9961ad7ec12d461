// Fuzzes the decoder of "adb track-devices" and the evaluation of each table it yields. The input
// is cut into reads of sizes taken from the input itself, as a pipe delivers it in any pieces.

#include <fuzzer/FuzzedDataProvider.h>

#include <QStringDecoder>
#include <cstddef>
#include <cstdint>

#include "discovery/track_stream.h"
#include "fuzz_check.h"

using namespace sonavel;

namespace {

struct Decoder {
    QByteArray buffer;
    QStringList pendingLines;
    std::optional<bool> framed;

    QList<TrackSnapshot> feed(const QByteArray& read) {
        QList<TrackSnapshot> tables = feedTrackStream({buffer, pendingLines, framed}, read);
        FUZZ_CHECK(buffer.size() <= kMaxPendingTrackBytes);
        return tables;
    }
};

bool isValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

bool sameTables(const QList<TrackSnapshot>& a, const QList<TrackSnapshot>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].lines != b[i].lines || a[i].complete != b[i].complete) {
            return false;
        }
    }
    return true;
}

void checkTable(const TrackSnapshot& table, const TrackContext& context) {
    FUZZ_CHECK(table.complete || !table.lines.isEmpty());
    for (const QString& line : table.lines) {
        FUZZ_CHECK(!line.isEmpty() && line == line.trimmed());
    }
    const QVector<TrackEntry> entries = parseTrackEntries(table.lines);
    FUZZ_CHECK(entries.size() <= table.lines.size());
    for (const TrackEntry& entry : entries) {
        FUZZ_CHECK(!entry.serial.isEmpty() && !entry.state.isEmpty());
        FUZZ_CHECK(entry.state == entry.state.toLower());
    }
    const TrackEvaluation ev = evaluateTrackSnapshot(entries, context);
    FUZZ_CHECK(!ev.usbConnected ||
               (ev.observedUSBSerial && isUSBSerialToken(*ev.observedUSBSerial)));
    FUZZ_CHECK(!ev.switchedTo || ev.switchedTo == ev.observedUSBSerial);
    for (const QString& serial : ev.newlyReady) {
        FUZZ_CHECK(isUSBSerialToken(serial) && ev.newlyReady.count(serial) == 1);
    }
    for (const QString& serial : ev.awaitingAdded) {
        FUZZ_CHECK(!context.knownPhysicalSerials.contains(serial));
    }
    for (const QString& serial : ev.awaitingCleared) {
        FUZZ_CHECK(context.awaitingReady.contains(serial) && ev.newlyReady.contains(serial));
    }
}

// Tables written as the tool writes them: four hex digits of length, then the lines, each ended by
// a line feed. The input's lines are the lines, and a blank line ends a table, so that consecutive
// blank lines give empty tables ("no device attached").
QList<QStringList> tablesOf(const QByteArray& bytes) {
    QList<QStringList> tables = {{}};
    for (const QString& raw : QString::fromUtf8(bytes).split(u'\n')) {
        const QString line = QString(raw).remove(u'\r').trimmed();
        if (line.isEmpty()) {
            tables.append(QStringList());
        } else {
            tables.last() << line;
        }
    }
    return tables;
}

QByteArray framed(const QList<QStringList>& tables) {
    QByteArray stream;
    for (const QStringList& lines : tables) {
        const QByteArray body =
            lines.isEmpty() ? QByteArray() : (lines.join(u'\n') + u'\n').toUtf8();
        stream += QByteArray::number(body.size(), 16).rightJustified(4, '0') + body;
    }
    return stream;
}

// Feeds the stream in reads of the given sizes (the rest in one read); false in `valid` when a
// read was not valid UTF-8 on its own.
QList<TrackSnapshot> feedInReads(Decoder& decoder, const QByteArray& stream,
                                 const std::vector<size_t>& readSizes, bool& valid) {
    QList<TrackSnapshot> tables;
    valid = true;
    qsizetype at = 0;
    for (size_t i = 0; at < stream.size(); ++i) {
        const qsizetype n =
            i < readSizes.size() ? static_cast<qsizetype>(readSizes[i]) : stream.size() - at;
        const QByteArray read = stream.mid(at, n);
        valid = valid && isValidUtf8(read);
        tables << decoder.feed(read);
        at += read.size();
    }
    return tables;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The whole input is the stream; its last bytes also choose where the reads end, so that a
    // seed taken from the tool's output stays a valid stream.
    const QByteArray stream(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    FuzzedDataProvider input(data, size);
    const size_t cuts = input.ConsumeIntegralInRange<size_t>(0, 16);
    std::vector<size_t> readSizes;
    for (size_t i = 0; i < cuts; ++i) {
        readSizes.push_back(input.ConsumeIntegralInRange<size_t>(1, 64));
    }

    Decoder pieces;
    bool everyReadValid = true;
    const QList<TrackSnapshot> piecewise = feedInReads(pieces, stream, readSizes, everyReadValid);

    TrackContext context;
    context.endpoint = QStringLiteral("192.168.1.20:5555");
    context.knownPhysicalSerials = {QStringLiteral("0123456789ABCDEF")};
    context.awaitingReady = {QStringLiteral("R58M123ABC")};
    for (const TrackSnapshot& table : piecewise) {
        checkTable(table, context);
        context.observedUSBSerial =
            evaluateTrackSnapshot(parseTrackEntries(table.lines), context).observedUSBSerial;
    }

    // How the pipe happened to cut the stream must not change what it means, as long as no read
    // was dropped for splitting a character.
    if (everyReadValid) {
        Decoder whole;
        FUZZ_CHECK(sameTables(whole.feed(stream), piecewise));
        FUZZ_CHECK(whole.buffer == pieces.buffer && whole.pendingLines == pieces.pendingLines &&
                   whole.framed == pieces.framed);
    }

    // Tables the tool writes come out whole and unchanged. (Any input short enough that none of
    // its tables can pass the 65535 bytes of a length prefix.)
    if (stream.size() > 16384) {
        return 0;
    }
    const QList<QStringList> written = tablesOf(stream);
    Decoder reader;
    bool encodedValid = true;
    const QList<TrackSnapshot> read = feedInReads(reader, framed(written), readSizes, encodedValid);
    if (encodedValid) {
        FUZZ_CHECK(read.size() == written.size() && reader.buffer.isEmpty());
        for (qsizetype i = 0; i < read.size(); ++i) {
            FUZZ_CHECK(read[i].complete && read[i].lines == written[i]);
        }
    }
    return 0;
}
