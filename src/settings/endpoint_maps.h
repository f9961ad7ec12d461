#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <optional>

// The stored form of the per-endpoint maps: one compact JSON object, member name = endpoint,
// e.g. {"192.168.1.20:5555":true} or {"192.168.1.20:5555":150}, held as UTF-8 bytes.

namespace sonavel {

QByteArray encodeBoolMap(const QMap<QString, bool>& map);
QByteArray encodeIntMap(const QMap<QString, int>& map);

// None when the bytes are not a JSON object whose every value has the right type (a number with a
// fraction or out of int range is not an integer). A corrupt value must never half-load.
std::optional<QMap<QString, bool>> decodeBoolMap(const QByteArray& bytes);
std::optional<QMap<QString, int>> decodeIntMap(const QByteArray& bytes);

}  // namespace sonavel
