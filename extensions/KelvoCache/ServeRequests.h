// kelvo-cache --serve: thumbnails for a program that drives Kelvo through a pipe, such as the
// Python module's isolated mode, without a process start per file.
//
// One request at a time: on `in`, the thumbnail's pixel size and the path's length (32-bit
// numbers in the machine's order) and the path; on `out`, the reply frame of WorkerReply.h.
// The files are drawn by a confined worker as kelvo-cache's own are, so a file that crashes
// or hangs its worker costs that worker (a KelvoThumbnail 5 or 3 reply), never the server.
#pragma once

#include "extensions/KelvoCache/WorkerPool.h"

namespace kelvo {

// Answers requests until `in` ends (status 0) or a request is malformed (a pixel size out of
// 1 to 4096, a path empty or longer than PATH_MAX) or `out` has gone (status 1). Throws std::system_error when no worker can be started.
int serveRequests(int in, int out, const WorkerOptions& options);

}  // namespace kelvo
