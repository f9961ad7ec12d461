#pragma once

#include <QByteArray>

namespace sonavel {

// True when a debugger traces this process: the TracerPid field of /proc/self/status on Linux,
// the P_TRACED flag of the kernel's process record on macOS. Asked afresh on every call, so that
// attaching a debugger to a running application turns logging on at once.
bool isDebuggerAttached();

// The tracer's pid from the text of /proc/<pid>/status, e.g. "TracerPid:\t12345"; 0 when the
// field is missing or unreadable, which counts as "not traced".
long tracerPidFromStatus(const QByteArray& status);

}  // namespace sonavel
