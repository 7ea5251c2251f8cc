#include "extensions/KelvoThumbnail/ThumbnailProvider.h"

#include <exception>
#include <utility>

#include "extensions/KelvoThumbnail/ThumbnailerError.h"
#include "extensions/Shared/HostError.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Imaging/GraphicsContext.h"

namespace kelvo {

namespace {

// What the drawing block holds: the scene stays alive until the host drops the reply.
ThumbnailReply makeReply(std::shared_ptr<const SceneLoader> loader, std::shared_ptr<Scene> scene,
                         Size maximumSize, Size pixelSize) {
    ThumbnailReply reply;
    reply.contextSize = maximumSize;
    reply.drawingBlock = [loader = std::move(loader), scene = std::move(scene), maximumSize,
                          pixelSize]() -> bool {
        // The watermark is measured on the pixel size, so it looks the same at every scale.
        SceneLoader::ThumbnailFrame frame;
        try {
            frame = loader->renderThumbnailFrame(*scene, pixelSize);
        } catch (...) {
            // A render that fails (out of memory, say) is a render with no image: the host
            // has its reply already and learns of the failure from the result alone.
        }
        if (frame.coveredNothing) {
            throw thumbnailerError(nothingToDraw,
                                   "Nothing of the model can be seen: its triangles have no area "
                                   "or lie where no picture can show them");
        }
        const std::optional<RGBAImage>& image = frame.image;
        if (!image) return false;
        GraphicsContext* context = GraphicsContext::current();
        if (!context) return false;
        context->drawImage(*image, Rect{0, 0, maximumSize.width, maximumSize.height});
        return true;
    };
    return reply;
}

}  // namespace

ThumbnailProvider::ThumbnailProvider() : loader_(std::make_shared<const SceneLoader>()) {}

ThumbnailProvider::ThumbnailProvider(ScenePreparation prepare)
    : loader_(std::make_shared<const SceneLoader>()),
      prepare_(prepare ? std::make_shared<const ScenePreparation>(std::move(prepare)) : nullptr) {}

void ThumbnailProvider::provideThumbnail(const ThumbnailRequest& request,
                                         CompletionHandler handler) const {
    const Size maximumSize = request.maximumSize;
    const Size pixelSize{maximumSize.width * request.scale, maximumSize.height * request.scale};
    DispatchQueue::global(QoSClass::userInitiated)
        .async([loader = loader_, prepare = prepare_, url = request.fileURL, maximumSize, pixelSize,
                handler = std::move(handler)] {
            std::optional<ThumbnailReply> reply;
            std::optional<Error> error;
            try {
                std::shared_ptr<Scene> scene = loader->load(url);
                if (prepare) (*prepare)(*scene);
                reply = makeReply(loader, std::move(scene), maximumSize, pixelSize);
            } catch (...) {
                reply.reset();
                error = hostError(std::current_exception(), thumbnailModuleName);
            }
            // Outside the try: a handler that threw must not be called a second time.
            handler(std::move(reply), std::move(error));
        });
}

}  // namespace kelvo
