#include "extensions/KelvoCache/WorkerPool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <variant>

#include "extensions/KelvoThumbnail/ProcessLimits.h"
#include "extensions/KelvoThumbnail/Thumbnailer.h"
#include "extensions/KelvoThumbnail/ThumbnailWorker.h"
#include "extensions/KelvoThumbnail/WorkerReply.h"

namespace kelvo {

namespace {

// For the tests only: a file of this name makes the worker crash or stall, the way a file
// that finds a bug in a parser would.
bool namedInEnvironment(const char* variable, const std::string& path) {
    const char* name = std::getenv(variable);
    return name && *name && std::filesystem::path(path).filename() == name;
}

[[noreturn]] void runWorker(int in, int out, const WorkerOptions& options) {
    prepareWorkerProcess(in, out);
    if (options.memoryBudgetBytes > 0) limitMemory(options.memoryBudgetBytes);
    // A worker serves files of every kind: all the loader code is mapped.
    if (options.confined) confineWorkerProcess({}, options.readable);
    for (;;) {
        std::uint32_t header[2];  // pixels, path length
        if (!readAll(in, header, sizeof header) || header[1] > PATH_MAX) ::_exit(0);
        std::string path(header[1], '\0');
        if (!readAll(in, path.data(), path.size())) ::_exit(0);
        if (namedInEnvironment("KELVO_TEST_CRASH_ON", path)) std::abort();
        if (namedInEnvironment("KELVO_TEST_STALL_ON", path)) ::pause();
        ThumbnailerOptions thumbnail;
        thumbnail.input = path;
        thumbnail.size = static_cast<int>(header[0]);
        thumbnail.timeLimitSeconds = 0;  // the parent keeps the time
        thumbnail.memoryBudgetBytes = options.memoryBudgetBytes;
        thumbnail.triangleBudget = options.triangleBudget;
        if (!writeAll(out, encodeWorkerReply(makeThumbnailPNG(thumbnail)))) ::_exit(0);
    }
}

}  // namespace

WorkerPool::WorkerPool(int jobs, WorkerOptions options) : options_(options) {
    // A worker that dies mid-reply must not end the parent with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    workers_.resize(static_cast<size_t>(std::max(1, jobs)));
    for (Worker& worker : workers_)
        start(worker);
}

WorkerPool::~WorkerPool() {
    for (Worker& worker : workers_)
        stop(worker);
}

void WorkerPool::start(Worker& worker) {
    int requests[2], replies[2];
    if (::pipe2(requests, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
    if (::pipe2(replies, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(requests[0]);
        ::close(requests[1]);
        throw std::system_error(error, std::generic_category());
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        for (int fd : {requests[0], requests[1], replies[0], replies[1]})
            ::close(fd);
        throw std::system_error(error, std::generic_category());
    }
    if (pid == 0) {
        runWorker(requests[0], replies[1], options_);
    }
    ::close(requests[0]);
    ::close(replies[1]);
    worker.pid = pid;
    worker.toWorker = requests[1];
    worker.fromWorker = replies[0];
    worker.current.reset();
}

void WorkerPool::stop(Worker& worker) {
    if (worker.pid < 0) return;
    ::close(worker.toWorker);  // an idle worker ends when its requests end
    if (worker.current) ::kill(worker.pid, SIGKILL);
    ::close(worker.fromWorker);
    int status;
    while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
    }
    worker = Worker();
}

bool WorkerPool::hasIdleWorker() const {
    return std::any_of(workers_.begin(), workers_.end(),
                       [](const Worker& w) { return w.pid >= 0 && !w.current; });
}

bool WorkerPool::busy() const {
    return std::any_of(workers_.begin(), workers_.end(),
                       [](const Worker& w) { return w.current.has_value(); });
}

void WorkerPool::submit(RenderRequest request) {
    for (Worker& worker : workers_) {
        if (worker.pid < 0 || worker.current) continue;
        const std::uint32_t header[2] = {static_cast<std::uint32_t>(request.pixels),
                                         static_cast<std::uint32_t>(request.path.size())};
        worker.current = std::move(request);
        worker.started = std::chrono::steady_clock::now();
        if (!writeAll(worker.toWorker, {reinterpret_cast<const char*>(header), sizeof header}) ||
            !writeAll(worker.toWorker, worker.current->path)) {
            // A worker that has gone is found by collect(), which reports the file.
        }
        return;
    }
}

std::vector<RenderResult> WorkerPool::collect() {
    std::vector<RenderResult> results;
    while (results.empty() && busy()) {
        std::vector<pollfd> fds;
        std::vector<Worker*> polled;
        int timeoutMs = -1;
        const auto now = std::chrono::steady_clock::now();
        for (Worker& worker : workers_) {
            if (!worker.current) continue;
            fds.push_back({worker.fromWorker, POLLIN, 0});
            polled.push_back(&worker);
            if (options_.timeLimitSeconds > 0) {
                const double left = options_.timeLimitSeconds -
                                    std::chrono::duration<double>(now - worker.started).count();
                const int ms = static_cast<int>(std::clamp(std::ceil(left * 1000), 0.0, 1e9));
                timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
            }
        }
        const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category());
        for (size_t i = 0; i < fds.size(); ++i) {
            Worker& worker = *polled[i];
            RenderResult result;
            result.tag = worker.current->tag;
            if (fds[i].revents != 0) {
                std::string reply(workerReplyHeadBytes, '\0');
                std::optional<size_t> size;
                if (readAll(worker.fromWorker, reply.data(), reply.size()) &&
                    (size = workerReplyBodySize(reply))) {
                    reply.resize(workerReplyHeadBytes + *size);
                    std::optional<WorkerOutcome> outcome;
                    if (readAll(worker.fromWorker, reply.data() + workerReplyHeadBytes, *size) &&
                        (outcome = decodeWorkerReply(reply))) {
                        if (Error* error = std::get_if<Error>(&*outcome)) {
                            result.error = std::move(*error);
                        } else {
                            result.png = std::move(std::get<std::vector<std::uint8_t>>(*outcome));
                        }
                        worker.current.reset();
                        results.push_back(std::move(result));
                        continue;
                    }
                }
                result.error = workerCrashedError();
            } else if (options_.timeLimitSeconds > 0 &&
                       std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                     worker.started)
                               .count() >= options_.timeLimitSeconds) {
                result.error = timeLimitError(options_.timeLimitSeconds);
            } else {
                continue;
            }
            // The worker crashed or ran out of time: a new one takes its place.
            stop(worker);
            start(worker);
            results.push_back(std::move(result));
        }
    }
    return results;
}

}  // namespace kelvo
