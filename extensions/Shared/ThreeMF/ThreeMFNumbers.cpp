#include "extensions/Shared/ThreeMF/ThreeMFNumbers.h"

namespace kelvo {

using cNumberDetail::isDigit;

std::optional<std::uint32_t> parseWholeUInt32(std::string_view text) {
    size_t k = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        k = 1;
    }
    if (k == text.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (; k < text.size(); ++k) {
        const auto c = static_cast<std::uint8_t>(text[k]);
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    if (negative && value != 0) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

}  // namespace kelvo
