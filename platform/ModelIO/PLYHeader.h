// The header of a PLY file: its format, its elements with their properties, and what each
// property means to the importer (PLYImporter.h lists the names it knows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

enum class PLYFormat { ascii, binaryLittleEndian, binaryBigEndian };

enum class PLYType : std::uint8_t {
    none,
    int8,
    uint8,
    int16,
    uint16,
    int32,
    uint32,
    float32,
    float64
};

// Bytes of one binary value; 0 for none.
int plyTypeSize(PLYType type);

enum class PLYRole : std::uint8_t {
    skip,
    x,
    y,
    z,
    nx,
    ny,
    nz,
    red,
    green,
    blue,
    alpha,
    u,
    v,
    vertexIndices,    // face: list of vertex indices
    cornerTexcoords,  // face: list of u v per corner
};

struct PLYProperty {
    PLYType type = PLYType::none;       // of the value, or of a list's items
    PLYType countType = PLYType::none;  // of a list's count; none for a scalar
    PLYRole role = PLYRole::skip;
};

enum class PLYElementKind { other, vertex, face };

struct PLYElement {
    PLYElementKind kind = PLYElementKind::other;
    std::uint64_t count = 0;  // as declared: not to be trusted
    std::vector<PLYProperty> properties;
};

struct PLYHeader {
    PLYFormat format = PLYFormat::ascii;
    std::vector<PLYElement> elements;
    std::string textureFile;     // from "comment TextureFile NAME"; empty when none
    std::size_t bodyOffset = 0;  // the first byte after the end_header line
};

// Parses the header at the start of `bytes`; throws a ModelIO error when it is not one.
PLYHeader parsePLYHeader(ByteSpan bytes);

}  // namespace kelvo
