#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// Turning a child's output stream into log lines. Pipes deliver chunks that may end in the middle
// of a line (or of a UTF-8 sequence), so bytes are buffered and cut only at line feeds.

namespace sonavel {

// Appends chunk to pending and takes out every complete line (without its line feed). What follows
// the last line feed stays in pending for the next chunk.
QList<QByteArray> takeCompleteLines(QByteArray& pending, const QByteArray& chunk);

// The text of one line for the log: UTF-8 with a trailing carriage return dropped; none when the
// bytes are not valid UTF-8 (such a line is left out of the log).
std::optional<QString> decodeOutputLine(const QByteArray& line);

}  // namespace sonavel
