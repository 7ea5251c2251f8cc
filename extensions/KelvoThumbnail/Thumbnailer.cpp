#include "extensions/KelvoThumbnail/Thumbnailer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <utility>

#include "extensions/KelvoThumbnail/AtomicFile.h"
#include "extensions/KelvoThumbnail/FileURI.h"
#include "extensions/KelvoThumbnail/ThumbnailProvider.h"
#include "extensions/KelvoThumbnail/ThumbnailWorker.h"
#include "extensions/Shared/HostError.h"

namespace kelvo {

int thumbnailPixelSize(int size, double scale) {
    const double pixels = std::floor(size * scale);
    return pixels >= 1 && pixels <= 1 << 30 ? static_cast<int>(pixels) : 0;
}

std::optional<Error> makeThumbnail(const ThumbnailerOptions& options) {
    std::optional<std::filesystem::path> path = localPathFromArgument(options.input);
    if (!path) return thumbnailerError(notALocalFile, "Not a local file URI");
    // Opened here, where opening is still allowed; O_NONBLOCK keeps a FIFO from blocking
    // the open (the worker refuses anything but a regular file).
    const int input = ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (input < 0) return posixError(errno, *path);
    WorkerResult result = makeThumbnailInWorker(input, *path, options);
    ::close(input);
    if (result.error) return std::move(result.error);
    try {
        writeFileAtomically(options.output, ByteSpan(result.png.data(), result.png.size()));
    } catch (...) {
        return hostError(std::current_exception(), thumbnailModuleName);
    }
    return std::nullopt;
}

}  // namespace kelvo
