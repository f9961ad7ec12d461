#pragma once

#include "app/controller_ref.h"

namespace sonavel {

// Probes every USB row of the device list for its Wi-Fi address and logs what it finds; the list
// itself is never changed. Any thread: it queues its work on the user-initiated pool and returns.
// The work blocks its worker for up to nine adb calls and 1.2 s of pauses per device.
void startIPEnrichment(const ControllerRef& ref);

}  // namespace sonavel
