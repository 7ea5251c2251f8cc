// Number reading exactly as the C library reads numbers in the C locale, whatever locale the
// process runs in: a decimal point is always '.', and white space is only blank, tab, line
// feed, vertical tab, form feed and carriage return. Every text format reader (3MF, OBJ, MTL,
// PLY) reads its numbers here, so one file gives the same values in every reader and on every
// user's machine.
//
// Every reader takes an end pointer and never looks at or past it, so no terminating zero
// byte is needed after the input. Pure functions; any thread.
#pragma once

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kelvo {

struct CFloatParse {
    float value = 0;
    // Just past the last byte converted; the start itself when nothing was converted.
    const std::uint8_t* next = nullptr;
};

// The exactness argument below needs arithmetic in the declared precision.
static_assert(FLT_EVAL_METHOD == 0, "float and double arithmetic must not use wider registers");

namespace cNumberDetail {

inline bool isCSpace(std::uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
inline bool isDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

// Every power of ten up to 1e22 is exact in double precision.
inline constexpr double exactPowersOfTen[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// True when `d` lies exactly halfway between two neighbouring floats: its bits below
// single precision are a one followed by zeros.
inline bool isHalfwayBetweenFloats(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return (bits & 0x1FFFFFFF) == 0x10000000;
}

// Everything parseCFloat's inline path leaves: fast_float for decimals, the C library for
// the rest.
CFloatParse parseCFloatInGeneral(const std::uint8_t* p, const std::uint8_t* end);

}  // namespace cNumberDetail

// strtof in the C locale over [p, end): leading white space, an optional sign, decimal
// digits with an optional fraction and exponent, hexadecimal floating notation, inf,
// infinity and nan (any case, nan with an optional "(chars)"). Too large a magnitude gives
// +-infinity. Nothing convertible gives 0 with `next` == p. Results are bit-identical to
// strtof_l with a C locale.
//
// The numbers slicers write ("-12.345678") take the inline path. A significand of at most
// 2^53 divided by at most 10^22 is one exact division in double precision, correctly
// rounded (Clinger's fast path). Narrowing that double to float then gives the correctly
// rounded float, as strtof does, unless the double lies exactly halfway between two
// floats: a float boundary strictly between the decimal value and its nearest double would
// itself be a nearer double. Those rare halfway cases, and all other forms, go to
// fast_float (which rounds the same way) or, for what it lacks, to the C library.
inline CFloatParse parseCFloat(const std::uint8_t* p, const std::uint8_t* end) {
    using namespace cNumberDetail;
    const std::uint8_t* q = p;
    const bool negative = q < end && *q == '-';
    q += negative;
    std::uint64_t significand = 0;
    const std::uint8_t* digits = q;
    while (q < end && isDigit(*q))
        significand = significand * 10 + (*q++ - '0');
    const std::ptrdiff_t integerDigits = q - digits;
    std::ptrdiff_t fractionDigits = 0;
    if (q < end && *q == '.') {
        const std::uint8_t* fraction = ++q;
        while (q < end && isDigit(*q))
            significand = significand * 10 + (*q++ - '0');
        fractionDigits = q - fraction;
    }
    const std::ptrdiff_t allDigits = integerDigits + fractionDigits;
    // An exponent or a hexadecimal 'x' would continue the number; 19 digits cannot wrap.
    const bool continues = q < end && ((*q | 0x20) == 'e' || (*q | 0x20) == 'x');
    if (allDigits == 0 || allDigits > 19 || significand > (std::uint64_t{1} << 53) || continues) {
        return parseCFloatInGeneral(p, end);
    }
    const double exact = static_cast<double>(significand) / exactPowersOfTen[fractionDigits];
    if (isHalfwayBetweenFloats(exact)) return parseCFloatInGeneral(p, end);
    const float value = static_cast<float>(exact);
    return {negative ? -value : value, q};
}

}  // namespace kelvo
