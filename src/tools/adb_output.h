#pragma once

#include <QByteArray>
#include <QString>

namespace sonavel {

// Decodes one output stream of a tool. Bytes that are not valid UTF-8 make the whole stream count
// as empty: a half-decoded listing is worse than none.
QString decodeToolStream(const QByteArray& bytes);

// adb's combined output: standard output, or standard error when standard output is empty, or both
// joined by a line feed. Neither text is trimmed.
QString combineToolOutput(const QString& standardOutput, const QString& standardError);

}  // namespace sonavel
