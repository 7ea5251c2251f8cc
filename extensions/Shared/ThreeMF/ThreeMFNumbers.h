// Number reading for the 3MF model scanner: floats as the C library reads them in the C locale
// (platform/Foundation/CNumberParsing.h), and the scanner's two kinds of unsigned integers.
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/Foundation/CNumberParsing.h"

namespace kelvo {

// strtoul in base 10 in the C locale over [p, end) (white space, an optional sign, digits;
// none gives 0), narrowed to 32 bits by one safe rule: a value that does not fit, which
// includes every negative value except zero, becomes 4294967295. That index is beyond the
// vertex count of any mesh a package can hold, so every consumer, which must check indices
// against the vertex count, drops the triangle instead of drawing a wrong one (plain
// truncation would turn 4294967296 into the valid index 0).
inline std::uint32_t parseTriangleIndex(const std::uint8_t* p, const std::uint8_t* end) {
    using namespace cNumberDetail;
    while (p < end && isCSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    constexpr std::uint64_t limit = 0xFFFFFFFFu;
    std::uint64_t value = 0;
    while (p < end && isDigit(*p)) {
        value = value * 10 + (*p++ - '0');
        // Held just above the limit: it cannot wrap, and a value once too large stays so.
        if (value > limit) value = limit + 1;
    }
    if (value > limit || (negative && value != 0)) return static_cast<std::uint32_t>(limit);
    return static_cast<std::uint32_t>(value);
}

// A whole text as an unsigned 32-bit decimal: an optional sign and at least one ASCII digit,
// nothing else (no blanks), at most 4294967295. '+' is accepted; '-' only before digits that
// are all zeros, giving 0. Anything else gives no value.
std::optional<std::uint32_t> parseWholeUInt32(std::string_view text);

}  // namespace kelvo
