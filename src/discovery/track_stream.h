#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// Pure functions over the output of "adb track-devices": cutting the stream into device tables
// and evaluating one table. No controller state, no process: any thread may call them.

namespace sonavel {

// One complete device table taken from the stream.
struct TrackSnapshot {
    QStringList lines;  // trimmed, non-empty lines
    // True when the table came with adb's length prefix: an empty one then means "no device
    // attached", which must be evaluated. A blank-line table without lines is nothing.
    bool complete = false;
};

// Where the decoder stands between reads. The tool writes each table as four hexadecimal digits
// of length followed by the table, with nothing between tables:
//   "0000" "0017127.0.0.1:5601\toffline\n" "0016127.0.0.1:5601\tdevice\n"
// Older or foreign writers end a table with a blank line instead. The first table tells which
// format this process writes; it holds until the process is restarted.
struct TrackStreamState {
    QByteArray& buffer;           // bytes received and not yet consumed
    QStringList& pendingLines;    // blank-line format: lines of the table being received
    std::optional<bool>& framed;  // none until the format is known
};

// Bytes that may wait for a line feed before they are thrown away: a device table is at most
// 65535 bytes (four hex digits), so anything far beyond that is not one.
inline constexpr qsizetype kMaxPendingTrackBytes = 4 * 1024 * 1024;

// Appends one read to the stream and returns the tables it completes, in order. A read that is
// not valid UTF-8 is dropped whole. Lines the tool writes about its server ("* daemon not
// running; starting now at tcp:5037") are skipped.
QList<TrackSnapshot> feedTrackStream(TrackStreamState state, const QByteArray& read);

// A serial token as the stream carries it, with the four length digits removed when they are
// glued to the front of a wireless endpoint ("001a192.168.1.23:5555" -> "192.168.1.23:5555").
// A USB serial keeps them, since they cannot be told apart from the serial.
QString normalizeTrackSerial(const QString& token);

// A serial of a device attached by cable: not an endpoint, not a TLS service name.
bool isUSBSerialToken(const QString& serial);

struct TrackEntry {
    QString serial;  // after normalizeTrackSerial
    QString state;   // lower-cased
};

// The entries of one table, in order; header lines and lines with fewer than two fields skipped.
QVector<TrackEntry> parseTrackEntries(const QStringList& lines);

// What the watcher knows before it evaluates a table (read on the main thread).
struct TrackContext {
    std::optional<QString> observedUSBSerial;
    QSet<QString> knownPhysicalSerials;
    QSet<QString> awaitingReady;  // USB serials first seen in a state that is not "device"
    QString endpoint;
};

// What one table means for the watcher; the caller logs and acts in the order of the fields.
struct TrackEvaluation {
    std::optional<QString> observedUSBSerial;  // the value to store
    bool observedInitialized = false;
    bool observedOffline = false;  // the observed serial was reported offline
    bool observedMissing = false;  // the observed serial was not in the table
    std::optional<QString> switchedTo;
    QStringList newlyReady;     // USB serials to set up: new ones, and ones that became ready
    QStringList awaitingAdded;  // first seen not ready
    QStringList awaitingCleared;
    bool usbConnected = false;
    bool wirelessOnline = false;
    QSet<QString> onlineWireless;  // the serials of the wireless entries in the state "device"
};

TrackEvaluation evaluateTrackSnapshot(const QVector<TrackEntry>& entries,
                                      const TrackContext& context);

}  // namespace sonavel
