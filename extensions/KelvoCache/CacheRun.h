// One run over a list of model files: the thumbnails that are missing or stale are made on
// the worker pool and written into the cache; valid ones and remembered failures are left.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "extensions/KelvoCache/CacheLayout.h"
#include "extensions/KelvoCache/WorkerPool.h"

namespace kelvo {

struct CacheOptions {
    std::filesystem::path cacheDirectory;  // the thumbnails folder
    std::vector<ThumbnailFlavour> flavours = {thumbnailFlavours[1]};
    int jobs = 1;
    WorkerOptions worker;
    bool retryFailed = false;  // forget the failures earlier runs recorded
    bool dryRun = false;       // decide, make and write nothing
};

struct CacheFailure {
    std::filesystem::path file;
    std::string reason;  // "DOMAIN CODE: MESSAGE", or why the cache could not be written
};

struct CacheProgress {
    size_t done = 0, total = 0;  // thumbnails: files x flavours
    size_t made = 0, valid = 0, failedBefore = 0;
    std::vector<CacheFailure> failed;
    const std::filesystem::path* current = nullptr;  // the file just finished
};

// The folder an application's failure records go in: fail/kelvo-VERSION.
std::filesystem::path failureFolder(const std::filesystem::path& cacheDirectory);

// Thumbnails every file of `files` in each flavour, calling `report` after each one.
// Throws std::system_error when no worker can be started.
CacheProgress fillThumbnailCache(const std::vector<std::filesystem::path>& files,
                                 const CacheOptions& options,
                                 const std::function<void(const CacheProgress&)>& report);

}  // namespace kelvo
