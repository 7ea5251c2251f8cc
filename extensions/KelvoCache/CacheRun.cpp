#include "extensions/KelvoCache/CacheRun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>

#include "extensions/KelvoCache/PNGText.h"
#include "extensions/KelvoCache/TreeWalk.h"
#include "extensions/Shared/ErrorReport.h"
#include "platform/Imaging/PNG.h"

namespace kelvo {

namespace {

// What one thumbnail needs: its file, the facts it is made from and where it goes.
struct Job {
    std::filesystem::path file;
    ThumbnailFacts facts;
    std::string mimeType;
    ThumbnailFlavour flavour;
    std::filesystem::path thumbnail, failure;
};

// Folders of the cache are private to the user (mode 0700), as the standard asks.
bool makePrivateFolders(const std::filesystem::path& folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return true;
    if (!folder.has_parent_path() || folder.parent_path() == folder) return false;
    if (!makePrivateFolders(folder.parent_path())) return false;
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// Writes `bytes` to a temporary file beside `path` (mode 0600) and renames it over `path`,
// so that a file manager never reads half a thumbnail. An error text, empty on success.
std::string writePrivately(const std::filesystem::path& path,
                           const std::vector<std::uint8_t>& bytes) {
    if (!makePrivateFolders(path.parent_path())) {
        return "cannot make " + path.parent_path().string() + ": " + std::strerror(errno);
    }
    std::string temporary = (path.parent_path() / (".kelvo-XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return "cannot write in " + path.parent_path().string() + ": " + std::strerror(errno);
    ::fchmod(fd, 0600);
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const int error = written == bytes.size() ? 0 : errno;
    if (::close(fd) != 0 || error != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(error ? error : errno);
        ::unlink(temporary.c_str());
        return "cannot write " + path.string() + ": " + reason;
    }
    return {};
}

PNGTextEntries cacheText(const Job& job) {
    PNGTextEntries text = {{"Thumb::URI", job.facts.uri},
                           {"Thumb::MTime", std::to_string(job.facts.mtime)},
                           {"Thumb::Size", std::to_string(job.facts.size)}};
    if (!job.mimeType.empty()) text.push_back({"Thumb::Mimetype", job.mimeType});
    text.push_back({"Software", std::string("Kelvo ") + KELVO_VERSION});
    return text;
}

// A failure record: a one-pixel transparent PNG with the same text as a thumbnail.
std::vector<std::uint8_t> failureRecord(const Job& job) {
    const std::vector<std::uint8_t> pixel = encodePNG(RGBAImage(1, 1));
    std::optional<std::vector<std::uint8_t>> png = withPNGText(pixel, cacheText(job));
    return png ? *png : std::vector<std::uint8_t>{};
}

}  // namespace

std::filesystem::path failureFolder(const std::filesystem::path& cacheDirectory) {
    return cacheDirectory / "fail" / (std::string("kelvo-") + KELVO_VERSION);
}

CacheProgress fillThumbnailCache(const std::vector<std::filesystem::path>& files,
                                 const CacheOptions& options,
                                 const std::function<void(const CacheProgress&)>& report) {
    CacheProgress progress;
    progress.total = files.size() * options.flavours.size();
    const std::filesystem::path failures = failureFolder(options.cacheDirectory);
    if (options.retryFailed && !options.dryRun) {
        std::error_code ignored;
        std::filesystem::remove_all(failures, ignored);
    }

    // Decide first, in order; what needs making goes to the workers.
    std::vector<Job> jobs;
    std::deque<size_t> pending;
    for (const std::filesystem::path& file : files) {
        const std::optional<std::string> uri = fileURI(file);
        const std::optional<ThumbnailFacts> facts = uri ? currentFacts(file, *uri) : std::nullopt;
        for (const ThumbnailFlavour& flavour : options.flavours) {
            progress.current = &file;
            if (!facts) {
                ++progress.done;
                progress.failed.push_back(
                    {file, "POSIX " + std::to_string(errno) + ": " + std::strerror(errno)});
                report(progress);
                continue;
            }
            const std::string name = thumbnailFileName(facts->uri);
            Job job{file,
                    *facts,
                    std::string(modelMimeType(file)),
                    flavour,
                    options.cacheDirectory / flavour.name / name,
                    failures / name};
            if (thumbnailIsValid(job.thumbnail, job.facts)) {
                ++progress.done, ++progress.valid;
                report(progress);
            } else if (!options.retryFailed && thumbnailIsValid(job.failure, job.facts)) {
                ++progress.done, ++progress.failedBefore;
                report(progress);
            } else {
                pending.push_back(jobs.size());
                jobs.push_back(std::move(job));
            }
        }
    }
    if (options.dryRun || pending.empty()) {
        progress.done = progress.total;
        return progress;
    }

    WorkerPool pool(static_cast<int>(std::min<size_t>(options.jobs, pending.size())),
                    options.worker);
    while (!pending.empty() || pool.busy()) {
        while (!pending.empty() && pool.hasIdleWorker()) {
            const Job& job = jobs[pending.front()];
            pool.submit({job.file.string(), job.flavour.pixels, pending.front()});
            pending.pop_front();
        }
        for (RenderResult& result : pool.collect()) {
            const Job& job = jobs[result.tag];
            progress.current = &job.file;
            ++progress.done;
            std::string problem;
            if (!result.error) {
                std::optional<std::vector<std::uint8_t>> png =
                    withPNGText(result.png, cacheText(job));
                problem = png ? writePrivately(job.thumbnail, *png) : "the worker's PNG is damaged";
                if (problem.empty()) ++progress.made;
            } else {
                problem = errorSummary(*result.error);
                // Remembered, so that the next run does not try again.
                writePrivately(job.failure, failureRecord(job));
            }
            if (!problem.empty()) progress.failed.push_back({job.file, problem});
            report(progress);
        }
    }
    return progress;
}

}  // namespace kelvo
