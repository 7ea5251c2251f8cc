#include "platform/ModelIO/PLYHeader.h"

#include <cstring>
#include <string_view>

#include "platform/Foundation/Text.h"
#include "platform/ModelIO/ModelIO.h"
#include "platform/ModelIO/TextScanning.h"

namespace kelvo {

namespace {

using text::skipBlanks;
using text::skipWord;

PLYType typeNamed(std::string_view name) {
    static constexpr struct {
        std::string_view name;
        PLYType type;
    } types[] = {
        {"char", PLYType::int8},       {"int8", PLYType::int8},       {"uchar", PLYType::uint8},
        {"uint8", PLYType::uint8},     {"short", PLYType::int16},     {"int16", PLYType::int16},
        {"ushort", PLYType::uint16},   {"uint16", PLYType::uint16},   {"int", PLYType::int32},
        {"int32", PLYType::int32},     {"uint", PLYType::uint32},     {"uint32", PLYType::uint32},
        {"float", PLYType::float32},   {"float32", PLYType::float32}, {"double", PLYType::float64},
        {"float64", PLYType::float64},
    };
    for (const auto& t : types) {
        if (name == t.name) return t.type;
    }
    return PLYType::none;
}

PLYRole vertexRole(std::string_view name) {
    static constexpr struct {
        std::string_view name;
        PLYRole role;
    } roles[] = {
        {"x", PLYRole::x},
        {"y", PLYRole::y},
        {"z", PLYRole::z},
        {"nx", PLYRole::nx},
        {"ny", PLYRole::ny},
        {"nz", PLYRole::nz},
        {"red", PLYRole::red},
        {"green", PLYRole::green},
        {"blue", PLYRole::blue},
        {"alpha", PLYRole::alpha},
        {"diffuse_red", PLYRole::red},
        {"diffuse_green", PLYRole::green},
        {"diffuse_blue", PLYRole::blue},
        {"s", PLYRole::u},
        {"t", PLYRole::v},
        {"u", PLYRole::u},
        {"v", PLYRole::v},
        {"texture_u", PLYRole::u},
        {"texture_v", PLYRole::v},
        {"texture_s", PLYRole::u},
        {"texture_t", PLYRole::v},
    };
    for (const auto& r : roles) {
        if (name == r.name) return r.role;
    }
    return PLYRole::skip;
}

PLYRole faceRole(std::string_view name, bool list) {
    if (list) {
        if (name == "vertex_indices" || name == "vertex_index") return PLYRole::vertexIndices;
        if (name == "texcoord") return PLYRole::cornerTexcoords;
        return PLYRole::skip;
    }
    if (name == "red") return PLYRole::red;
    if (name == "green") return PLYRole::green;
    if (name == "blue") return PLYRole::blue;
    if (name == "alpha") return PLYRole::alpha;
    return PLYRole::skip;
}

std::string_view word(const char*& p, const char* end) {
    p = skipBlanks(p, end);
    const char* start = p;
    p = skipWord(p, end);
    return {start, static_cast<std::size_t>(p - start)};
}

[[noreturn]] void refuse(std::string why) {
    throw modelIOError("Not a readable PLY file: " + why);
}

}  // namespace

int plyTypeSize(PLYType type) {
    switch (type) {
        case PLYType::none:
            return 0;
        case PLYType::int8:
        case PLYType::uint8:
            return 1;
        case PLYType::int16:
        case PLYType::uint16:
            return 2;
        case PLYType::int32:
        case PLYType::uint32:
        case PLYType::float32:
            return 4;
        case PLYType::float64:
            return 8;
    }
    return 0;
}

PLYHeader parsePLYHeader(ByteSpan bytes) {
    const char* p = reinterpret_cast<const char*>(bytes.data());
    const char* end = p + bytes.size();
    if (bytes.size() < 4 || std::memcmp(p, "ply", 3) != 0 || (p[3] != '\n' && p[3] != '\r')) {
        refuse("it does not start with the line \"ply\"");
    }
    PLYHeader header;
    bool formatSeen = false;
    p += 3;
    for (;;) {
        // The rest of the current line, then the next one.
        const void* eol = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (!eol) refuse("its header has no end_header line");
        p = static_cast<const char*>(eol) + 1;
        const char* lineEnd =
            static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (!lineEnd) lineEnd = end;
        const char* q = p;
        const std::string_view keyword = word(q, lineEnd);
        if (keyword == "end_header") {
            if (!formatSeen) refuse("its header has no format line");
            header.bodyOffset = lineEnd < end
                                    ? static_cast<std::size_t>(
                                          lineEnd + 1 - reinterpret_cast<const char*>(bytes.data()))
                                    : bytes.size();
            return header;
        }
        if (keyword == "format") {
            const std::string_view format = word(q, lineEnd);
            if (format == "ascii") {
                header.format = PLYFormat::ascii;
            } else if (format == "binary_little_endian") {
                header.format = PLYFormat::binaryLittleEndian;
            } else if (format == "binary_big_endian") {
                header.format = PLYFormat::binaryBigEndian;
            } else {
                refuse("its format \"" + std::string(format) + "\" is unknown");
            }
            formatSeen = true;
        } else if (keyword == "element") {
            const std::string_view name = word(q, lineEnd);
            const std::string_view count = word(q, lineEnd);
            PLYElement& element = header.elements.emplace_back();
            element.kind = name == "vertex" ? PLYElementKind::vertex
                           : name == "face" ? PLYElementKind::face
                                            : PLYElementKind::other;
            const char* c = count.data();
            std::int64_t n = -1;
            if (!text::readInteger(c, count.data() + count.size(), n) || n < 0) {
                refuse("the element \"" + std::string(name) + "\" has no count");
            }
            element.count = static_cast<std::uint64_t>(n);
        } else if (keyword == "property") {
            if (header.elements.empty()) refuse("a property comes before any element");
            PLYElement& element = header.elements.back();
            PLYProperty property;
            std::string_view type = word(q, lineEnd);
            const bool list = type == "list";
            if (list) {
                property.countType = typeNamed(word(q, lineEnd));
                type = word(q, lineEnd);
                if (property.countType == PLYType::none || property.countType == PLYType::float32 ||
                    property.countType == PLYType::float64) {
                    refuse("a list property has no integer count type");
                }
            }
            property.type = typeNamed(type);
            if (property.type == PLYType::none) {
                refuse("the property type \"" + std::string(type) + "\" is unknown");
            }
            const std::string_view name = word(q, lineEnd);
            if (element.kind == PLYElementKind::vertex && !list) property.role = vertexRole(name);
            if (element.kind == PLYElementKind::face) property.role = faceRole(name, list);
            element.properties.push_back(property);
        } else if (keyword == "comment") {
            const std::string_view what = word(q, lineEnd);
            if (equalsIgnoringASCIICase(what, "TextureFile") && header.textureFile.empty()) {
                header.textureFile = std::string(text::trimmed(q, lineEnd));
            }
        }
        // obj_info and lines some writers add without a keyword are skipped.
    }
}

}  // namespace kelvo
