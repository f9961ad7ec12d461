#pragma once

#include <QString>
#include <optional>

#include "app/controller_ref.h"

namespace sonavel {

// The device's display name from its properties ("ro.product.model", then "ro.product.device",
// then "ro.serialno"): the first that answers with status 0 and a non-empty trimmed value.
// Blocking: up to three adb commands on the calling thread, so call it from a worker only.
std::optional<QString> lookupDeviceName(const ControllerRef& ref, const QString& target);

}  // namespace sonavel
