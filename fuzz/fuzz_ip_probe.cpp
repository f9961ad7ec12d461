// Fuzzes the test that tells an address printed by the phone from an error message, against a
// plain reading of the rule: four groups of one to three ASCII digits joined by dots.

#include <cstddef>
#include <cstdint>

#include "connect/ip_probe.h"
#include "fuzz_check.h"

using namespace sonavel;

namespace {

bool readsAsFourGroups(const QString& text) {
    const QStringList groups = text.split(u'.');
    if (groups.size() != 4) {
        return false;
    }
    for (const QString& group : groups) {
        if (group.isEmpty() || group.size() > 3) {
            return false;
        }
        for (const QChar c : group) {
            if (c < u'0' || c > u'9') {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    FUZZ_CHECK(isIPv4Text(text) == readsAsFourGroups(text));
    return 0;
}
