#include "platform/GLTFKit/GLTFAccessors.h"

#include <algorithm>
#include <cstring>

namespace kelvo::gltf {

namespace {

template <class T>
T load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// One component as a float, by glTF's normalisation rules when `normalized`.
template <class T>
float toFloat(T v, bool normalized) {
    if constexpr (std::is_same_v<T, float>) {
        return v;
    } else {
        if (!normalized) return static_cast<float>(v);
        if constexpr (std::is_same_v<T, std::int8_t>) return std::max(v / 127.0f, -1.0f);
        if constexpr (std::is_same_v<T, std::uint8_t>) return v / 255.0f;
        if constexpr (std::is_same_v<T, std::int16_t>) return std::max(v / 32767.0f, -1.0f);
        if constexpr (std::is_same_v<T, std::uint16_t>) return v / 65535.0f;
        return static_cast<float>(v / 4294967295.0);
    }
}

// Elements [0, count) of a strided run of T components, `have` per element, into `out` with
// `want` per element.
template <class T>
void convert(const std::uint8_t* src, std::uint64_t stride, std::uint64_t count, int have, int want,
             bool normalized, float* out) {
    // A hostile accessor may hold no elements, and the buffers around it may then be empty.
    if (count == 0) return;
    const int n = std::min(have, want);
    if (std::is_same_v<T, float> && have == want && stride == sizeof(float) * have) {
        std::memcpy(out, src, count * stride);
        return;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* e = src + i * stride;
        float* o = out + i * want;
        for (int c = 0; c < n; ++c)
            o[c] = toFloat(load<T>(e + c * sizeof(T)), normalized);
        for (int c = n; c < want; ++c)
            o[c] = 0;
    }
}

}  // namespace

void convertComponents(int componentType, const std::uint8_t* src, std::uint64_t stride,
                       std::uint64_t count, int have, int want, bool normalized, float* out) {
    switch (componentType) {
        case gltfByte:
            return convert<std::int8_t>(src, stride, count, have, want, normalized, out);
        case gltfUnsignedByte:
            return convert<std::uint8_t>(src, stride, count, have, want, normalized, out);
        case gltfShort:
            return convert<std::int16_t>(src, stride, count, have, want, normalized, out);
        case gltfUnsignedShort:
            return convert<std::uint16_t>(src, stride, count, have, want, normalized, out);
        case gltfUnsignedInt:
            return convert<std::uint32_t>(src, stride, count, have, want, normalized, out);
        default:
            return convert<float>(src, stride, count, have, want, normalized, out);
    }
}

namespace {

template <class T>
void widen(const std::uint8_t* src, std::uint64_t stride, std::uint64_t count, std::uint32_t* out) {
    if (count == 0) return;
    if (sizeof(T) == 4 && stride == 4) {
        std::memcpy(out, src, count * 4);
        return;
    }
    for (std::uint64_t i = 0; i < count; ++i)
        out[i] = load<T>(src + i * stride);
}

void widenAny(int componentType, const std::uint8_t* src, std::uint64_t stride, std::uint64_t count,
              std::uint32_t* out) {
    switch (componentType) {
        case gltfUnsignedByte:
            return widen<std::uint8_t>(src, stride, count, out);
        case gltfUnsignedShort:
            return widen<std::uint16_t>(src, stride, count, out);
        default:
            return widen<std::uint32_t>(src, stride, count, out);
    }
}

const std::uint8_t* viewData(const GLTFAsset& asset, std::int64_t view, std::uint64_t offset) {
    return asset.bufferViews[view].bytes.data() + offset;
}

// Where the sparse indices say, the sparse values replace the elements; indices past the
// accessor's count are left out.
template <class Write>
void applySparse(const GLTFAsset& asset, const GLTFAccessor& a, Write write) {
    const GLTFSparse& s = a.sparse;
    const std::uint8_t* indices = viewData(asset, s.indicesBufferView, s.indicesByteOffset);
    const std::uint8_t* values = viewData(asset, s.valuesBufferView, s.valuesByteOffset);
    const std::uint64_t indexSize = gltfComponentSize(s.indicesComponentType);
    const std::uint64_t elementSize = accessorElementSize(a);
    for (std::uint64_t i = 0; i < s.count; ++i) {
        std::uint32_t target = 0;
        widenAny(s.indicesComponentType, indices + i * indexSize, indexSize, 1, &target);
        if (target < a.count) write(target, values + i * elementSize);
    }
}

}  // namespace

std::uint64_t accessorElementSize(const GLTFAccessor& accessor) {
    return std::uint64_t(gltfComponentSize(accessor.componentType)) * accessor.components;
}

std::uint64_t accessorStride(const GLTFAsset& asset, const GLTFAccessor& accessor) {
    if (accessor.bufferView >= 0) {
        std::uint64_t stride = asset.bufferViews[accessor.bufferView].byteStride;
        if (stride) return stride;
    }
    return accessorElementSize(accessor);
}

void readAccessorFloats(const GLTFAsset& asset, const GLTFAccessor& a, int components, float* out) {
    if (a.bufferView >= 0) {
        convertComponents(a.componentType, viewData(asset, a.bufferView, a.byteOffset),
                          accessorStride(asset, a), a.count, a.components, components, a.normalized,
                          out);
    } else {
        std::fill(out, out + a.count * components, 0.0f);
    }
    if (a.hasSparse) {
        applySparse(asset, a, [&](std::uint32_t target, const std::uint8_t* value) {
            convertComponents(a.componentType, value, 0, 1, a.components, components, a.normalized,
                              out + std::uint64_t(target) * components);
        });
    }
}

void readAccessorIndices(const GLTFAsset& asset, const GLTFAccessor& a, std::uint32_t* out) {
    if (a.bufferView >= 0) {
        widenAny(a.componentType, viewData(asset, a.bufferView, a.byteOffset),
                 accessorStride(asset, a), a.count, out);
    } else {
        std::fill(out, out + a.count, 0u);
    }
    if (a.hasSparse) {
        applySparse(asset, a, [&](std::uint32_t target, const std::uint8_t* value) {
            widenAny(a.componentType, value, 0, 1, out + target);
        });
    }
}

bool accessorFloatsInPlace(const GLTFAsset& asset, const GLTFAccessor& a, int components,
                           SharedFloats& shared) {
    if (a.bufferView < 0 || a.hasSparse || a.componentType != gltfFloat ||
        a.components != components) {
        return false;
    }
    const GLTFBytes& bytes = asset.bufferViews[a.bufferView].bytes;
    std::uint64_t stride = accessorStride(asset, a);
    std::uint64_t offset = bytes.offset + a.byteOffset;
    if (stride % 4 != 0 || offset % 4 != 0) return false;
    shared = {bytes, a.byteOffset, stride};
    return true;
}

}  // namespace kelvo::gltf
