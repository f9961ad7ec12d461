#include "battery/battery_dump_parser.h"

#include <QStringList>
#include <limits>

namespace sonavel {

namespace {

const QString kLevelKey = QStringLiteral("level:");
const QString kStatusKey = QStringLiteral("status:");

// Android's BatteryManager.BATTERY_STATUS_CHARGING, as dumpsys prints it: "status: 2".
const QString kChargingStatusCode = QStringLiteral("2");

QString trimSpacesAndTabs(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(text[begin])) {
        ++begin;
    }
    while (end > begin && blank(text[end - 1])) {
        --end;
    }
    return text.mid(begin, end - begin);
}

bool isSignedDecimal(const QString& text) {
    qsizetype i = 0;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    for (; i < text.size(); ++i) {
        // ASCII digits only: QChar::isDigit would also accept other scripts' digits.
        if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9')) {
            return false;
        }
    }
    return true;
}

// A textual status names the state in words. "Discharging" and "Not charging" both contain the word
// "charging" but say the opposite, so they are taken out before the word is looked for.
bool statusSaysCharging(QString rest) {
    if (rest == kChargingStatusCode) {
        return true;
    }
    rest.remove(QStringLiteral("discharging"));
    rest.remove(QStringLiteral("not charging"));
    return rest.contains(QStringLiteral("charging"));
}

bool isPowerSourceLine(const QString& line) {
    return line.startsWith(QStringLiteral("ac powered:")) ||
           line.startsWith(QStringLiteral("usb powered:")) ||
           line.startsWith(QStringLiteral("wireless powered:"));
}

// Lines cut at line feeds only; a carriage return left at a line's end goes with the trim.
QStringList normalisedLines(const QString& output) {
    QStringList lines = output.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        line = line.trimmed().toLower();
    }
    return lines;
}

}  // namespace

std::optional<qint64> parseLevelLine(const QString& line) {
    const QStringList pieces = line.split(QLatin1Char(':'));
    if (pieces.size() < 2) {
        return std::nullopt;
    }
    const QString value = trimSpacesAndTabs(pieces[1]);
    if (!isSignedDecimal(value)) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 level = value.toLongLong(&ok, 10);  // ok is false beyond 64 bits
    if (!ok) {
        return std::nullopt;
    }
    return level;
}

BatteryDump parseBatteryDump(const QString& output) {
    BatteryDump dump;
    for (const QString& line : normalisedLines(output)) {
        if (line.startsWith(kLevelKey)) {
            if (const auto level = parseLevelLine(line)) {
                dump.level = level;
            }
        } else if (line.startsWith(kStatusKey)) {
            QString rest = line;
            rest.remove(kStatusKey);
            if (statusSaysCharging(trimSpacesAndTabs(rest))) {
                dump.charging = true;
            }
        } else if (isPowerSourceLine(line)) {
            if (line.contains(QStringLiteral("true"))) {
                dump.charging = true;
            }
        }
    }
    return dump;
}

std::optional<qint64> parseFirstBatteryLevel(const QString& output) {
    for (const QString& line : normalisedLines(output)) {
        if (line.startsWith(kLevelKey)) {
            if (const auto level = parseLevelLine(line)) {
                return level;
            }
        }
    }
    return std::nullopt;
}

int clampBatteryLevel(qint64 level) {
    if (level > std::numeric_limits<int>::max()) {
        return std::numeric_limits<int>::max();
    }
    if (level < std::numeric_limits<int>::min()) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(level);
}

}  // namespace sonavel
