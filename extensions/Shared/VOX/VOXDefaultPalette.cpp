// The default palette, computed at compile time from the rule that generates it, so it is
// one constant of the library and never rebuilt.
#include "extensions/Shared/VOX/VOXReader.h"

namespace kelvo {

namespace {

constexpr std::uint32_t opaque(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return 0xFF000000u | b << 16 | g << 8 | r;
}

constexpr std::array<std::uint32_t, 256> makeDefaultPalette() {
    constexpr std::uint32_t cube[6] = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
    constexpr std::uint32_t ramp[10] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
    std::array<std::uint32_t, 256> palette{};
    size_t i = 1;
    for (std::uint32_t r : cube) {
        for (std::uint32_t g : cube) {
            for (std::uint32_t b : cube) {
                if (r == 0 && g == 0 && b == 0) continue;
                palette[i++] = opaque(r, g, b);
            }
        }
    }
    for (std::uint32_t level : ramp)
        palette[i++] = opaque(level, 0, 0);
    for (std::uint32_t level : ramp)
        palette[i++] = opaque(0, level, 0);
    for (std::uint32_t level : ramp)
        palette[i++] = opaque(0, 0, level);
    for (std::uint32_t level : ramp)
        palette[i++] = opaque(level, level, level);
    return palette;
}

constexpr std::array<std::uint32_t, 256> palette = makeDefaultPalette();
static_assert(palette[1] == 0xFFFFFFFF && palette[215] == 0xFF330000 &&
              palette[216] == 0xFF0000EE && palette[255] == 0xFF111111);

}  // namespace

const std::array<std::uint32_t, 256> defaultVOXPalette = palette;

}  // namespace kelvo
