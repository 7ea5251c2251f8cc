// Test-only glTF writing: a binary buffer built value by value, wrapped with a JSON text into a
// GLB container, so that a test can state exactly the document and bytes it means.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

namespace kelvo::test {

// Little-endian values appended to a growing buffer.
struct BinaryBuffer {
    Bytes bytes;

    template <class T>
    BinaryBuffer& add(std::initializer_list<T> values) {
        for (T v : values) {
            std::uint8_t raw[sizeof(T)];
            std::memcpy(raw, &v, sizeof(T));
            bytes.insert(bytes.end(), raw, raw + sizeof(T));
        }
        return *this;
    }
    BinaryBuffer& floats(std::initializer_list<float> v) { return add<float>(v); }
    size_t size() const { return bytes.size(); }
};

inline void appendU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A GLB version 2 file: the JSON chunk (padded with spaces) and, when `bin` is not empty, the
// binary chunk (padded with zeros).
inline Bytes glb(const std::string& json, const Bytes& bin = {}) {
    std::string text = json;
    while (text.size() % 4)
        text.push_back(' ');
    Bytes data = bin;
    while (data.size() % 4)
        data.push_back(0);
    Bytes out;
    appendU32(out, 0x46546C67);
    appendU32(out, 2);
    appendU32(out, static_cast<std::uint32_t>(12 + 8 + text.size() +
                                              (bin.empty() ? 0 : 8 + data.size())));
    appendU32(out, static_cast<std::uint32_t>(text.size()));
    appendU32(out, 0x4E4F534A);
    out.insert(out.end(), text.begin(), text.end());
    if (!bin.empty()) {
        appendU32(out, static_cast<std::uint32_t>(data.size()));
        appendU32(out, 0x004E4942);
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

inline std::string base64(const Bytes& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t v = std::uint32_t(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= std::uint32_t(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= bytes[i + 2];
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += i + 1 < bytes.size() ? digits[v >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? digits[v & 63] : '=';
    }
    return out;
}

}  // namespace kelvo::test
