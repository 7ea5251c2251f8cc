// WebP textures through libwebp, which shrinks while it decodes (its own area-averaging
// rescaler, alpha included), straight into the image's buffer. Animations are refused: a
// texture is one picture.
#include <webp/decode.h>

#include "platform/Imaging/ImageDecoders.h"

namespace kelvo::imaging {

std::optional<RGBAImage> decodeWebPImage(ByteSpan bytes, int maxSide) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return std::nullopt;
    if (WebPGetFeatures(bytes.data(), bytes.size(), &config.input) != VP8_STATUS_OK) {
        return std::nullopt;
    }
    if (config.input.has_animation) return std::nullopt;
    if (!acceptableSize(std::uint64_t(config.input.width), std::uint64_t(config.input.height))) {
        return std::nullopt;
    }
    const FittedSize size =
        fitInside(std::uint32_t(config.input.width), std::uint32_t(config.input.height), maxSide);
    if (size.width != config.input.width || size.height != config.input.height) {
        config.options.use_scaling = 1;
        config.options.scaled_width = size.width;
        config.options.scaled_height = size.height;
    }
    RGBAImage image(size.width, size.height);
    config.output.colorspace = MODE_RGBA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.pixels.data();
    config.output.u.RGBA.stride = size.width * 4;
    config.output.u.RGBA.size = image.pixels.size();
    const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) return std::nullopt;
    return image;
}

}  // namespace kelvo::imaging
