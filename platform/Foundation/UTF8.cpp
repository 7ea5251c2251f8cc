#include "platform/Foundation/UTF8.h"

namespace kelvo {

bool isValidUTF8(ByteSpan bytes) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* end = p + bytes.size();
    while (p < end) {
        std::uint8_t c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        // The allowed range of the second byte narrows for the lead bytes that could
        // otherwise start an overlong form, a surrogate or a code point above U+10FFFF
        // (Unicode's table of well-formed byte sequences).
        int length;
        std::uint8_t low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (end - p < length) return false;
        if (p[1] < low || p[1] > high) return false;
        for (int k = 2; k < length; ++k) {
            if (p[k] < 0x80 || p[k] > 0xBF) return false;
        }
        p += length;
    }
    return true;
}

}  // namespace kelvo
