// PLY import, ASCII and binary of either byte order, written for speed: one pass over the
// bytes, numbers read as strtof reads them in the C locale, and no count from the header
// trusted beyond what the bytes can hold.
//
// Read from the header: the format line, `element`, `property` (every scalar and list
// type, by either of its names: char/int8 ... double/float64), and `comment TextureFile
// NAME` (MeshLab's texture, resolved relative to the PLY file). Other header lines are
// skipped. From the body:
//   vertex   x y z; nx ny nz; colours as red green blue [alpha] or diffuse_red
//            diffuse_green diffuse_blue (integers scaled by their type's maximum, floats as
//            they are); texture coordinates as s t, u v, texture_u texture_v or texture_s
//            texture_t
//   face     vertex_indices (or vertex_index), any count and index types, cut into
//            triangles by PolygonTriangulation.h; per-corner texture coordinates as the
//            list `texcoord` (u v per corner, as MeshLab writes them); red green blue
//            [alpha] per face, used when the vertices have no colour
// Other elements and properties are skipped.
//
// Output: one object with one geometry. Without per-corner data every PLY vertex is a
// vertex as it stands; with per-corner texture coordinates or face colours, corners that
// agree share a vertex (VertexSplitter.h). A file with vertices and no face is a point
// cloud: every vertex a point.
//
// Bad input: a file that does not start with the "ply" line, has an unknown format or type,
// or no end_header, is refused with a ModelIO error. In the body, a truncated file or text
// that is not a number ends the reading; what was read before is kept. A face with fewer
// than three corners or an index past the vertices is left out.
#pragma once

#include <filesystem>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/ModelIO/ModelIO.h"

namespace kelvo {

// Imports the PLY bytes; `url` is where they were read from, for the texture file.
ModelAsset importPLY(ByteSpan bytes, const std::filesystem::path& url);

// Reads the file, then importPLY.
ModelAsset importPLYFile(const std::filesystem::path& url);

}  // namespace kelvo
