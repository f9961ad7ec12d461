#include "settings/endpoint_maps.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cmath>
#include <limits>

namespace sonavel {

namespace {

template <class T, class Convert>
QByteArray encode(const QMap<QString, T>& map, Convert convert) {
    QJsonObject object;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        object.insert(it.key(), convert(it.value()));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<QJsonObject> parseObject(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}

}  // namespace

QByteArray encodeBoolMap(const QMap<QString, bool>& map) {
    return encode(map, [](bool v) { return QJsonValue(v); });
}

QByteArray encodeIntMap(const QMap<QString, int>& map) {
    return encode(map, [](int v) { return QJsonValue(v); });
}

std::optional<QMap<QString, bool>> decodeBoolMap(const QByteArray& bytes) {
    const auto object = parseObject(bytes);
    if (!object) {
        return std::nullopt;
    }
    QMap<QString, bool> map;
    for (auto it = object->constBegin(); it != object->constEnd(); ++it) {
        if (!it.value().isBool()) {
            return std::nullopt;
        }
        map.insert(it.key(), it.value().toBool());
    }
    return map;
}

std::optional<QMap<QString, int>> decodeIntMap(const QByteArray& bytes) {
    const auto object = parseObject(bytes);
    if (!object) {
        return std::nullopt;
    }
    QMap<QString, int> map;
    for (auto it = object->constBegin(); it != object->constEnd(); ++it) {
        if (!it.value().isDouble()) {
            return std::nullopt;
        }
        const double number = it.value().toDouble();
        if (std::trunc(number) != number || number < std::numeric_limits<int>::min() ||
            number > std::numeric_limits<int>::max()) {
            return std::nullopt;
        }
        map.insert(it.key(), static_cast<int>(number));
    }
    return map;
}

}  // namespace sonavel
