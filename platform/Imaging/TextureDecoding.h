// The step every loader takes after building its scene: decode the textures its materials use.
//
// Each Texture reachable from a sampled material slot (diffuse, metalness-roughness,
// emission: the renderers draw no normal or occlusion maps, which stay encoded, `levels`
// empty) of a geometry in the scene is decoded once,
// however many slots, materials and nodes share it: its `encoded` bytes become `levels`, a
// mip chain whose first level is at most maximumTextureSide() on its longer side
// (ImageDecoding.h). Since slots hold their textures as const, a decoded texture is a new
// object that takes the old one's place in every slot that named it, keeping `path`,
// `mimeType` and the encoded bytes. A texture without bytes, in a format without
// a decoder (KTX2, anything unknown) or whose bytes do not decode is marked not found, and
// its material renders on its factors. Textures decoded already, or marked not found, are
// left as they are, so a second call does nothing.
//
// Images are decoded side by side on the global queue when there are several; the calling
// thread takes its share, so the call finishes even when every worker is busy.
#pragma once

#include "platform/SceneKit/Node.h"

namespace kelvo {

void decodeTextures(Scene& scene);

// One texture's decoded form: a copy with `levels` filled or `found` false.
Texture decodedTexture(const Texture& texture);

}  // namespace kelvo
