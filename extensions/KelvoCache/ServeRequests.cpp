#include "extensions/KelvoCache/ServeRequests.h"

#include <climits>
#include <cstdint>
#include <string>

#include "extensions/KelvoThumbnail/WorkerReply.h"

namespace kelvo {

int serveRequests(int in, int out, const WorkerOptions& options) {
    WorkerPool pool(1, options);
    for (;;) {
        std::uint32_t header[2];  // pixels, path length
        if (!readAll(in, header, sizeof header)) return 0;
        if (header[0] < 1 || header[0] > 4096 || header[1] == 0 || header[1] > PATH_MAX) return 1;
        std::string path(header[1], '\0');
        if (!readAll(in, path.data(), path.size())) return 1;

        pool.submit({std::move(path), static_cast<int>(header[0]), 0});
        std::vector<RenderResult> results;
        while (results.empty())
            results = pool.collect();
        RenderResult& result = results.front();
        const std::string reply = result.error ? encodeWorkerReply(std::move(*result.error))
                                               : encodeWorkerReply(std::move(result.png));
        if (!writeAll(out, reply)) return 1;
    }
}

}  // namespace kelvo
