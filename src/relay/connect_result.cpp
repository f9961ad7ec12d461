#include "relay/connect_result.h"

#include <QStringList>

namespace sonavel {

bool connectSucceeded(const AdbResult& result) {
    if (result.status != 0) {
        return false;
    }
    static const QStringList failures{QStringLiteral("failed to connect"),
                                      QStringLiteral("unable to connect"),
                                      QStringLiteral("cannot connect")};
    bool connected = false;
    for (const QString& rawLine : result.output.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed().toLower();
        for (const QString& failure : failures) {
            if (line.contains(failure)) {
                return false;
            }
        }
        if (line.startsWith(QLatin1String("connected to ")) ||
            line.startsWith(QLatin1String("already connected to "))) {
            connected = true;
        }
    }
    return connected;
}

}  // namespace sonavel
