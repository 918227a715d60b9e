#include "platform/sandbox.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sandbox {

std::string Confinement::missing() const
{
    std::string out;
    if (!seccomp)
        out = "no seccomp system call filter";
    if (!landlock)
        out += std::string(out.empty() ? "" : ", ") + "no Landlock file system confinement";
    return out;
}

void silenceStderr()
{
#if !defined(__SANITIZE_ADDRESS__)
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere >= 0) {
        ::dup2(nowhere, STDERR_FILENO);
        ::close(nowhere);
    }
#endif
}

void limitAddressSpace(std::int64_t bytes)
{
#if !defined(__SANITIZE_ADDRESS__)
    const rlimit limit{rlim_t(bytes), rlim_t(bytes)};
    ::setrlimit(RLIMIT_AS, &limit);
#else
    (void)bytes;
#endif
}

static bool applyLandlock()
{
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1)
        return false;
    // Every file system right this kernel knows of is handled, and no rule
    // grants any back: no path can be opened, made or removed.
    std::uint64_t handled = (std::uint64_t(1) << 13) - 1; // execute .. make symlink
    if (abi >= 2)
        handled |= std::uint64_t(1) << 13; // refer
    if (abi >= 3)
        handled |= std::uint64_t(1) << 14; // truncate
    if (abi >= 5)
        handled |= std::uint64_t(1) << 15; // ioctl on devices
    landlock_ruleset_attr attr{};
    attr.handled_access_fs = handled;
    const int ruleset = int(::syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0));
    if (ruleset < 0)
        return false;
    const bool ok = ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    ::close(ruleset);
    return ok;
}

static bool applySeccomp()
{
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!ctx)
        return false;
    int failures = 0;
    const auto allow = [&](int call) { failures += seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 0) != 0; };

    // Reading the picture from the descriptor handed over, and talking over
    // the socket inherited from the viewer. No call that names a path or
    // makes a socket is allowed.
    for (int call : {SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(write), SCMP_SYS(pwrite64),
                     SCMP_SYS(writev), SCMP_SYS(recvmsg), SCMP_SYS(sendmsg), SCMP_SYS(lseek), SCMP_SYS(close),
                     SCMP_SYS(fstat), SCMP_SYS(fcntl), SCMP_SYS(ftruncate), SCMP_SYS(memfd_create)})
        allow(call);
    // glibc's fstat is fstatat(fd, "", AT_EMPTY_PATH) and Qt asks statx the
    // same way; with a path they would only tell whether a file exists.
    failures += seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(newfstatat), 1,
                                 SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH))
        != 0;
    failures += seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(statx), 1,
                                 SCMP_A2(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH))
        != 0;
    // Memory, but none that can be executed: code that a subverted decoder
    // writes stays data. Every library is mapped before the filter is in
    // force, and a JIT (PCRE2's, under QRegularExpression) falls back to
    // interpreting when executable memory is refused.
    for (int call : {SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise), SCMP_SYS(brk)})
        allow(call);
    for (int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)})
        failures += seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) != 0;
    // Threads (Qt converts large pictures on a thread pool; libheif and
    // libjxl decode on threads), their waiting, and the eventfd with which
    // Qt gives every thread its wake-up.
    for (int call : {SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_yield),
                     SCMP_SYS(sched_getaffinity), SCMP_SYS(gettid), SCMP_SYS(getpid), SCMP_SYS(clock_gettime),
                     SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep), SCMP_SYS(restart_syscall),
                     SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigreturn),
                     SCMP_SYS(sigaltstack), SCMP_SYS(getrandom), SCMP_SYS(eventfd2), SCMP_SYS(exit),
                     SCMP_SYS(exit_group)})
        allow(call);
    // clone only for threads: without CLONE_THREAD it would make a process.
    failures += seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                                 SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD))
        != 0;
    // clone3's flags sit behind a pointer the filter cannot read; refused as
    // unknown, glibc falls back to clone.
    failures += seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) != 0;
    // Naming a thread (Qt's pool does) and nothing else of prctl.
    failures += seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME)) != 0;
    // abort() raises its signal on itself; no signal reaches another process.
    failures += seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1, SCMP_A0(SCMP_CMP_EQ, scmp_datum_t(::getpid()))) != 0;

#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' run time tells readable memory from unreadable by
    // writing it into a pipe (UBSan's check of a dynamic type does); a pipe
    // reaches nothing outside the process.
    allow(SCMP_SYS(pipe2));
    allow(SCMP_SYS(pipe));
#endif
    const bool ok = failures == 0 && seccomp_load(ctx) == 0;
    seccomp_release(ctx);
    return ok;
}

Confinement confine()
{
    Confinement result;
    // Required by both for an unprivileged process, and keeps a set-id
    // program from ever giving the decoder more rights.
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    result.landlock = applyLandlock();
    result.seccomp = applySeccomp();
    return result;
}

} // namespace sandbox
