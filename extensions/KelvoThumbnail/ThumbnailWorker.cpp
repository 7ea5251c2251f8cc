#include "extensions/KelvoThumbnail/ThumbnailWorker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <variant>

#include "extensions/KelvoThumbnail/Confinement.h"
#include "extensions/KelvoThumbnail/ProcessLimits.h"
#include "extensions/KelvoThumbnail/WorkerReply.h"
#include "extensions/Shared/ErrorReport.h"
#include "extensions/Shared/SceneLoader.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Resources.h"

namespace kelvo {

namespace {

// ---- The child --------------------------------------------------------------------------

[[noreturn]] void runChild(int input, int reply, const std::filesystem::path& path,
                           const ThumbnailerOptions& options) {
    prepareWorkerProcess(input, reply);
    if (options.memoryBudgetBytes > 0) limitMemory(options.memoryBudgetBytes);

    if (options.confined) confineWorkerProcess(
            path, workerReadableFolders({path.has_parent_path() ? path.parent_path() : "."}));
    if (options.testFault == WorkerFault::crash) std::abort();
    if (options.testFault == WorkerFault::hang) {
        for (;;)
            ::pause();
    }

    readFileThroughDescriptor(path, input);
    const bool sent = writeAll(reply, encodeWorkerReply(drawThumbnailPNG(path, options)));
    // _exit: nothing of the parent's (atexit handlers, stdio buffers) runs twice, and
    // LeakSanitizer's exit check, which needs ptrace, does not run in a confined child.
    ::_exit(sent ? 0 : 1);
}

// ---- The parent -------------------------------------------------------------------------

// Children that sent a whole reply and are still exiting. Their exit, which unmaps all their
// memory, takes milliseconds the caller need not wait for: the parent goes on with the reply
// and reaps them at its next call (and the system does, once the parent has ended).
std::mutex exitingLock;
std::vector<pid_t> exitingChildren;

void reapExitingChildren() {
    std::lock_guard<std::mutex> hold(exitingLock);
    for (pid_t pid : exitingChildren) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    exitingChildren.clear();
}

void reapWhenExited(pid_t child) {
    pid_t reaped;
    while ((reaped = ::waitpid(child, nullptr, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (reaped != 0) return;
    std::lock_guard<std::mutex> hold(exitingLock);
    exitingChildren.push_back(child);
}

}  // namespace

WorkerResult makeThumbnailInWorker(int input, const std::filesystem::path& path,
                                   const ThumbnailerOptions& options) {
    // Whatever the host left us: with SIGCHLD ignored (a disposition exec keeps) the child
    // would be reaped unseen and a crash could pass for success; with descriptor 0, 1 or 2
    // closed, the pipe could take its number and the child would write noise into it.
    ::signal(SIGCHLD, SIG_DFL);
    reapExitingChildren();
    for (int spare; (spare = ::open("/dev/null", O_RDWR)) >= 0;) {
        if (spare > STDERR_FILENO) {
            ::close(spare);
            break;
        }
    }
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return {{}, posixError(errno, path)};
    const pid_t child = ::fork();
    if (child < 0) {
        const int failure = errno;
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return {{}, posixError(failure, path)};
    }
    if (child == 0) {
        ::close(pipeEnds[0]);
        runChild(input, pipeEnds[1], path, options);
    }
    ::close(pipeEnds[1]);
    const int from = pipeEnds[0];

    using Clock = std::chrono::steady_clock;
    const bool limited = options.timeLimitSeconds > 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(limited ? options.timeLimitSeconds : 0));
    std::string reply;
    std::optional<size_t> replySize;  // the whole frame's, once its head is in
    bool timedOut = false, readFailed = false;
    char buffer[65536];
    while (!replySize || reply.size() < *replySize) {
        int wait = -1;
        if (limited) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                timedOut = true;
                break;
            }
            wait = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
        }
        pollfd ready{from, POLLIN, 0};
        const int polled = ::poll(&ready, 1, wait);
        if (polled < 0 && errno == EINTR) continue;
        if (polled < 0) {
            readFailed = true;
            break;
        }
        if (polled == 0) continue;  // the deadline is checked above
        // Never more than the frame: what a child sends after it is not read.
        const size_t want = replySize ? *replySize - reply.size() : workerReplyHeadBytes;
        const ssize_t n = ::read(from, buffer, std::min(want, sizeof buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            readFailed = true;  // the child ended, or failed, before its reply was whole
            break;
        }
        reply.append(buffer, static_cast<size_t>(n));
        if (!replySize && reply.size() == workerReplyHeadBytes) {
            const std::optional<size_t> body = workerReplyBodySize(reply);
            if (!body) {
                readFailed = true;
                break;
            }
            replySize = workerReplyHeadBytes + *body;
        }
    }
    ::close(from);
    if (timedOut) {
        ::kill(child, SIGKILL);
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        return {{}, timeLimitError(options.timeLimitSeconds)};
    }
    if (readFailed) {
        ::kill(child, SIGKILL);
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        return {{}, workerCrashedError()};
    }
    // A whole reply is the child's last act; what becomes of it afterwards does not matter.
    reapWhenExited(child);
    std::optional<WorkerOutcome> outcome = decodeWorkerReply(reply);
    if (!outcome) return {{}, workerCrashedError()};
    if (Error* error = std::get_if<Error>(&*outcome)) return {{}, std::move(*error)};
    return {std::move(std::get<std::vector<std::uint8_t>>(*outcome)), {}};
}

void prepareWorkerProcess(int keep, int alsoKeep) {
    // Die with the parent; a crash leaves no core file.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    struct rlimit noCore {};
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC); null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        if (null > STDERR_FILENO) ::close(null);
    }
    int a = std::min(keep, alsoKeep), b = std::max(keep, alsoKeep);
    const auto closeRange = [](int from, int to) {
        if (from <= to) ::close_range(static_cast<unsigned>(from), static_cast<unsigned>(to), 0);
    };
    closeRange(3, a - 1);
    closeRange(a + 1, b - 1);
    closeRange(b + 1, ~0u >> 1);
}

std::vector<std::filesystem::path> workerReadableFolders(
    std::vector<std::filesystem::path> modelFolders) {
    for (const char* system : {"/usr", "/proc/self", "/sys/devices/system/cpu"})
        modelFolders.emplace_back(system);
    for (std::filesystem::path& folder : resourceDirectories())
        modelFolders.push_back(std::move(folder));
    return modelFolders;
}

void confineWorkerProcess(const std::filesystem::path& model,
                          const std::vector<std::filesystem::path>& readable) {
    // The loader module's code is mapped while that is still allowed; the readable folders
    // were listed before: finding the resources reads /proc/self/exe.
    SceneLoader::prepareFormatLibraries(model);
    if (!readable.empty()) restrictFileAccess(readable);
    // Without the filter (an old kernel) the worker goes on unconfined, as --version says.
    (void)installSyscallFilter();
}

}  // namespace kelvo
