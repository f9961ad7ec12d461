#include "relay/output_lines.h"

#include <QStringDecoder>

namespace sonavel {

QList<QByteArray> takeCompleteLines(QByteArray& pending, const QByteArray& chunk) {
    pending.append(chunk);
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype feed = pending.indexOf('\n'); feed >= 0; feed = pending.indexOf('\n', start)) {
        lines.append(pending.mid(start, feed - start));
        start = feed + 1;
    }
    pending.remove(0, start);
    return lines;
}

std::optional<QString> decodeOutputLine(const QByteArray& line) {
    QByteArray bytes = line;
    if (bytes.endsWith('\r')) {
        bytes.chop(1);
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

}  // namespace sonavel
