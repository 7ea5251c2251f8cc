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
#include <string>
#include <utility>
#include <variant>

#include "extensions/KelvoThumbnail/Confinement.h"
#include "extensions/KelvoThumbnail/ProcessLimits.h"
#include "extensions/Shared/ErrorReport.h"
#include "extensions/Shared/SceneLoader.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Resources.h"

namespace kelvo {

namespace {

// ---- The reply on the pipe --------------------------------------------------------------
// A kind byte, then for a thumbnail the PNG bytes to the end; for an error its code, domain
// and user info, strings as a 32-bit length and the bytes. The child exits with status 0
// after a whole reply; anything else is a crash.

constexpr char replyPNG = 'P', replyError = 'E';
// More than any thumbnail's PNG (4096 x 4096 pixels) can take: a child that sends more is
// not trusted with the parent's memory.
constexpr size_t maxReplyBytes = size_t{256} << 20;

template <typename Number>
void putNumber(std::string& out, Number value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void putString(std::string& out, std::string_view text) {
    putNumber(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

std::string encodeError(const Error& error) {
    std::string out(1, replyError);
    putNumber(out, static_cast<std::int64_t>(error.code()));
    putString(out, error.domain());
    // A bridged error's text lives in the bridged value, which does not cross: its message
    // goes as the description.
    Error::UserInfo info = error.userInfo();
    info.emplace(std::string(localizedDescriptionKey), errorMessage(error));
    putNumber(out, static_cast<std::uint32_t>(info.size()));
    for (const auto& [key, value] : info) {
        putString(out, key);
        putString(out, value);
    }
    return out;
}

struct Reader {
    std::string_view rest;
    bool ok = true;
    template <typename Number>
    Number number() {
        Number value{};
        std::string_view bytes = take(sizeof value);
        if (ok) std::memcpy(&value, bytes.data(), sizeof value);
        return value;
    }
    std::string_view take(size_t n) {
        if (!ok || rest.size() < n) {
            ok = false;
            return {};
        }
        std::string_view part = rest.substr(0, n);
        rest.remove_prefix(n);
        return part;
    }
    std::string string() {
        const auto length = number<std::uint32_t>();
        return std::string(take(length));
    }
};

std::optional<Error> decodeError(std::string_view bytes) {
    Reader reader{bytes};
    const auto code = reader.number<std::int64_t>();
    std::string domain = reader.string();
    const auto count = reader.number<std::uint32_t>();
    Error::UserInfo info;
    for (std::uint32_t i = 0; reader.ok && i < count; ++i) {
        std::string key = reader.string();
        info[key] = reader.string();
    }
    if (!reader.ok || !reader.rest.empty()) return std::nullopt;
    return Error(std::move(domain), static_cast<long>(code), std::move(info));
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// ---- The child --------------------------------------------------------------------------

// Closes every descriptor but 0, 1, 2 and `keep`.
void closeAllBut(int a, int b) {
    if (a > b) std::swap(a, b);
    const auto closeRange = [](int from, int to) {
        if (from <= to) ::close_range(static_cast<unsigned>(from), static_cast<unsigned>(to), 0);
    };
    closeRange(3, a - 1);
    closeRange(a + 1, b - 1);
    closeRange(b + 1, ~0u >> 1);
}

// The folders a model's loading and drawing may read: the model's own folder tree, /usr
// (fonts, the C library's data), the resources, and the process's own /proc entries and
// the processor list, which the C library and the sanitizers read.
std::vector<std::filesystem::path> readableFolders(const std::filesystem::path& model) {
    std::vector<std::filesystem::path> folders = {
        model.has_parent_path() ? model.parent_path() : std::filesystem::path("."), "/usr",
        "/proc/self", "/sys/devices/system/cpu"};
    for (std::filesystem::path& folder : resourceDirectories())
        folders.push_back(std::move(folder));
    return folders;
}

[[noreturn]] void runChild(int input, int reply, const std::filesystem::path& path,
                           const ThumbnailerOptions& options) {
    // Die with the parent; a crash leaves no core file.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    struct rlimit noCore {};
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC); null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        if (null > STDERR_FILENO) ::close(null);
    }
    closeAllBut(input, reply);
    if (options.memoryBudgetBytes > 0) limitMemory(options.memoryBudgetBytes);

    if (options.confined) {
        // The loader module's code is mapped while that is still allowed; folders are listed
        // before the filter: finding the resources reads /proc/self/exe.
        SceneLoader::prepareFormatLibraries(path);
        restrictFileAccess(readableFolders(path));
        // Without the filter (an old kernel) the child goes on unconfined, as --version says.
        (void)installSyscallFilter();
    }
    if (options.testFault == WorkerFault::crash) std::abort();
    if (options.testFault == WorkerFault::hang) {
        for (;;)
            ::pause();
    }

    readFileThroughDescriptor(path, input);
    std::variant<std::vector<std::uint8_t>, Error> made = drawThumbnailPNG(path, options);
    bool sent = false;
    if (const Error* error = std::get_if<Error>(&made)) {
        sent = writeAll(reply, encodeError(*error));
    } else {
        const std::vector<std::uint8_t>& png = std::get<0>(made);
        sent = writeAll(reply, std::string_view(&replyPNG, 1)) &&
               writeAll(reply,
                        std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
    }
    // _exit: nothing of the parent's (atexit handlers, stdio buffers) runs twice, and
    // LeakSanitizer's exit check, which needs ptrace, does not run in a confined child.
    ::_exit(sent ? 0 : 1);
}

// ---- The parent -------------------------------------------------------------------------

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

Error crashError() {
    return thumbnailerError(crashed, "Reading or drawing the file crashed");
}

}  // namespace

WorkerResult makeThumbnailInWorker(int input, const std::filesystem::path& path,
                                   const ThumbnailerOptions& options) {
    // Whatever the host left us: with SIGCHLD ignored (a disposition exec keeps) the child
    // would be reaped unseen and a crash could pass for success; with descriptor 0, 1 or 2
    // closed, the pipe could take its number and the child would write noise into it.
    ::signal(SIGCHLD, SIG_DFL);
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
    bool timedOut = false, readFailed = false;
    char buffer[65536];
    for (;;) {
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
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            readFailed = true;
            break;
        }
        if (n == 0) break;
        if (reply.size() + static_cast<size_t>(n) > maxReplyBytes) {
            readFailed = true;
            break;
        }
        reply.append(buffer, static_cast<size_t>(n));
    }
    ::close(from);
    if (timedOut || readFailed) ::kill(child, SIGKILL);
    int status = 0;
    pid_t reaped;
    while ((reaped = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }

    if (timedOut) {
        return {{},
                thumbnailerError(
                    timeLimitExceeded,
                    "Time limit of " + formatSeconds(options.timeLimitSeconds) + " s exceeded")};
    }
    if (readFailed || reaped != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        reply.empty()) {
        return {{}, crashError()};
    }
    std::string_view body = std::string_view(reply).substr(1);
    if (reply[0] == replyPNG) return {std::vector<std::uint8_t>(body.begin(), body.end()), {}};
    if (reply[0] == replyError) {
        if (std::optional<Error> error = decodeError(body)) return {{}, std::move(error)};
    }
    return {{}, crashError()};
}

}  // namespace kelvo
