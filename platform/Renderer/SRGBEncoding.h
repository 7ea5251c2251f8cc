// The renderer's last step: linear values to 8-bit sRGB, by table.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "platform/Renderer/Shading.h"

namespace kelvo::render {

// Linear 0..1 to 8-bit sRGB; fine enough that neighbouring entries differ by less than
// one 8-bit step everywhere.
inline constexpr int encodeSteps = 8192;
inline const std::array<std::uint8_t, encodeSteps + 1>& srgbEncodeTable() {
    static const auto table = [] {
        std::array<std::uint8_t, encodeSteps + 1> t{};
        for (int i = 0; i <= encodeSteps; ++i) {
            float v = shading::linearToSrgb(static_cast<float>(i) / encodeSteps);
            t[i] = static_cast<std::uint8_t>(std::lrint(v * 255));
        }
        return t;
    }();
    return table;
}

inline std::uint8_t encode(float linear) {
    const auto& table = srgbEncodeTable();
    float clamped = shading::clamp01(linear);
    return table[static_cast<int>(clamped * encodeSteps + 0.5f)];
}

}  // namespace kelvo::render
