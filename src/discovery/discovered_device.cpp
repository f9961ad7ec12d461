#include "discovery/discovered_device.h"

#include <QByteArrayView>
#include <QRandomGenerator>
#include <cstring>
#include <random>

namespace sonavel {

QUuid newRowId() {
    // One generator per thread, seeded from the shared one: no lock per row.
    thread_local std::mt19937_64 generator(QRandomGenerator::global()->generate64());
    const quint64 bits[2] = {generator(), generator()};
    char bytes[16];
    std::memcpy(bytes, bits, sizeof(bytes));
    bytes[6] = static_cast<char>((bytes[6] & 0x0f) | 0x40);  // version 4
    bytes[8] = static_cast<char>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    return QUuid::fromRfc4122(QByteArrayView(bytes, sizeof(bytes)));
}

}  // namespace sonavel
