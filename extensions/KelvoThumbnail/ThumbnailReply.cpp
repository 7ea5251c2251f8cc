#include "extensions/KelvoThumbnail/ThumbnailReply.h"

#include "platform/Imaging/GraphicsContext.h"

namespace kelvo {

std::optional<RGBAImage> drawThumbnailReply(const ThumbnailReply& reply, double scale) {
    GraphicsContext context(reply.contextSize, scale);
    if (context.bitmap().width == 0 || !reply.drawingBlock) return std::nullopt;
    bool drew = false;
    {
        CurrentGraphicsContext current(&context);
        drew = reply.drawingBlock();
    }
    if (!drew) return std::nullopt;
    return context.takeBitmap();
}

}  // namespace kelvo
