// Reading the rows of a PLY body, shared by the importer (PLYImporter.h) and the streaming
// reader (PLYStream.h), so that both read every row alike: values in either byte order or
// as text, colours scaled by their type's maximum, indices past 32 bits marked invalid.
// Every read is bounds-checked against the end given; nothing trusts the header's counts.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ModelIO/PLYHeader.h"
#include "platform/ModelIO/TextScanning.h"

namespace kelvo::ply {

constexpr std::uint32_t invalidIndex = 0xFFFFFFFF;
// Output indices are 32-bit: corners beyond this are not read.
constexpr std::size_t maxCorners = 0xF0000000;

// Binary values, in the file's byte order.
class BinaryCursor {
public:
    BinaryCursor(const std::uint8_t* p, const std::uint8_t* end, bool bigEndian)
        : p_(p), end_(end), swap_(bigEndian != (std::endian::native == std::endian::big)) {}

    bool value(PLYType type, double& out) {
        const int size = plyTypeSize(type);
        if (end_ - p_ < size) return false;
        std::uint8_t b[8];
        std::memcpy(b, p_, static_cast<std::size_t>(size));
        if (swap_) std::reverse(b, b + size);
        p_ += size;
        switch (type) {
            case PLYType::int8:
                out = static_cast<std::int8_t>(b[0]);
                break;
            case PLYType::uint8:
                out = b[0];
                break;
            case PLYType::int16:
                out = load<std::int16_t>(b);
                break;
            case PLYType::uint16:
                out = load<std::uint16_t>(b);
                break;
            case PLYType::int32:
                out = load<std::int32_t>(b);
                break;
            case PLYType::uint32:
                out = load<std::uint32_t>(b);
                break;
            case PLYType::float32:
                out = load<float>(b);
                break;
            case PLYType::float64:
                out = load<double>(b);
                break;
            case PLYType::none:
                return false;
        }
        return true;
    }
    bool integer(PLYType type, std::int64_t& out) {
        double v = 0;
        if (!value(type, v)) return false;
        // Integer types hold their values exactly in a double; a float index is truncated.
        out = std::isfinite(v) && std::fabs(v) < 9e15 ? static_cast<std::int64_t>(v) : -1;
        return true;
    }
    bool skip(PLYType type, std::uint64_t count) {
        const std::uint64_t size = static_cast<std::uint64_t>(plyTypeSize(type));
        if (count > static_cast<std::uint64_t>(end_ - p_) / size) return false;
        p_ += count * size;
        return true;
    }
    std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }
    const std::uint8_t* at() const { return p_; }
    void advance(std::size_t bytes) { p_ += bytes; }
    bool swaps() const { return swap_; }

private:
    template <class T>
    static T load(const std::uint8_t* b) {
        T v;
        std::memcpy(&v, b, sizeof v);
        return v;
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    bool swap_;
};

// ASCII values: words separated by any white space, line ends included.
class TextCursor {
public:
    TextCursor(const std::uint8_t* p, const std::uint8_t* end)
        : p_(reinterpret_cast<const char*>(p)), end_(reinterpret_cast<const char*>(end)) {}

    bool value(PLYType, double& out) {
        skipSpace();
        float v;
        if (!text::readFloat(p_, end_, v)) return false;
        out = v;
        return true;
    }
    bool integer(PLYType, std::int64_t& out) {
        skipSpace();
        if (!text::readInteger(p_, end_, out)) return false;
        // "3.0" where an integer belongs: the fraction is dropped.
        skipToken();
        return true;
    }
    bool skip(PLYType, std::uint64_t count) {
        for (std::uint64_t i = 0; i < count; ++i) {
            skipSpace();
            if (p_ >= end_) return false;
            skipToken();
        }
        return true;
    }
    std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }
    const std::uint8_t* at() const { return reinterpret_cast<const std::uint8_t*>(p_); }

private:
    static bool isSpace(char c) { return c == '\n' || text::isBlank(c); }
    void skipSpace() {
        while (p_ < end_ && isSpace(*p_))
            ++p_;
    }
    void skipToken() {
        while (p_ < end_ && !isSpace(*p_))
            ++p_;
    }

    const char* p_;
    const char* end_;
};

// The largest value of an integer type, by which colours stored as integers are scaled.
// The largest value of an integer type, by which colours stored as integers are scaled.
inline double colorScale(PLYType type) {
    switch (type) {
        case PLYType::int8:
            return 1.0 / 127;
        case PLYType::uint8:
            return 1.0 / 255;
        case PLYType::int16:
            return 1.0 / 32767;
        case PLYType::uint16:
            return 1.0 / 65535;
        case PLYType::int32:
            return 1.0 / 2147483647;
        case PLYType::uint32:
            return 1.0 / 4294967295.0;
        default:
            return 1;
    }
}

constexpr int roleCount = static_cast<int>(PLYRole::cornerTexcoords) + 1;

inline bool hasRole(const PLYElement& element, PLYRole role) {
    return std::any_of(element.properties.begin(), element.properties.end(),
                       [&](const PLYProperty& p) { return p.role == role; });
}

inline std::uint32_t minimumRowBytes(const PLYElement& element, bool binary) {
    std::uint32_t bytes = 0;
    for (const PLYProperty& p : element.properties) {
        bytes += binary ? static_cast<std::uint32_t>(
                              plyTypeSize(p.countType == PLYType::none ? p.type : p.countType))
                        : 2;
    }
    return bytes;
}

// A vertex's values before its row is read: colour channels a file leaves out are full.
inline void defaultValues(float (&values)[roleCount]) {
    std::fill(std::begin(values), std::end(values), 0.0f);
    for (PLYRole r : {PLYRole::red, PLYRole::green, PLYRole::blue, PLYRole::alpha})
        values[static_cast<int>(r)] = 1;
}

// A colour channel (nominally 0..1) as a byte.
inline std::uint8_t toByte(double v) {
    if (!(v > 0)) return 0;
    if (v >= 1) return 255;
    return static_cast<std::uint8_t>(std::lround(v * 255));
}

// The value of binary type `type` at `p`.
inline double loadValue(PLYType type, const std::uint8_t* p, bool swap) {
    std::uint8_t b[8];
    const int size = plyTypeSize(type);
    std::memcpy(b, p, static_cast<std::size_t>(size));
    if (swap) std::reverse(b, b + size);
    auto as = [&b]<class T>(T) {
        T v;
        std::memcpy(&v, b, sizeof v);
        return static_cast<double>(v);
    };
    switch (type) {
        case PLYType::int8:
            return as(std::int8_t{});
        case PLYType::uint8:
            return b[0];
        case PLYType::int16:
            return as(std::int16_t{});
        case PLYType::uint16:
            return as(std::uint16_t{});
        case PLYType::int32:
            return as(std::int32_t{});
        case PLYType::uint32:
            return as(std::uint32_t{});
        case PLYType::float32:
            return as(float{});
        case PLYType::float64:
            return as(double{});
        case PLYType::none:
            break;
    }
    return 0;
}

// Reads past every row of `element`; false when the bytes ran out.
template <class Cursor>
bool skipElement(Cursor& cursor, const PLYElement& element) {
    if (element.properties.empty()) return true;
    for (std::uint64_t row = 0; row < element.count; ++row) {
        for (const PLYProperty& p : element.properties) {
            std::int64_t n = 1;
            if (p.countType != PLYType::none && (!cursor.integer(p.countType, n) || n < 0))
                return false;
            if (!cursor.skip(p.type, static_cast<std::uint64_t>(n))) return false;
        }
    }
    return true;
}

// A face colour as RGBA8, red in the lowest byte.
inline std::uint32_t packedColor(const double (&color)[4]) {
    return std::uint32_t{toByte(color[0])} | std::uint32_t{toByte(color[1])} << 8 |
           std::uint32_t{toByte(color[2])} << 16 | std::uint32_t{toByte(color[3])} << 24;
}

// Per property of `element`, the factor its values are scaled by: colours stored as
// integers by their type's maximum, everything else 1.
inline std::vector<double> valueScales(const PLYElement& element) {
    std::vector<double> scale(element.properties.size(), 1.0);
    for (std::size_t k = 0; k < element.properties.size(); ++k) {
        const PLYRole r = element.properties[k].role;
        if (r >= PLYRole::red && r <= PLYRole::alpha)
            scale[k] = colorScale(element.properties[k].type);
    }
    return scale;
}

// One vertex row: `values` by role (defaultValues first). Lists are skipped. False when the
// bytes ran out or stopped being numbers.
template <class Cursor>
bool readVertexRow(Cursor& cursor, const PLYElement& element, const std::vector<double>& scale,
                   float (&values)[roleCount]) {
    defaultValues(values);
    for (std::size_t k = 0; k < element.properties.size(); ++k) {
        const PLYProperty& p = element.properties[k];
        if (p.countType != PLYType::none) {
            std::int64_t n;
            if (!cursor.integer(p.countType, n) || n < 0 ||
                !cursor.skip(p.type, static_cast<std::uint64_t>(n)))
                return false;
            continue;
        }
        double v = 0;
        if (!cursor.value(p.type, v)) return false;
        values[static_cast<int>(p.role)] = static_cast<float>(v * scale[k]);
    }
    return true;
}

// What one face row holds.
struct FaceRow {
    std::vector<std::uint32_t> corners;  // vertex numbers; invalidIndex for a negative or huge one
    double color[4] = {1, 1, 1, 1};      // scaled, full where the row gives none
    std::vector<float> texcoords;        // u v per corner, as written
};

// One face row into `row`. False when the bytes ran out or stopped being numbers, or the row
// holds more than `cornerRoom` corners.
template <class Cursor>
bool readFaceRow(Cursor& cursor, const PLYElement& element, const std::vector<double>& scale,
                 FaceRow& row, std::size_t cornerRoom = maxCorners) {
    row.corners.clear();
    row.texcoords.clear();
    std::fill(std::begin(row.color), std::end(row.color), 1.0);
    for (std::size_t k = 0; k < element.properties.size(); ++k) {
        const PLYProperty& p = element.properties[k];
        if (p.countType == PLYType::none) {
            double v = 0;
            if (!cursor.value(p.type, v)) return false;
            if (p.role >= PLYRole::red && p.role <= PLYRole::alpha)
                row.color[static_cast<int>(p.role) - static_cast<int>(PLYRole::red)] = v * scale[k];
            continue;
        }
        std::int64_t n;
        if (!cursor.integer(p.countType, n) || n < 0) return false;
        if (p.role == PLYRole::vertexIndices) {
            for (std::int64_t i = 0; i < n; ++i) {
                std::int64_t index;
                if (!cursor.integer(p.type, index) || row.corners.size() >= cornerRoom)
                    return false;
                row.corners.push_back(index >= 0 && index < invalidIndex
                                          ? static_cast<std::uint32_t>(index)
                                          : invalidIndex);
            }
        } else if (p.role == PLYRole::cornerTexcoords) {
            for (std::int64_t i = 0; i < n; ++i) {
                double v = 0;
                if (!cursor.value(p.type, v)) return false;
                row.texcoords.push_back(static_cast<float>(v));
            }
        } else if (!cursor.skip(p.type, static_cast<std::uint64_t>(n))) {
            return false;
        }
    }
    return true;
}

// Whether the face rows hold nothing but "property list uchar int vertex_indices" (or uint)
// in the machine's byte order, the commonest layout, which readPackedFaceRow reads.
inline bool packedFaceRows(const PLYElement& element, const BinaryCursor& cursor) {
    if (cursor.swaps() || element.properties.size() != 1) return false;
    const PLYProperty& p = element.properties[0];
    return p.role == PLYRole::vertexIndices && p.countType == PLYType::uint8 &&
           (p.type == PLYType::int32 || p.type == PLYType::uint32);
}

// readFaceRow for packed rows: the indices copied as they stand (a negative one becomes a
// number past any vertex, so the face is left out as readFaceRow's invalidIndex leaves it).
inline bool readPackedFaceRow(BinaryCursor& cursor, FaceRow& row) {
    if (cursor.remaining() < 1) return false;
    const std::size_t n = *cursor.at();
    if (cursor.remaining() - 1 < 4 * n) return false;
    row.corners.resize(n);
    if (n > 0) std::memcpy(row.corners.data(), cursor.at() + 1, 4 * n);
    cursor.advance(1 + 4 * n);
    return true;
}

}  // namespace kelvo::ply
