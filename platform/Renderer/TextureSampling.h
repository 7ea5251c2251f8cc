// Sampling a material texture at one surface point, as the GPU's texture units do with the
// same sampler settings: the texture transform first, then the mip level that the pixel's UV
// footprint asks for (the larger of its two screen-axis extents, in texels, as log2, rounded
// to the nearest level), then bilinear filtering between the four nearest texels of that
// level with the wrap modes applied to each texel coordinate. A slot that asks for nearest
// magnification takes the nearest texel where the texture is magnified.
//
// Colour textures are sRGB-encoded: their texels are decoded to linear before filtering, as
// the GPU does for sRGB formats; data textures (metalness-roughness) are filtered as stored.
// Alpha is always linear. v grows downwards in the image: (0, 0) is the top-left corner.
#pragma once

#include "platform/Renderer/Frame.h"

namespace kelvo::render {

struct Float4 {
    float x = 0, y = 0, z = 0, w = 0;
};

// UV and its change per pixel step along raster x and y.
struct UVFootprint {
    float u = 0, v = 0;
    float dudx = 0, dvdx = 0, dudy = 0, dvdy = 0;
};

// The filtered texel: RGB linear (or as stored for data), alpha.
Float4 sampleTexture(const TextureBinding& binding, const UVFootprint& at);

}  // namespace kelvo::render
