// STL import, binary and ASCII, written for speed.
//
// Which kind a file is: binary when its size is exactly 84 + 50 x (the header's triangle
// count), even when the header starts with "solid"; otherwise ASCII when it starts with
// "solid" (after white space); otherwise binary again, reading only the whole triangles the
// file holds (a truncated or padded file shows what it has). The header's count is never
// used for an allocation beyond what the file can hold.
//
// Output: one object per binary file, one per ASCII solid that has at least one facet (named
// after it), each with a geometry of three unshared vertices per triangle with the facet
// normal on each, so hard edges stay hard, and no material.
// A facet normal that is zero or not finite is recomputed from the vertices. Non-finite
// vertices are kept as read (the renderers skip their triangles).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/ModelIO/ModelIO.h"

namespace kelvo {

ModelAsset importSTL(ByteSpan bytes);

// The choice above for the file `bytes`: which kind it is and, for a binary file, how many
// whole triangles are read.
struct STLLayout {
    enum Kind { none, binary, ascii } kind = none;
    std::uint64_t binaryTriangles = 0;
};
STLLayout stlLayout(ByteSpan bytes);

// Binary triangle records start here, one every binaryTriangleSize bytes: the facet normal
// and the three corners as little-endian floats, then two bytes of attributes.
inline constexpr size_t stlBinaryHeaderSize = 84;
inline constexpr size_t stlBinaryTriangleSize = 50;

// Every triangle of ASCII STL text in file order, exactly as importSTL reads them, with the
// facet normal as written (before it is checked): for readers that stream a file too large
// to import.
using STLTriangleVisitor = std::function<void(const float fileNormal[3], const float corners[9])>;
void visitASCIISTLTriangles(ByteSpan bytes, const STLTriangleVisitor& visit);

// Reads the file, then importSTL.
ModelAsset importSTLFile(const std::filesystem::path& url);

}  // namespace kelvo
