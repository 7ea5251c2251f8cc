// Test-only helpers: temporary files, the shared corpus, and writers that build model files
// field by field so a test can corrupt exactly one field.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo::test {

using Bytes = std::vector<std::uint8_t>;

// A directory of its own for each test, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvo-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

    std::filesystem::path write(const std::string& name, const Bytes& bytes) const {
        std::filesystem::path file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return file;
    }
    std::filesystem::path write(const std::string& name, const std::string& text) const {
        return write(name, Bytes(text.begin(), text.end()));
    }

private:
    std::filesystem::path path_;
};

// The exception of type E that `operation` throws, or none.
template <class E, class F>
std::optional<E> caught(F&& operation) {
    try {
        operation();
    } catch (const E& e) {
        return e;
    }
    return std::nullopt;
}

// The shared corpus of real model files, or an empty path when it is not beside the
// checkout (the tests that need it then skip).
inline std::filesystem::path corpusDir() {
    if (const char* env = std::getenv("KELVO_CORPUS_DIR")) return env;
    std::filesystem::path dir = KELVO_CORPUS_DIR;
    return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

#define KELVO_REQUIRE_CORPUS()                                               \
    do {                                                                     \
        if (::kelvo::test::corpusDir().empty()) GTEST_SKIP() << "no corpus"; \
    } while (0)

inline void appendUInt16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void appendUInt32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void appendFloat(Bytes& b, float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    appendUInt32(b, bits);
}

struct STLTriangle {
    float normal[3];
    float v[9];
};

// A binary STL: 80-byte header, count, 50 bytes per triangle. `declaredCount` overrides
// the count field when not negative.
inline Bytes binarySTL(const std::vector<STLTriangle>& triangles, const std::string& header = "",
                       long long declaredCount = -1) {
    Bytes b(80, ' ');
    std::memcpy(b.data(), header.data(), std::min<size_t>(header.size(), 80));
    appendUInt32(b, declaredCount >= 0 ? static_cast<std::uint32_t>(declaredCount)
                                       : static_cast<std::uint32_t>(triangles.size()));
    for (const auto& t : triangles) {
        for (float f : t.normal)
            appendFloat(b, f);
        for (float f : t.v)
            appendFloat(b, f);
        appendUInt16(b, 0);
    }
    return b;
}

inline ByteSpan span(const Bytes& b) {
    return ByteSpan(b.data(), b.size());
}

}  // namespace kelvo::test
