// Fuzzes the decoding of the stored per-endpoint maps, and checks that what is stored reads back
// the same.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "settings/endpoint_maps.h"

using namespace sonavel;

namespace {

QString consumeKey(FuzzedDataProvider& input) {
    return QString::fromStdString(input.ConsumeRandomLengthString(40));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    // Whatever a file held, a map that loads must store and load again unchanged.
    if (const auto bools = decodeBoolMap(bytes)) {
        FUZZ_CHECK(decodeBoolMap(encodeBoolMap(*bools)) == bools);
        FUZZ_CHECK(!decodeIntMap(bytes) || bools->isEmpty());
    }
    if (const auto ints = decodeIntMap(bytes)) {
        FUZZ_CHECK(decodeIntMap(encodeIntMap(*ints)) == ints);
    }

    // Maps built from the same bytes: any key text, any int.
    FuzzedDataProvider input(data, size);
    QMap<QString, bool> boolMap;
    QMap<QString, int> intMap;
    while (input.remaining_bytes() > 0) {
        const QString key = consumeKey(input);
        if (input.ConsumeBool()) {
            boolMap.insert(key, input.ConsumeBool());
        } else {
            intMap.insert(key, input.ConsumeIntegral<int>());
        }
    }
    FUZZ_CHECK(decodeBoolMap(encodeBoolMap(boolMap)) == boolMap);
    FUZZ_CHECK(decodeIntMap(encodeIntMap(intMap)) == intMap);
    return 0;
}
