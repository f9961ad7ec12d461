#include "tools/adb_output.h"

#include <QStringDecoder>

namespace sonavel {

QString decodeToolStream(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return {};
    }
    return text;
}

QString combineToolOutput(const QString& standardOutput, const QString& standardError) {
    if (standardOutput.isEmpty()) {
        return standardError;
    }
    if (standardError.isEmpty()) {
        return standardOutput;
    }
    return standardOutput + QLatin1Char('\n') + standardError;
}

}  // namespace sonavel
