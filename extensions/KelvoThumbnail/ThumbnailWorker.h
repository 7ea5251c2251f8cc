// The thumbnail worker: one model read, drawn and encoded in a confined child process.
//
// The caller (the broker) keeps the rights the work needs and the child never gets: it
// opened the input, it writes the output, it enforces the time limit. The child
//   1. keeps the input descriptor, a pipe to its parent and standard error, and closes every
//      other descriptor (standard input and output become /dev/null);
//   2. applies the memory budget to itself and dies with its parent;
//   3. unless confinement is off: restricts its file access with Landlock where the kernel
//      has it (reads beneath the model's folder, /usr and the resources only) and installs
//      the system-call filter of Confinement.h;
//   4. only then reads the model (through the descriptor), loads, stages, renders, stamps the
//      watermark, encodes the PNG, sends the PNG or the error over the pipe and exits.
// A child that crashes, is killed or exits without a whole reply is a clean failure
// (KelvoThumbnail 5); one still running when the time limit is up is killed (KelvoThumbnail
// 3). Nothing is ever written by the child. Once its reply is whole, the parent goes on
// without waiting for the child's exit, and reaps it at its next call.
//
// Fork only from a process that has not started the dispatch queues' threads (the child
// would inherit their state but not the threads): the thumbnailer forks before it draws
// anything.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "extensions/KelvoThumbnail/Thumbnailer.h"
#include "platform/Foundation/Error.h"

namespace kelvo {

struct WorkerResult {
    std::vector<std::uint8_t> png;  // the encoded thumbnail when there is no error
    std::optional<Error> error;
};

// Makes the thumbnail of the model open at `input` (read from its start), whose path is
// `path` (its extension picks the loader; its folder holds the files it refers to), with
// options' size, scale, budgets, time limit and confinement; options.input and
// options.output are not used. `input` stays the caller's.
WorkerResult makeThumbnailInWorker(int input, const std::filesystem::path& path,
                                   const ThumbnailerOptions& options);

// Steps 1 and 2 above, for any worker process: dies with its parent, leaves no core file,
// points standard input and output at /dev/null (they may be a pipe of the parent's, which
// a library's printing would corrupt) and closes every descriptor but standard error, `keep`
// and `alsoKeep` (both above 2).
void prepareWorkerProcess(int keep, int alsoKeep);

// The folders a worker reading models beneath `modelFolders` may read: those, /usr (fonts,
// the C library's data), the resources, and the process's own /proc entries and the
// processor list, which the C library and the sanitizers read. List them before confining:
// finding the resources reads /proc/self/exe.
std::vector<std::filesystem::path> workerReadableFolders(
    std::vector<std::filesystem::path> modelFolders);

// Step 3 above, for any worker process about to read untrusted models: maps the format
// libraries `model`'s extension needs (every one when `model` is empty) while mapping code
// is still allowed, restricts file access to reading beneath `readable` (no Landlock when it
// is empty) and installs the system-call filter. Where the kernel lacks either, the worker
// goes on without it. Irreversible: for the child, never the broker.
void confineWorkerProcess(const std::filesystem::path& model,
                          const std::vector<std::filesystem::path>& readable);

}  // namespace kelvo
