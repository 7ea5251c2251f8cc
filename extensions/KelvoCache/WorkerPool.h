// Worker processes that make thumbnails one file at a time, started once and reused.
//
// Each worker is a forked child that confines itself as the thumbnailer's worker does, reads
// requests from a pipe, makes the thumbnail with the thumbnailer's own code (makeThumbnailPNG)
// under the thumbnailer's memory budget, and writes the PNG or the error back
// (WorkerReply.h). The parent never parses a model: a file that crashes its worker
// or makes it run past the time limit costs that worker, which is killed and replaced, and
// the batch goes on.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Foundation/Error.h"

namespace kelvo {

struct WorkerOptions {
    double timeLimitSeconds = 20;                                 // per file; 0: none
    std::uint64_t memoryBudgetBytes = std::uint64_t{2048} << 20;  // per worker; 0: none
    std::int64_t triangleBudget = 2'000'000;
    // The thumbnailer's confinement in each worker (ThumbnailWorker.h): the system-call
    // filter, and Landlock with reads beneath `readable` when it is not empty.
    bool confined = true;
    std::vector<std::filesystem::path> readable;
};

struct RenderRequest {
    std::string path;
    int pixels = 256;
    size_t tag = 0;  // the caller's, handed back with the result
};

struct RenderResult {
    size_t tag = 0;
    std::vector<std::uint8_t> png;  // when there is no error
    std::optional<Error> error;     // a crash is KelvoThumbnail 5, the time limit 3
};

class WorkerPool {
public:
    // Starts `jobs` workers (at least one). Throws std::system_error when none can start.
    WorkerPool(int jobs, WorkerOptions options);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Whether a worker is free for submit().
    bool hasIdleWorker() const;
    // Whether any request is in progress.
    bool busy() const;
    // Hands `request` to a free worker; call only when hasIdleWorker().
    void submit(RenderRequest request);
    // Waits until at least one request in progress has finished (made, failed, crashed or
    // out of time) and returns those that have; empty when nothing was in progress.
    std::vector<RenderResult> collect();

private:
    struct Worker {
        pid_t pid = -1;
        int toWorker = -1, fromWorker = -1;
        std::optional<RenderRequest> current;
        std::chrono::steady_clock::time_point started;
    };
    void start(Worker& worker);
    void stop(Worker& worker);

    WorkerOptions options_;
    std::vector<Worker> workers_;
};

}  // namespace kelvo
