#pragma once

#include "tools/adb_result.h"

namespace sonavel {

// Whether an `adb connect <address>` left the device connected. The exit status alone does not
// tell: Debian's adb 29.0.6 and 34.0.5 print
//   failed to connect to '127.0.0.1:5599': Connection refused
// and exit 0. A connect succeeded when adb exited 0, one of its lines says
//   connected to 192.168.1.20:5555
//   already connected to 192.168.1.20:5555
// and none says "failed to connect", "unable to connect" or "cannot connect" (adb's server
// start-up notes, "* daemon not running; starting now ...", may stand before the answer).
bool connectSucceeded(const AdbResult& result);

}  // namespace sonavel
