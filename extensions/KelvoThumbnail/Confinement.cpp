#include "extensions/KelvoThumbnail/Confinement.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>

namespace kelvo {

namespace {

// Calls the C library does not wrap.
int landlockCreateRuleset(const landlock_ruleset_attr* attr, size_t size, std::uint32_t flags) {
    return static_cast<int>(::syscall(SYS_landlock_create_ruleset, attr, size, flags));
}
int landlockAddRule(int ruleset, landlock_rule_type type, const void* attr) {
    return static_cast<int>(::syscall(SYS_landlock_add_rule, ruleset, type, attr, 0));
}
int landlockRestrictSelf(int ruleset) {
    return static_cast<int>(::syscall(SYS_landlock_restrict_self, ruleset, 0));
}

// Rights of later ABI versions than the headers may know.
constexpr std::uint64_t landlockTruncate = 1ull << 14;     // ABI 3
constexpr std::uint64_t landlockIoctlDevice = 1ull << 15;  // ABI 5

struct Filter {
    scmp_filter_ctx context = nullptr;
    ~Filter() {
        if (context) seccomp_release(context);
    }
};

// A rule; false when libseccomp refused it.
bool allow(scmp_filter_ctx context, int call, std::initializer_list<scmp_arg_cmp> conditions = {}) {
    return seccomp_rule_add_array(context, SCMP_ACT_ALLOW, call,
                                  static_cast<unsigned>(conditions.size()),
                                  conditions.size() ? conditions.begin() : nullptr) == 0;
}

bool addRules(scmp_filter_ctx context) {
    bool ok = true;
    // Descriptors already held: the input, the reply pipe, standard error.
    for (int call :
         {SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(write),
          SCMP_SYS(writev), SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(statx),
          SCMP_SYS(lseek), SCMP_SYS(fcntl), SCMP_SYS(getdents64), SCMP_SYS(readlinkat),
          SCMP_SYS(faccessat), SCMP_SYS(faccessat2), SCMP_SYS(getcwd)})
        ok &= allow(context, call);
    // A pipe reaches nothing outside the process; the sanitizers make one to test whether
    // memory is readable.
    ok &= allow(context, SCMP_SYS(pipe2));
    // Memory.
    for (int call :
         {SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(mprotect), SCMP_SYS(madvise)})
        ok &= allow(context, call);
    // A file mapping that is shared could write the file: only private or anonymous ones.
    // (mprotect cannot make a private mapping shared.)
    ok &= allow(context, SCMP_SYS(mmap), {SCMP_A3(SCMP_CMP_MASKED_EQ, MAP_SHARED, 0)});
    ok &=
        allow(context, SCMP_SYS(mmap), {SCMP_A3(SCMP_CMP_MASKED_EQ, MAP_ANONYMOUS, MAP_ANONYMOUS)});
    // Opening read-only, never writing, creating or truncating.
    constexpr scmp_datum_t writing = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND;
    ok &= allow(context, SCMP_SYS(openat), {SCMP_A2(SCMP_CMP_MASKED_EQ, writing, 0)});
    // Threads, and nothing else that clone can make.
    ok &=
        allow(context, SCMP_SYS(clone), {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)});
    ok &= seccomp_rule_add(context, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
    // openat2's flags sit in a structure a filter cannot read: ENOSYS makes callers use openat.
    ok &= seccomp_rule_add(context, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0) == 0;
    for (int call :
         {SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(get_robust_list), SCMP_SYS(rseq),
          SCMP_SYS(set_tid_address), SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity),
          SCMP_SYS(gettid), SCMP_SYS(getpid), SCMP_SYS(getppid), SCMP_SYS(getuid),
          SCMP_SYS(geteuid), SCMP_SYS(getgid), SCMP_SYS(getegid), SCMP_SYS(uname),
          SCMP_SYS(sysinfo), SCMP_SYS(getrandom), SCMP_SYS(getrusage), SCMP_SYS(getrlimit)})
        ok &= allow(context, call);
    // Limits may be read, never set: the memory budget must hold.
    ok &= allow(context, SCMP_SYS(prlimit64), {SCMP_A2(SCMP_CMP_EQ, 0, 0)});
    // Clocks and sleeping.
    for (int call : {SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday),
                     SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep)})
        ok &= allow(context, call);
    // Signals, sent to itself only (abort, a thread's cancellation).
    for (int call : {SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn),
                     SCMP_SYS(rt_sigsuspend), SCMP_SYS(sigaltstack), SCMP_SYS(restart_syscall)})
        ok &= allow(context, call);
    const auto self = static_cast<scmp_datum_t>(::getpid());
    ok &= allow(context, SCMP_SYS(tgkill), {SCMP_A0(SCMP_CMP_EQ, self, 0)});
    ok &= allow(context, SCMP_SYS(kill), {SCMP_A0(SCMP_CMP_EQ, self, 0)});
    for (int call : {SCMP_SYS(exit), SCMP_SYS(exit_group)})
        ok &= allow(context, call);

    // Older calls some architectures still have (x86-64 does); where one does not exist,
    // libseccomp refuses its rule and nothing is lost.
    allow(context, SCMP_SYS(open), {SCMP_A1(SCMP_CMP_MASKED_EQ, writing, 0)});
    for (int call : {SCMP_SYS(pipe), SCMP_SYS(pause), SCMP_SYS(stat), SCMP_SYS(lstat),
                     SCMP_SYS(access), SCMP_SYS(readlink), SCMP_SYS(getdents), SCMP_SYS(time)})
        allow(context, call);
    return ok;
}

}  // namespace

ConfinementSupport confinementSupport() {
    ConfinementSupport support;
    // Level 1 and above: the seccomp() call exists, and with it filters that return errors.
    support.syscallFilter = seccomp_api_get() >= 1 && ::prctl(PR_GET_SECCOMP) >= 0;
    const int version = landlockCreateRuleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    support.landlockVersion = version > 0 ? version : 0;
    return support;
}

std::string describeConfinement(const ConfinementSupport& support) {
    if (!support.syscallFilter) return "none (this kernel has no seccomp filters)";
    if (support.landlockVersion == 0) return "seccomp filter (this kernel has no Landlock)";
    return "seccomp filter and Landlock ABI " + std::to_string(support.landlockVersion);
}

std::optional<Error> installSyscallFilter() {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return posixError(errno, "seccomp");
    Filter filter;
    filter.context = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!filter.context) return posixError(ENOMEM, "seccomp");
    if (!addRules(filter.context)) return posixError(EINVAL, "seccomp");
    // Kernels that mitigate speculative store bypass "for seccomp processes" would slow the
    // renderer down for nothing: that attack reads the process's own memory, and the child
    // holds no secret but the model it was given. Older libseccomp lacks the attribute.
    (void)seccomp_attr_set(filter.context, SCMP_FLTATR_CTL_SSB, 1);
    // A thread started later inherits the filter; there is no other thread to synchronise.
    if (const int result = seccomp_load(filter.context); result != 0) {
        return posixError(-result, "seccomp");
    }
    return std::nullopt;
}

bool restrictFileAccess(const std::vector<std::filesystem::path>& readable) {
    const int version = landlockCreateRuleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (version <= 0) return false;
    std::uint64_t handled =
        LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
        LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR |
        LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
        LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK |
        LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (version >= 2) handled |= LANDLOCK_ACCESS_FS_REFER;
    if (version >= 3) handled |= landlockTruncate;
    if (version >= 5) handled |= landlockIoctlDevice;
    // The first member alone is known to every version.
    landlock_ruleset_attr attributes{};
    attributes.handled_access_fs = handled;
    const int ruleset = landlockCreateRuleset(&attributes, sizeof attributes.handled_access_fs, 0);
    if (ruleset < 0) return false;

    bool ok = true;
    for (const std::filesystem::path& path : readable) {
        const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC | O_DIRECTORY);
        if (fd < 0) continue;
        landlock_path_beneath_attr rule{};
        rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
        rule.parent_fd = fd;
        ok &= landlockAddRule(ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule) == 0;
        ::close(fd);
    }
    ok = ok && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && landlockRestrictSelf(ruleset) == 0;
    ::close(ruleset);
    return ok;
}

}  // namespace kelvo
