#include "extensions/KelvoKDE/ThumbnailerRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace kelvo {

namespace {

// A file descriptor closed when it goes out of scope.
struct OwnedFD {
    int fd = -1;
    ~OwnedFD() {
        if (fd >= 0) ::close(fd);
    }
};

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// The first line the child wrote to standard error, at most 1000 bytes of it.
std::string firstLine(int fd) {
    char text[1000];
    const ssize_t n = ::pread(fd, text, sizeof text, 0);
    if (n <= 0) return {};
    std::string line(text, static_cast<size_t>(n));
    line.erase(std::min(line.find('\n'), line.size()));
    return line;
}

}  // namespace

std::chrono::milliseconds thumbnailerDeadline(double timeLimitSeconds) {
    const double grace = std::max(2.0, timeLimitSeconds / 4);
    return std::chrono::milliseconds(
        static_cast<long long>(std::ceil((timeLimitSeconds + grace) * 1000)));
}

std::optional<std::string> runThumbnailer(const ThumbnailerRun& run) {
    if (!(run.timeLimitSeconds > 0) || run.memoryLimitMiB <= 0)
        return "the thumbnailer's time and memory limits must be set";
    const std::string size = std::to_string(run.pixels);
    const std::string timeLimit = number(run.timeLimitSeconds);
    const std::string memoryLimit = std::to_string(run.memoryLimitMiB);
    // "--" ends the options: a file name may start with a dash.
    std::vector<const char*> argv = {run.thumbnailer.c_str(),
                                     "-s",
                                     size.c_str(),
                                     "--time-limit",
                                     timeLimit.c_str(),
                                     "--memory-limit",
                                     memoryLimit.c_str(),
                                     "--",
                                     run.input.c_str(),
                                     run.output.c_str(),
                                     nullptr};

    // Standard error goes to an anonymous file, read once the child is gone: no pipe that a
    // talkative child could fill and block on.
    OwnedFD errors{::memfd_create("kelvo-thumbnailer-stderr", MFD_CLOEXEC)};
    if (errors.fd < 0) return std::string("cannot start the thumbnailer: ") + std::strerror(errno);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errors.fd, STDERR_FILENO);
    // The host's other descriptors (its sockets to the file manager among them) stay with it.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // A group of its own, so that the deadline ends everything the child started; and every
    // signal unblocked and at its default, since a blocked SIGALRM inherited from the host
    // would silently switch the thumbnailer's own time limit off.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, run.thumbnailer.c_str(), &actions, &attributes,
                                      const_cast<char* const*>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) return "cannot run " + run.thumbnailer + ": " + std::strerror(spawned);

    // Waits in short naps: a thumbnail takes a tenth of a second or more, and a wait with a
    // deadline needs no signal handler or extra thread in the host this way.
    const auto deadline =
        std::chrono::steady_clock::now() + thumbnailerDeadline(run.timeLimitSeconds);
    auto nap = std::chrono::milliseconds(1);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR)
            return std::string("lost the thumbnailer: ") + std::strerror(errno);
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(-child, SIGKILL);
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            return "no answer after " +
                   number(thumbnailerDeadline(run.timeLimitSeconds).count() / 1000.0) +
                   " s; stopped";
        }
        std::this_thread::sleep_for(nap);
        nap = std::min(nap * 2, std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::nullopt;
    if (WIFSIGNALED(status))
        return "the thumbnailer ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    if (std::string line = firstLine(errors.fd); !line.empty()) return line;
    return "the thumbnailer exited with status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace kelvo
