// The worker's confinement, tried from forked children: what it refuses and what loading and
// drawing still need.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "extensions/KelvoThumbnail/Confinement.h"
#include "extensions/KelvoThumbnail/WorkerReply.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

// Runs `checks` in a forked child, which reports each failed check as a line on a pipe; the
// lines, or a note that the child died.
std::string inChild(const std::function<void(std::string& failures)>& checks) {
    int ends[2];
    if (::pipe(ends) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        std::string failures;
        checks(failures);
        ssize_t ignored = ::write(ends[1], failures.data(), failures.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(ends[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<size_t>(n));
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += "child died\n";
    return report;
}

// Records `what` unless `ok`; with errno, which says why a call failed or was refused.
void check(std::string& failures, bool ok, const char* what) {
    if (!ok) failures += std::string(what) + " (errno " + std::to_string(errno) + ")\n";
}

bool refused(long result) {
    return result == -1 && errno == EPERM;
}

TEST(SyscallFilter, refusesWritingNetworkProgramsAndPrivilegesWhileLoadingStillWorks) {
    if (!confinementSupport().syscallFilter) GTEST_SKIP() << "no seccomp on this kernel";
    test::TempDir dir;
    const std::filesystem::path model = dir.write("model.stl", test::Bytes(100000, 7));
    const std::string victim = dir.write("victim.txt", test::Bytes{'x'}).string();
    const std::string created = (dir.path() / "new.txt").string();
    EXPECT_EQ(inChild([&](std::string& failures) {
                  const int held = ::open(model.c_str(), O_RDONLY);
                  if (std::optional<Error> error = installSyscallFilter()) {
                      failures += "install: " + error->localizedDescription() + "\n";
                      return;
                  }
                  // Refused.
                  const char* argv[] = {"/bin/true", nullptr};
                  rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
                  const std::pair<const char*, std::function<long()>> calls[] = {
                      {"socket", [] { return ::socket(AF_INET, SOCK_STREAM, 0); }},
                      {"unix socket", [] { return ::socket(AF_UNIX, SOCK_STREAM, 0); }},
                      {"execve", [&] { return ::execve(argv[0], const_cast<char**>(argv), environ); }},
                      {"fork", [] { return ::fork(); }},
                      {"vfork", [] { return ::syscall(SYS_vfork); }},
                      {"open for writing", [&] { return ::open(victim.c_str(), O_WRONLY); }},
                      {"open read-write", [&] { return ::open(victim.c_str(), O_RDWR); }},
                      {"truncate", [&] { return ::open(victim.c_str(), O_RDONLY | O_TRUNC); }},
                      {"create", [&] { return ::open(created.c_str(), O_RDONLY | O_CREAT, 0600); }},
                      {"unlink", [&] { return ::unlink(victim.c_str()); }},
                      {"rename", [&] { return ::rename(victim.c_str(), created.c_str()); }},
                      {"ptrace", [] { return ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr); }},
                      {"setuid", [] { return ::setuid(0); }},
                      {"signal to the parent", [] { return ::kill(::getppid(), 0); }},
                      {"shared writable file mapping",
                       [&] {
                           return reinterpret_cast<long>(::mmap(nullptr, 4096, PROT_READ | PROT_WRITE,
                                                                MAP_SHARED, held, 0));
                       }},
                      {"setrlimit", [&] { return ::setrlimit(RLIMIT_DATA, &unlimited); }},
                  };
                  for (const auto& [what, call] : calls)
                      check(failures, refused(call()), what);

                  // Still allowed: what loaders and the renderer do.
                  char bytes[16];
                  check(failures, ::pread(held, bytes, sizeof bytes, 0) == sizeof bytes,
                        "reading a held file");
                  const int sibling = ::open(victim.c_str(), O_RDONLY | O_CLOEXEC);
                  check(failures, sibling >= 0 && ::read(sibling, bytes, 1) == 1,
                        "opening a file read-only");
                  void* mapped = ::mmap(nullptr, 1 << 20, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                  check(failures, mapped != MAP_FAILED, "anonymous mmap");
                  void* file = ::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, held, 0);
                  check(failures, file != MAP_FAILED, "private file mmap");
                  std::vector<int> big(1 << 20, 1);  // the heap
                  int sum = 0;
                  std::thread worker([&] { sum = big[0] + big.back(); });
                  worker.join();
                  check(failures, sum == 2, "a thread");
              }),
              "");
    EXPECT_TRUE(std::filesystem::exists(victim));
    EXPECT_FALSE(std::filesystem::exists(created));
}

TEST(SyscallFilter, anAbortStillEndsTheProcessBySignal) {
    if (!confinementSupport().syscallFilter) GTEST_SKIP() << "no seccomp on this kernel";
    EXPECT_EXIT(
        {
            if (!installSyscallFilter()) std::abort();
            std::exit(3);
        },
        testing::KilledBySignal(SIGABRT), "");
}

TEST(Landlock, readsOnlyBeneathTheGivenFoldersAndWritesNothing) {
    if (confinementSupport().landlockVersion == 0) GTEST_SKIP() << "no Landlock on this kernel";
    test::TempDir inside, outside;
    const std::string model = inside.write("model.obj", test::Bytes{'v'}).string();
    std::filesystem::create_directory(inside.path() / "textures");
    const std::string texture = inside.write("textures/wood.png", test::Bytes{'p'}).string();
    const std::string secret = outside.write("secret.txt", test::Bytes{'s'}).string();
    const std::string written = (inside.path() / "out.txt").string();
    EXPECT_EQ(inChild([&](std::string& failures) {
                  if (!restrictFileAccess({inside.path(), "/usr"})) {
                      failures += "restrictFileAccess failed\n";
                      return;
                  }
                  const auto readable = [](const std::string& path) {
                      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
                      if (fd >= 0) ::close(fd);
                      return fd >= 0;
                  };
                  check(failures, readable(model), "the model");
                  check(failures, readable(texture), "a file in a subfolder");
                  check(failures, readable("/usr/bin"), "/usr");
                  check(failures, !readable(secret) && errno == EACCES, "a file elsewhere");
                  check(failures, ::open(written.c_str(), O_WRONLY | O_CREAT, 0600) < 0,
                        "creating a file beside the model");
                  check(failures, ::unlink(model.c_str()) != 0, "removing the model");
              }),
              "");
    EXPECT_TRUE(std::filesystem::exists(model));
    EXPECT_FALSE(std::filesystem::exists(written));
}

// The parent decodes what a possibly subverted worker sends: every cut and every lie in a
// frame is refused, and the frames that are whole come back as they went.
TEST(WorkerReply, roundTripsAndRefusesEveryDamagedFrame) {
    const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', 1, 2, 3};
    const std::string made = encodeWorkerReply(png);
    Error error = makeError("SceneLoader", -21, "Invalid VOX file: bad magic");
    const std::string failed = encodeWorkerReply(error);

    auto decoded = decodeWorkerReply(made);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(std::get<std::vector<std::uint8_t>>(*decoded), png);
    decoded = decodeWorkerReply(failed);
    ASSERT_TRUE(decoded);
    const Error& back = std::get<Error>(*decoded);
    EXPECT_EQ(back.domain(), "SceneLoader");
    EXPECT_EQ(back.code(), -21);
    EXPECT_EQ(back.localizedDescription(), "Invalid VOX file: bad magic");

    for (const std::string& frame : {made, failed}) {
        for (size_t cut = 0; cut < frame.size(); ++cut)
            EXPECT_FALSE(decodeWorkerReply(std::string_view(frame).substr(0, cut))) << cut;
        EXPECT_FALSE(decodeWorkerReply(frame + "x"));
    }
    std::string unknownKind = made;
    unknownKind[0] = 'X';
    EXPECT_FALSE(decodeWorkerReply(unknownKind));
    std::string huge = made;
    const std::uint32_t announced = 0xffffffffu;
    std::memcpy(huge.data() + 1, &announced, 4);
    EXPECT_FALSE(workerReplyBodySize(huge)) << "a 4 GB reply is never read";
    // An error whose inner string runs past its frame.
    std::string lying = failed;
    const std::uint32_t domainLength = 1000;
    std::memcpy(lying.data() + workerReplyHeadBytes + 8, &domainLength, 4);
    EXPECT_FALSE(decodeWorkerReply(lying));
}

}  // namespace
}  // namespace kelvo
