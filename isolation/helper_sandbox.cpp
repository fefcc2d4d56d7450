#include "isolation/helper_sandbox.h"

#include "isolation/unique_fd.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#ifdef VT_HAVE_SECCOMP
#include <seccomp.h>
#endif

namespace {

// Landlock's LANDLOCK_ACCESS_FS_TRUNCATE (its third version), newer than Debian 12's headers.
constexpr uint64_t kAccessFsTruncate = uint64_t{1} << 14;

// Room for the codec libraries' tables and scratch buffers, their threads' stacks and the
// allocator's per-thread arenas, beside the picture itself.
constexpr uint64_t kAddressSpaceMargin = uint64_t{1} << 30;

uint64_t MappedBytes() {
    // The first field of statm: the whole virtual size, in pages.
    std::unique_ptr<FILE, int (*)(FILE*)> statm(std::fopen("/proc/self/statm", "r"), std::fclose);
    unsigned long long pages = 0;
    if (!statm || std::fscanf(statm.get(), "%llu", &pages) != 1) return 0;
    return pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

std::string FromEnvironment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value == '/' ? std::string(value) : fallback;
}

// Where fontconfig looks for fonts, its configuration and its caches.
std::vector<std::string> FontFolders() {
    const std::string home = FromEnvironment("HOME", "/nonexistent");
    return {"/usr/share/fonts",
            "/usr/local/share/fonts",
            "/usr/share/fontconfig",
            "/etc/fonts",
            "/var/cache/fontconfig",
            home + "/.fonts",
            FromEnvironment("XDG_DATA_HOME", home + "/.local/share") + "/fonts",
            FromEnvironment("XDG_CONFIG_HOME", home + "/.config") + "/fontconfig",
            FromEnvironment("XDG_CACHE_HOME", home + "/.cache") + "/fontconfig"};
}

}  // namespace

bool RestrictFilesToFonts(std::string& why) {
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) {
        why = std::string("no Landlock: ") + std::strerror(errno);
        return false;
    }
    uint64_t handled = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
                       LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
                       LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                       LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
                       LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2) handled |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3) handled |= kAccessFsTruncate;
    landlock_ruleset_attr attributes{};
    attributes.handled_access_fs = handled;
    const CUniqueFd ruleset(
        static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attributes, sizeof(attributes.handled_access_fs), 0)));
    if (ruleset.Get() < 0) {
        why = std::string("Landlock refused a ruleset: ") + std::strerror(errno);
        return false;
    }
    for (const std::string& folder : FontFolders()) {
        const CUniqueFd beneath(::open(folder.c_str(), O_PATH | O_CLOEXEC | O_DIRECTORY));
        if (beneath.Get() < 0) continue;
        landlock_path_beneath_attr rule{};
        rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
        rule.parent_fd = beneath.Get();
        ::syscall(SYS_landlock_add_rule, ruleset.Get(), LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::syscall(SYS_landlock_restrict_self, ruleset.Get(), 0) != 0) {
        why = std::string("Landlock could not be entered: ") + std::strerror(errno);
        return false;
    }
    return true;
}

uint64_t LimitHelperResources(uint64_t storageLimit) {
    ::prctl(PR_SET_DUMPABLE, 0);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
#if defined(VT_SANITIZED_BUILD)
    static_cast<void>(storageLimit);
    static_cast<void>(MappedBytes);
    return 0;
#else
    const uint64_t limit = MappedBytes() + storageLimit + kAddressSpaceMargin;
    const rlimit addressSpace{limit, limit};
    return ::setrlimit(RLIMIT_AS, &addressSpace) == 0 ? limit : 0;
#endif
}

#ifdef VT_HAVE_SECCOMP

bool EnterSyscallFilter(bool fontsReadable, std::string& why) {
    std::unique_ptr<void, void (*)(scmp_filter_ctx)> filter(seccomp_init(SCMP_ACT_ERRNO(EPERM)), seccomp_release);
    if (!filter) {
        why = "libseccomp could not make a filter";
        return false;
    }
    bool ok = true;
    auto allow = [&](int call) { ok = ok && seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, call, 0) == 0; };
    for (const int call : {
             // memory
             SCMP_SYS(brk), SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(mprotect),
             SCMP_SYS(madvise), SCMP_SYS(mincore), SCMP_SYS(membarrier),
             // descriptors already held: the file, the socket, the memfds
             SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(write), SCMP_SYS(writev),
             SCMP_SYS(pwrite64), SCMP_SYS(lseek), SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(fcntl),
             SCMP_SYS(ftruncate), SCMP_SYS(memfd_create), SCMP_SYS(dup), SCMP_SYS(poll), SCMP_SYS(ppoll),
             SCMP_SYS(recvmsg), SCMP_SYS(sendmsg), SCMP_SYS(recvfrom), SCMP_SYS(sendto), SCMP_SYS(eventfd2),
             // threads of the decoders that use them
             SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(get_robust_list), SCMP_SYS(rseq),
             SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity), SCMP_SYS(sched_getparam),
             SCMP_SYS(sched_getscheduler), SCMP_SYS(set_tid_address), SCMP_SYS(gettid), SCMP_SYS(getpid),
             SCMP_SYS(getppid), SCMP_SYS(getuid), SCMP_SYS(geteuid), SCMP_SYS(getgid), SCMP_SYS(getegid),
             // signals within the process, time, randomness, the end
             SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack),
             SCMP_SYS(nanosleep), SCMP_SYS(clock_nanosleep), SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres),
             SCMP_SYS(gettimeofday), SCMP_SYS(getrandom), SCMP_SYS(getrlimit), SCMP_SYS(getrusage),
             SCMP_SYS(sysinfo), SCMP_SYS(uname), SCMP_SYS(exit), SCMP_SYS(exit_group)})
        allow(call);
    auto allowIf = [&](int call, scmp_arg_cmp condition) {
        ok = ok && seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, call, 1, condition) == 0;
    };
    if (!fontsReadable) {
        // fstat through fstatat on the descriptor itself, never on a path.
        allowIf(SCMP_SYS(newfstatat), SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
        allowIf(SCMP_SYS(statx), SCMP_A2(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
    }
    // Threads, never new processes; clone3's flags lie behind a pointer the filter cannot
    // read, so the C library is told it is missing and falls back to clone.
    allowIf(SCMP_SYS(clone), SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD));
    ok = ok && seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
    // Signals only to itself (abort, raise).
    const auto self = static_cast<scmp_datum_t>(::getpid());
    allowIf(SCMP_SYS(tgkill), SCMP_A0(SCMP_CMP_EQ, self));
    allowIf(SCMP_SYS(kill), SCMP_A0(SCMP_CMP_EQ, self));
    // Reading limits, never raising them; naming threads.
    allowIf(SCMP_SYS(prlimit64), SCMP_A2(SCMP_CMP_EQ, 0));
    allowIf(SCMP_SYS(prctl), SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME));
    allowIf(SCMP_SYS(prctl), SCMP_A0(SCMP_CMP_EQ, PR_GET_NAME));
    if (fontsReadable) {
        // Opening to read only; Landlock keeps it to the fonts.
        constexpr scmp_datum_t kChanges = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | O_TMPFILE;
        allowIf(SCMP_SYS(openat), SCMP_A2(SCMP_CMP_MASKED_EQ, kChanges, O_RDONLY));
        allowIf(SCMP_SYS(open), SCMP_A1(SCMP_CMP_MASKED_EQ, kChanges, O_RDONLY));
        for (const int call : {SCMP_SYS(newfstatat), SCMP_SYS(statx), SCMP_SYS(stat), SCMP_SYS(lstat),
                               SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(getdents64), SCMP_SYS(readlink)})
            allow(call);
    }
#if defined(VT_SANITIZED_BUILD)
    // The sanitizers test whether memory is readable by writing it into a pipe (the
    // undefined-behaviour checker does so for every virtual call it checks), and write their
    // reports through one.
    allow(SCMP_SYS(pipe));
    allow(SCMP_SYS(pipe2));
#endif
    if (!ok) {
        why = "libseccomp refused a rule";
        return false;
    }
    if (const int result = seccomp_load(filter.get()); result != 0) {
        why = std::string("the kernel refused the filter: ") + std::strerror(-result);
        return false;
    }
    return true;
}

#else

bool EnterSyscallFilter(bool, std::string& why) {
    why = "the build has no libseccomp";
    return false;
}

#endif
