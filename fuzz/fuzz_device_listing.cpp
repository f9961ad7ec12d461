// Fuzzes the reading of "adb devices -l" and the list building that follows it on every refresh.

#include <cstddef>
#include <cstdint>

#include "discovery/device_listing.h"
#include "fuzz_check.h"

using namespace sonavel;

namespace {

bool hasBlank(const QString& field) {
    return field.contains(u' ') || field.contains(u'\t');
}

void checkRow(const DiscoveredDevice& row) {
    FUZZ_CHECK(!row.serial.isEmpty() && !hasBlank(row.serial));
    FUZZ_CHECK(!row.name.isEmpty() && !hasBlank(row.name));
    FUZZ_CHECK(row.state.contains(u"device") && row.state == row.state.toLower());
    if (row.transport == kTransportTCPIP) {
        FUZZ_CHECK(row.serial.contains(u':') && row.ip == row.serial);
    } else {
        FUZZ_CHECK(row.transport == kTransportUSB);
        FUZZ_CHECK(!row.serial.contains(u':') && !row.ip);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString listing =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const DeviceListing parsed = parseDeviceListing(listing);
    qsizetype usbRows = 0;
    for (const DiscoveredDevice& row : parsed.rows) {
        checkRow(row);
        usbRows += row.transport == kTransportUSB ? 1 : 0;
    }
    for (const QString& serial : parsed.ignoredTLSSerials) {
        FUZZ_CHECK(!serial.isEmpty() && !hasBlank(serial));
    }

    // Whatever the listing made a USB row of, the cable check must see as well.
    const USBPresence usb = findUSBDevice(listing);
    FUZZ_CHECK(usbRows == 0 || usb.found);
    if (usb.found) {
        FUZZ_CHECK(!usb.serial.isEmpty() && !usb.state.isEmpty());
        FUZZ_CHECK(usb.state == usb.state.toLower());
    }

    // Every USB row stays visible, and a row is never dropped by merging a list with itself.
    const QVector<DiscoveredDevice> visible = buildVisibleRows(parsed.rows, {});
    FUZZ_CHECK(std::count_if(visible.begin(), visible.end(), [](const DiscoveredDevice& r) {
                   return r.transport == kTransportUSB;
               }) == usbRows);
    FUZZ_CHECK(visible.size() <= parsed.rows.size());
    RowsInUse inUse;
    inUse.previousRows = visible;
    FUZZ_CHECK(mergeWithPreviousRows(visible, inUse).size() == visible.size());
    FUZZ_CHECK(distinctRowNames(visible, {}).size() == visible.size());
    for (const DiscoveredDevice& row : visible) {
        FUZZ_CHECK(findDeviceRow(parsed.rows, row.serial).has_value());
    }
    return 0;
}
