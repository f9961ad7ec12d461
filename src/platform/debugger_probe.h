#pragma once

#include <QByteArray>
#include <atomic>
#include <cstdint>
#include <functional>

namespace sonavel {

// True when a debugger traces this process: the TracerPid field of /proc/self/status on Linux,
// the P_TRACED flag of the kernel's process record on macOS. Asked at most every 100 ms: the few
// log lines of one check come within milliseconds of each other and share one answer, and a
// debugger attached to the running application still turns logging on at once for a person.
bool isDebuggerAttached();

// An answer that is asked again only once `windowNs` nanoseconds have passed since it was last
// asked; in between, the last answer. Any thread may call get().
class CachedAnswer {
public:
    explicit CachedAnswer(std::int64_t windowNs) : windowNs_(windowNs) {}
    bool get(std::int64_t nowNs, const std::function<bool()>& ask);

private:
    const std::int64_t windowNs_;
    std::atomic<bool> answer_{false};
    std::atomic<bool> asked_{false};
    std::atomic<std::int64_t> askedAt_{0};
};

// The tracer's pid from the text of /proc/<pid>/status, e.g. "TracerPid:\t12345"; 0 when the
// field is missing or unreadable, which counts as "not traced".
long tracerPidFromStatus(const QByteArray& status);

}  // namespace sonavel
