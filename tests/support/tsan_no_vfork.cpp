// Linked into every test program of the ThreadSanitizer build only.
//
// Qt 6.4's QProcess starts a child with clone(CLONE_VM | CLONE_VFORK) once the kernel has pidfd
// support: until it execs, the child runs on its parent thread's memory, and its closes and
// dup2s go through the sanitizer's interceptors, which rewrite the parent's descriptor and
// synchronisation records. The parent then now and then reports a race on data that only ever
// changes under a lock, or fails one of the runtime's own checks. Qt detects that support with
// waitid(P_PIDFD, ...); answering EINVAL there, for this process and every child it starts, makes
// Qt start children with fork(), which the sanitizer follows correctly.
#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstdio>

namespace {

constexpr unsigned kPidfdIdType = 3;  // P_PIDFD, missing from older headers

bool refusePidfdWaits() {
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 0, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_waitid, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kPidfdIdType, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EINVAL & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog filter = {static_cast<unsigned short>(sizeof(program) / sizeof(program[0])),
                         program};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

// Before main, so before any QProcess has asked.
const bool installed = [] {
    const bool ok = refusePidfdWaits();
    if (!ok) {
        std::perror("cannot keep Qt from starting children with vfork");
    }
    return ok;
}();

}  // namespace
