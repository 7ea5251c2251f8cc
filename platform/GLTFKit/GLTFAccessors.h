// Reading a validated accessor's elements (GLTFAsset.h: loadAsset checked its ranges), with
// byte strides, every component type, normalisation and sparse substitution. Internal to
// GLTFKit.
#pragma once

#include <cstdint>

#include "platform/GLTFKit/GLTFAsset.h"

namespace kelvo::gltf {

// Bytes of one element as stored (components times component size).
std::uint64_t accessorElementSize(const GLTFAccessor& accessor);
// The distance between elements in the buffer view.
std::uint64_t accessorStride(const GLTFAsset& asset, const GLTFAccessor& accessor);

// Writes count * `components` floats to `out`: the accessor's first `components` components
// of each element (missing ones 0), normalised integers mapped to [0, 1] or [-1, 1] as glTF
// defines, other integers converted as numbers (KHR_mesh_quantization), sparse values
// substituted.
void readAccessorFloats(const GLTFAsset& asset, const GLTFAccessor& accessor, int components,
                        float* out);

// `count` elements of `have` components of `componentType` each, `stride` bytes apart, as
// `want` floats each (missing components 0), normalised as glTF defines when `normalized`.
void convertComponents(int componentType, const std::uint8_t* src, std::uint64_t stride,
                       std::uint64_t count, int have, int want, bool normalized, float* out);

// Writes count unsigned integers (the first component of each element) to `out`.
void readAccessorIndices(const GLTFAsset& asset, const GLTFAccessor& accessor, std::uint32_t* out);

// The accessor's bytes when they already are `components` packed floats per element, without
// sparse values: the first element's address in the view's bytes and its stride; nothing
// otherwise (and when an element would sit at an address not aligned for a float).
struct SharedFloats {
    GLTFBytes bytes;  // the view's bytes
    std::uint64_t offset = 0;
    std::uint64_t stride = 0;
};
bool accessorFloatsInPlace(const GLTFAsset& asset, const GLTFAccessor& accessor, int components,
                           SharedFloats& shared);

}  // namespace kelvo::gltf
