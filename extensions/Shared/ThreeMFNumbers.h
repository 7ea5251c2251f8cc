// Number reading for the 3MF model scanner, exactly as the C library reads numbers in the C
// locale whatever locale the process runs in: a decimal point is always '.', and white
// space is only blank, tab, line feed, vertical tab, form feed and carriage return.
//
// Every reader takes an end pointer and never looks at or past it, so the scanner needs no
// terminating zero byte after its input. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kelvo {

struct CFloatParse {
    float value = 0;
    // Just past the last byte converted; the start itself when nothing was converted.
    const std::uint8_t* next = nullptr;
};

// strtof in the C locale over [p, end): leading white space, an optional sign, decimal
// digits with an optional fraction and exponent, hexadecimal floating notation, inf,
// infinity and nan (any case, nan with an optional "(chars)"). Too large a magnitude gives
// +-infinity. Nothing convertible gives 0 with `next` == p. Results are bit-identical to
// strtof_l with a C locale (decimal input goes through fast_float, which rounds the same way;
// the rare other forms go to the C library itself).
CFloatParse parseCFloat(const std::uint8_t* p, const std::uint8_t* end);

// strtoul in base 10 in the C locale over [p, end) (white space, an optional sign, digits;
// none gives 0), narrowed to 32 bits by one safe rule: a value that does not fit, which
// includes every negative value except zero, becomes 4294967295. That index is beyond the
// vertex count of any mesh a package can hold, so every consumer, which must check indices
// against the vertex count, drops the triangle instead of drawing a wrong one (plain
// truncation would turn 4294967296 into the valid index 0).
std::uint32_t parseTriangleIndex(const std::uint8_t* p, const std::uint8_t* end);

// A whole text as an unsigned 32-bit decimal: an optional sign and at least one ASCII digit,
// nothing else (no blanks), at most 4294967295. '+' is accepted; '-' only before digits that
// are all zeros, giving 0. Anything else gives no value.
std::optional<std::uint32_t> parseWholeUInt32(std::string_view text);

}  // namespace kelvo
