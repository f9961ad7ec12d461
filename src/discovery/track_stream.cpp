#include "discovery/track_stream.h"

#include <QStringDecoder>
#include <algorithm>
#include <utility>

#include "discovery/device_listing.h"
#include "discovery/line_fields.h"

namespace sonavel {

namespace {

constexpr qsizetype kLengthDigits = 4;
const QString kDeviceState = QStringLiteral("device");
const QString kAuthorizingState = QStringLiteral("authorizing");
const QString kOfflineState = QStringLiteral("offline");

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);  // the conversion runs when it is taken
    return !decoder.hasError();
}

QString trimmedLine(const QByteArray& buffer, qsizetype from, qsizetype length) {
    return QString::fromUtf8(buffer.constData() + from, length).trimmed();
}

// The server's own messages share the pipe with the tables:
//   "* daemon not running; starting now at tcp:5037"
//   "* daemon started successfully"
bool isToolMessage(const QString& line) {
    return line.startsWith(QStringLiteral("* "));
}

// How many of the first n bytes from pos are hexadecimal digits, stopping at the first that is not.
qsizetype hexRun(const QByteArray& buffer, qsizetype pos, qsizetype n) {
    qsizetype run = 0;
    while (run < n && pos + run < buffer.size() && isHexDigit(buffer[pos + run])) {
        ++run;
    }
    return run;
}

QStringList frameLines(const QByteArray& buffer, qsizetype from, qsizetype length) {
    QStringList lines;
    const qsizetype end = from + length;
    qsizetype start = from;
    while (start < end) {
        qsizetype stop = buffer.indexOf('\n', start);
        if (stop < 0 || stop > end) {
            stop = end;
        }
        const QString line = trimmedLine(buffer, start, stop - start);
        if (!line.isEmpty()) {
            lines << line;
        }
        start = stop + 1;
    }
    return lines;
}

// True when the bytes hold a line that is blank after trimming: a table end of the blank-line
// format, which never occurs inside a length-prefixed table.
bool holdsBlankLine(const QByteArray& buffer, qsizetype from, qsizetype end) {
    qsizetype lineStart = from;
    for (qsizetype i = from; i < end; ++i) {
        if (buffer[i] == '\n') {
            if (trimmedLine(buffer, lineStart, i - lineStart).isEmpty() && i > from) {
                return true;
            }
            lineStart = i + 1;
        }
    }
    return false;
}

enum class Step { Consumed, Wait };

// Blank-line format: one line per step.
Step takeLine(TrackStreamState& s, qsizetype& pos, QList<TrackSnapshot>& out) {
    const qsizetype stop = s.buffer.indexOf('\n', pos);
    if (stop < 0) {
        return Step::Wait;
    }
    const QString line = trimmedLine(s.buffer, pos, stop - pos);
    pos = stop + 1;
    if (line.isEmpty()) {
        if (!s.pendingLines.isEmpty()) {
            out << TrackSnapshot{std::exchange(s.pendingLines, {}), false};
        }
    } else if (!isToolMessage(line)) {
        s.pendingLines << line;
    }
    return Step::Consumed;
}

// Skips one line that cannot start a table (the tool's messages, garbage).
Step skipLine(const TrackStreamState& s, qsizetype& pos) {
    const qsizetype stop = s.buffer.indexOf('\n', pos);
    if (stop < 0) {
        return Step::Wait;
    }
    pos = stop + 1;
    return Step::Consumed;
}

// Before the first table, a line without a prefix is either a table line of the blank-line
// format or the tool's talk about a server that failed to start, for example
//   "ADB server didn't ACK" / "* failed to start daemon" / "error: cannot connect to daemon",
// which must not be taken for an empty table. Only a line that reads as a device line (or the
// header) decides for the blank-line format; anything else is skipped.
Step decideFromLine(TrackStreamState& s, qsizetype& pos) {
    const qsizetype stop = s.buffer.indexOf('\n', pos);
    if (stop < 0) {
        return Step::Wait;
    }
    const QString line = trimmedLine(s.buffer, pos, stop - pos);
    const QStringList fields = splitFields(line);
    static const QSet<QString> kStates = {
        QStringLiteral("device"),      QStringLiteral("offline"),    QStringLiteral("unauthorized"),
        QStringLiteral("authorizing"), QStringLiteral("connecting"), QStringLiteral("bootloader"),
        QStringLiteral("recovery"),    QStringLiteral("rescue"),     QStringLiteral("sideload"),
        QStringLiteral("host"),        QStringLiteral("unknown"),    QStringLiteral("no")};
    const bool header = line.startsWith(QStringLiteral("list of devices"), Qt::CaseInsensitive);
    if (header || (fields.size() >= 2 && kStates.contains(fields[1].toLower()))) {
        s.framed = false;
        return Step::Consumed;  // read again, as a line of the blank-line format
    }
    pos = stop + 1;
    return Step::Consumed;
}

// Length-prefixed format, or the first bytes of a stream whose format is not known yet.
Step takeFrame(TrackStreamState& s, qsizetype& pos, QList<TrackSnapshot>& out) {
    const QByteArray& b = s.buffer;
    const qsizetype available = b.size() - pos;
    const qsizetype run = hexRun(b, pos, kLengthDigits);
    if (run < kLengthDigits) {
        if (run == available) {
            return Step::Wait;  // the rest of the prefix is still on its way
        }
        if (!s.framed) {
            return decideFromLine(s, pos);
        }
        return skipLine(s, pos);
    }
    bool ok = false;
    const qsizetype length = b.mid(pos, kLengthDigits).toInt(&ok, 16);
    const qsizetype end = pos + kLengthDigits + length;
    if (!s.framed) {
        // Decide the format: a prefixed table ends in a line feed and holds no blank line. A
        // blank-line table whose first serial begins with four hex digits almost never passes.
        if (length > 0 && holdsBlankLine(b, pos, std::min(end, b.size()))) {
            s.framed = false;
            return Step::Consumed;
        }
        if (end > b.size()) {
            return Step::Wait;
        }
        // The tool ends its lines with a bare line feed.
        const bool toolLines = b[end - 1] == '\n' && !b.mid(pos, end - pos).contains('\r');
        if (length > 0 && !toolLines) {
            s.framed = false;
            return Step::Consumed;
        }
        s.framed = true;
    }
    if (end > b.size()) {
        return Step::Wait;
    }
    out << TrackSnapshot{frameLines(b, pos + kLengthDigits, length), true};
    pos = end;
    return Step::Consumed;
}

}  // namespace

QList<TrackSnapshot> feedTrackStream(TrackStreamState state, const QByteArray& read) {
    QList<TrackSnapshot> out;
    if (read.isEmpty() || !isValidUtf8(read)) {
        return out;
    }
    state.buffer.append(read);
    qsizetype pos = 0;
    while (pos < state.buffer.size()) {
        const Step step =
            state.framed == false ? takeLine(state, pos, out) : takeFrame(state, pos, out);
        if (step == Step::Wait) {
            break;
        }
    }
    state.buffer.remove(0, pos);
    if (state.buffer.size() > kMaxPendingTrackBytes) {
        // No table is this long: the bytes are noise, and keeping them would grow without end.
        state.buffer.clear();
    }
    return out;
}

QString normalizeTrackSerial(const QString& token) {
    const QString t = token.trimmed();
    if (t.size() < kLengthDigits) {
        return t;
    }
    for (qsizetype i = 0; i < kLengthDigits; ++i) {
        const QChar c = t[i];
        if (c.unicode() > 0x7f || !isHexDigit(static_cast<char>(c.unicode()))) {
            return t;
        }
    }
    const QStringView rest = QStringView(t).mid(kLengthDigits);
    if (rest.contains(QLatin1Char('.')) || rest.contains(QLatin1Char(':'))) {
        return rest.toString();
    }
    return t;
}

bool isUSBSerialToken(const QString& serial) {
    // The cheap character tests first: this runs for every entry of every table.
    return !serial.contains(u':') && !serial.contains(u'.') &&
           !serial.startsWith(u"adb-", Qt::CaseInsensitive) &&
           !(serial.contains(u'_') && serial.contains(u"_tcp", Qt::CaseInsensitive));
}

QVector<TrackEntry> parseTrackEntries(const QStringList& lines) {
    QVector<TrackEntry> entries;
    entries.reserve(lines.size());
    for (const QString& raw : lines) {
        const QStringView line = QStringView(raw).trimmed();
        if ((line.startsWith(u'l') || line.startsWith(u'L')) &&
            line.startsWith(u"list of devices", Qt::CaseInsensitive)) {
            continue;
        }
        FieldCursor fields(line);
        const QStringView serial = fields.next();
        const QStringView state = fields.next();
        if (state.isEmpty()) {
            continue;  // fewer than two fields, or an empty line
        }
        entries.append({normalizeTrackSerial(serial.toString()), state.toString().toLower()});
    }
    return entries;
}

namespace {

bool isPresent(const TrackEntry& e) {
    return e.state == kDeviceState || e.state == kAuthorizingState;
}

bool isUSBPresent(const TrackEntry& e) {
    return isPresent(e) && isUSBSerialToken(e.serial);
}

const TrackEntry* firstUSBPresent(const QVector<TrackEntry>& entries) {
    for (const TrackEntry& e : entries) {
        if (isUSBPresent(e)) {
            return &e;
        }
    }
    return nullptr;
}

// Follows the observed USB device; returns usbConnected.
bool followObservedDevice(const QVector<TrackEntry>& entries, TrackEvaluation& ev) {
    if (!ev.observedUSBSerial) {
        if (const TrackEntry* first = firstUSBPresent(entries)) {
            ev.observedUSBSerial = first->serial;
            ev.observedInitialized = true;
            return true;
        }
        return false;
    }
    const QString& observed = *ev.observedUSBSerial;
    const TrackEntry* mine = nullptr;
    for (const TrackEntry& e : entries) {
        if (e.serial == observed && isUSBSerialToken(e.serial)) {
            mine = &e;
            break;
        }
    }
    if (mine && isPresent(*mine)) {
        return true;
    }
    ev.observedOffline = mine && mine->state == kOfflineState;
    ev.observedMissing = !mine;
    if (const TrackEntry* other = firstUSBPresent(entries)) {
        ev.observedUSBSerial = other->serial;
        ev.switchedTo = other->serial;
        return true;
    }
    return false;
}

}  // namespace

TrackEvaluation evaluateTrackSnapshot(const QVector<TrackEntry>& entries,
                                      const TrackContext& context) {
    TrackEvaluation ev;
    ev.observedUSBSerial = context.observedUSBSerial;
    ev.usbConnected = followObservedDevice(entries, ev);

    // New devices, and devices that were first seen waiting for the user's authorisation and are
    // ready now: the setup would otherwise never start for a phone plugged in for the first time.
    // (A serial listed twice in one table is taken once; the lists stay tiny, so a linear
    // look-up is cheaper than a set.)
    for (const TrackEntry& e : entries) {
        if (!isUSBSerialToken(e.serial)) {
            continue;
        }
        const bool known = context.knownPhysicalSerials.contains(e.serial);
        const bool awaiting = context.awaitingReady.contains(e.serial);
        const bool ready = e.state == kDeviceState;
        if (!ready && !known && !awaiting && !ev.awaitingAdded.contains(e.serial)) {
            ev.awaitingAdded << e.serial;
        }
        const bool becameReady = awaiting && ready;
        if (becameReady && !ev.awaitingCleared.contains(e.serial)) {
            ev.awaitingCleared << e.serial;
        }
        if (((isPresent(e) && !known) || becameReady) && !ev.newlyReady.contains(e.serial)) {
            ev.newlyReady << e.serial;
        }
    }

    const QString ep = normalizeTrackSerial(context.endpoint);
    bool endpointOnline = false;
    if (!ep.isEmpty()) {
        for (const TrackEntry& e : entries) {
            if (e.serial == ep) {
                endpointOnline = e.state == kDeviceState;
                break;
            }
        }
    }
    for (const TrackEntry& e : entries) {
        if (e.serial.contains(QLatin1Char(':')) && e.state == kDeviceState) {
            ev.onlineWireless.insert(e.serial);
        }
    }
    ev.wirelessOnline = !ev.onlineWireless.isEmpty() || endpointOnline;
    return ev;
}

}  // namespace sonavel
