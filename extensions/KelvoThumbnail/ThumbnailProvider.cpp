#include "extensions/KelvoThumbnail/ThumbnailProvider.h"

#include <exception>
#include <utility>

#include "extensions/KelvoThumbnail/ThumbnailerError.h"
#include "extensions/Shared/HostError.h"
#include "extensions/Shared/StreamedModel.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Imaging/GraphicsContext.h"

namespace kelvo {

namespace {

// What the drawing block holds: `render` keeps the scene (or the streamed file) alive until
// the host drops the reply.
ThumbnailReply makeReply(std::function<SceneLoader::ThumbnailFrame(Size)> render, Size maximumSize,
                         Size pixelSize) {
    ThumbnailReply reply;
    reply.contextSize = maximumSize;
    reply.drawingBlock = [render = std::move(render), maximumSize, pixelSize]() -> bool {
        // The watermark is measured on the pixel size, so it looks the same at every scale.
        SceneLoader::ThumbnailFrame frame;
        try {
            frame = render(pixelSize);
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

ThumbnailProvider::ThumbnailProvider(ScenePreparation prepare, std::int64_t streamingThreshold)
    : loader_(std::make_shared<const SceneLoader>()),
      prepare_(prepare ? std::make_shared<const ScenePreparation>(std::move(prepare)) : nullptr),
      streamingThreshold_(streamingThreshold) {}

void ThumbnailProvider::provideThumbnail(const ThumbnailRequest& request,
                                         CompletionHandler handler) const {
    const Size maximumSize = request.maximumSize;
    const Size pixelSize{maximumSize.width * request.scale, maximumSize.height * request.scale};
    DispatchQueue::global(QoSClass::userInitiated)
        .async([loader = loader_, prepare = prepare_, threshold = streamingThreshold_,
                url = request.fileURL, maximumSize, pixelSize, handler = std::move(handler)] {
            std::optional<ThumbnailReply> reply;
            std::optional<Error> error;
            try {
                // Decided by the file's size before it is read, never by a load that failed.
                if (std::shared_ptr<const StreamedModel> model =
                        loader->openStreamed(url, threshold)) {
                    if (model->triangles == 0) {
                        throw thumbnailerError(nothingToDraw,
                                               "The file holds no triangles or points to draw");
                    }
                    reply = makeReply(
                        [loader, model](Size size) {
                            return loader->renderStreamedThumbnailFrame(*model, size);
                        },
                        maximumSize, pixelSize);
                } else {
                    std::shared_ptr<Scene> scene = loader->load(url);
                    if (prepare) (*prepare)(*scene);
                    reply = makeReply(
                        [loader, scene = std::move(scene)](Size size) {
                            return loader->renderThumbnailFrame(*scene, size);
                        },
                        maximumSize, pixelSize);
                }
            } catch (...) {
                reply.reset();
                error = hostError(std::current_exception(), thumbnailModuleName);
            }
            // Outside the try: a handler that threw must not be called a second time.
            handler(std::move(reply), std::move(error));
        });
}

}  // namespace kelvo
