// Small text helpers that every format reader needs, in one place. Everything here works on
// ASCII only: file-format keywords, extensions and escapes are ASCII, and no non-ASCII
// character lower-cases to an ASCII letter, so ASCII rules decide exactly as Unicode ones
// would for them.
#pragma once

#include <string>
#include <string_view>

namespace kelvo {

inline char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string asciiLowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = asciiLower(c);
    return out;
}

inline bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

inline bool startsWithIgnoringASCIICase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoringASCIICase(text.substr(0, prefix.size()), prefix);
}

inline bool endsWithIgnoringASCIICase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           equalsIgnoringASCIICase(text.substr(text.size() - suffix.size()), suffix);
}

// The value of a hexadecimal digit, or -1.
inline int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace kelvo
