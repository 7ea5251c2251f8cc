#include "extensions/KelvoThumbnail/Thumbnailer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <exception>
#include <string>
#include <utility>

#include "extensions/KelvoThumbnail/AtomicFile.h"
#include "extensions/KelvoThumbnail/FileURI.h"
#include "extensions/KelvoThumbnail/SceneBudget.h"
#include "extensions/KelvoThumbnail/ThumbnailProvider.h"
#include "extensions/KelvoThumbnail/ThumbnailWorker.h"
#include "extensions/Shared/HostError.h"
#include "platform/Dispatch/DispatchSemaphore.h"
#include "platform/Imaging/ImageDecoding.h"
#include "platform/Imaging/PNG.h"

namespace kelvo {

namespace {

// Scenes are checked and trimmed on the loading queue, before the reply exists.
ThumbnailProvider::ScenePreparation scenePolicy(std::int64_t triangleBudget) {
    return [triangleBudget](Scene& scene) {
        // A file that loads to nothing (a text file named .stl, an empty solid) is not a
        // model: a blank square would hide the file's type icon for good. A point cloud is
        // something to draw.
        if (drawnTriangleCount(*scene.rootNode) == 0 && drawnPointCount(*scene.rootNode) == 0) {
            throw thumbnailerError(nothingToDraw, "The file holds no triangles or points to draw");
        }
        fitSceneToTriangleBudget(scene, triangleBudget);
    };
}

// The reply or the error of one request; the handler runs on a queue thread.
struct Outcome {
    std::optional<ThumbnailReply> reply;
    std::optional<Error> error;
    DispatchSemaphore done;
};

Error explainMemoryFailure(Error error, std::uint64_t budgetBytes) {
    if (budgetBytes == 0 || error.domain() != posixErrorDomain || error.code() != ENOMEM) {
        return error;
    }
    return makeError(std::string(posixErrorDomain), ENOMEM,
                     "Cannot allocate memory: the model needs more than the memory budget of " +
                         std::to_string(budgetBytes >> 20) + " MiB");
}

// drawThumbnailPNG without the conversion of what was thrown.
std::variant<std::vector<std::uint8_t>, Error> producePNG(const std::filesystem::path& path,
                                                          const ThumbnailerOptions& options) {
    const double side = options.size;
    // A thumbnail shows no more of a texture than about twice its own side: textures are
    // decoded, while loading, no larger than that.
    setMaximumTextureSide(textureSideForThumbnail(thumbnailPixelSize(options.size, options.scale)));
    Outcome outcome;
    ThumbnailProvider provider(scenePolicy(options.triangleBudget), options.streamingThreshold);
    provider.provideThumbnail(
        ThumbnailRequest{path, Size{side, side}, options.scale},
        [&outcome](std::optional<ThumbnailReply> reply, std::optional<Error> error) {
            outcome.reply = std::move(reply);
            outcome.error = std::move(error);
            outcome.done.signal();
        });
    outcome.done.wait();
    if (outcome.error) return std::move(*outcome.error);

    std::optional<RGBAImage> image = drawThumbnailReply(*outcome.reply, options.scale);
    outcome.reply.reset();  // the scene goes before the PNG is made
    if (!image) return thumbnailerError(renderFailed, "The model could not be rendered");
    std::vector<std::uint8_t> png = encodePNG(*image);
    if (png.empty()) return makeError(std::string(posixErrorDomain), ENOMEM, "PNG encoding failed");
    return png;
}

}  // namespace

int thumbnailPixelSize(int size, double scale) {
    const double pixels = std::floor(size * scale);
    return pixels >= 1 && pixels <= 1 << 30 ? static_cast<int>(pixels) : 0;
}

std::variant<std::vector<std::uint8_t>, Error> drawThumbnailPNG(const std::filesystem::path& path,
                                                                const ThumbnailerOptions& options) {
    std::optional<Error> error;
    try {
        std::variant<std::vector<std::uint8_t>, Error> made = producePNG(path, options);
        if (made.index() == 0) return made;
        error = std::get<Error>(std::move(made));
    } catch (...) {
        // Drawing runs here, on the calling thread.
        error = hostError(std::current_exception(), thumbnailModuleName);
    }
    return explainMemoryFailure(std::move(*error), options.memoryBudgetBytes);
}

std::variant<std::vector<std::uint8_t>, Error> makeThumbnailPNG(const ThumbnailerOptions& options) {
    std::optional<std::filesystem::path> path = localPathFromArgument(options.input);
    if (!path) return thumbnailerError(notALocalFile, "Not a local file URI");
    return drawThumbnailPNG(*path, options);
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
