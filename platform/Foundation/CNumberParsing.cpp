#include "platform/Foundation/CNumberParsing.h"

#include <fast_float/fast_float.h>
#include <locale.h>
#include <stdlib.h>

#include <cstring>
#include <string>

namespace kelvo {

namespace {

using cNumberDetail::isCSpace;
using cNumberDetail::isDigit;

// Every byte strtof can consume, whatever the form: digits, letters (exponents, hex digits,
// inf, nan and nan's "(chars)"), '_', the parentheses, '.', and the signs.
bool mayContinueNumber(std::uint8_t c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '(' ||
           c == ')' || c == '.' || c == '+' || c == '-';
}

// One C locale for the process, made once (thread-safe static initialisation) and never
// freed; the user's LC_NUMERIC is never consulted.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// The C library on a zero-terminated copy of the longest run of bytes that could belong to
// a number. strtof stops at the first byte outside such a run, so on the copy it converts
// exactly what it would convert in place.
CFloatParse parseWithCLibrary(const std::uint8_t* start, const std::uint8_t* end,
                              const std::uint8_t* original) {
    const std::uint8_t* runEnd = start;
    while (runEnd < end && mayContinueNumber(*runEnd))
        ++runEnd;
    const size_t length = static_cast<size_t>(runEnd - start);
    char small[128];
    std::string large;
    char* text = small;
    if (length < sizeof small) {
        std::memcpy(small, start, length);
        small[length] = '\0';
    } else {
        large.assign(reinterpret_cast<const char*>(start), length);
        text = large.data();
    }
    char* stop = nullptr;
    float value = strtof_l(text, &stop, cLocale());
    if (stop == text) return {0.0f, original};
    return {value, start + (stop - text)};
}

}  // namespace

CFloatParse cNumberDetail::parseCFloatInGeneral(const std::uint8_t* p, const std::uint8_t* end) {
    const std::uint8_t* q = p;
    while (q < end && isCSpace(*q))
        ++q;
    if (q == end) return {0.0f, p};
    // fast_float handles plain decimal input exactly as strtof does (both round correctly
    // to nearest); it knows no '+' sign and no hexadecimal form, and its NaN need not carry
    // the C library's bits, so everything but "-"? digits-or-point goes to the C library.
    const std::uint8_t* digits = q + (*q == '-' ? 1 : 0);
    if (digits < end && (isDigit(*digits) || *digits == '.')) {
        const bool hex = *digits == '0' && digits + 1 < end && (digits[1] | 0x20) == 'x';
        if (!hex) {
            float value = 0;
            auto result = fast_float::from_chars(reinterpret_cast<const char*>(q),
                                                 reinterpret_cast<const char*>(end), value);
            if (result.ec != std::errc()) return {0.0f, p};
            return {value, reinterpret_cast<const std::uint8_t*>(result.ptr)};
        }
    }
    return parseWithCLibrary(q, end, p);
}

}  // namespace kelvo
