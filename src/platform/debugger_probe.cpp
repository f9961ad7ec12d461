#include "platform/debugger_probe.h"

#include <QFile>
#include <QList>

#if defined(Q_OS_MACOS)
#include <sys/sysctl.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace sonavel {

long tracerPidFromStatus(const QByteArray& status) {
    for (const QByteArray& line : status.split('\n')) {
        if (!line.startsWith("TracerPid:")) {
            continue;
        }
        bool ok = false;
        const long pid = line.mid(int(sizeof("TracerPid:") - 1)).trimmed().toLong(&ok);
        return ok && pid > 0 ? pid : 0;
    }
    return 0;
}

bool isDebuggerAttached() {
#if defined(Q_OS_MACOS)
    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, getpid()};
    struct kinfo_proc info {};
    size_t size = sizeof(info);
    if (sysctl(mib, 4, &info, &size, nullptr, 0) != 0) {
        return false;
    }
    return (info.kp_proc.p_flag & P_TRACED) != 0;
#else
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    return tracerPidFromStatus(file.readAll()) != 0;
#endif
}

}  // namespace sonavel
