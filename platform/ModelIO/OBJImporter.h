// OBJ import, written for speed: one pass over the text, numbers read as strtof reads them
// in the C locale, no allocation per vertex or face beyond the amortised growth of a few
// arrays, and nothing the file declares trusted.
//
// Statements read (keywords in lower case, as written by every exporter):
//   v x y z [w] [r g b]  positions; six or more numbers give a vertex colour (as written,
//                        nominally 0..1); vertices without one are white when others have one
//   vt u [v [w]]         texture coordinates (v turned to grow downwards in the image)
//   vn x y z             normals
//   f a b c ...          faces of any size, corners as v, v/vt, v//vn or v/vt/vn; negative
//                        indices count back from the latest element; cut into triangles by
//                        PolygonTriangulation.h, so concave polygons come out right
//   p a b ...            points
//   usemtl NAME          the material of the faces that follow (NAME is the rest of the line)
//   mtllib FILE ...      material libraries (MTLReader.h), read whenever they appear in the
//                        file. The rest of the line is tried as one file name first (names
//                        with blanks), then word by word.
//   g, o, s, l, vp and anything else are skipped.
// Lines end in LF or CR LF (or CR alone, in a file without LF); a backslash at the end of a
// line continues it; the last line needs no terminator. A UTF-8 byte order mark is skipped.
//
// Output: one object with one geometry: one triangle element per material, in the order the
// materials are first used (faces before any usemtl, and names no library defines, get the
// neutral material of MeshAssembly.h), and one point element for p statements. Corners
// that agree in v, vt and vn share a vertex (VertexSplitter.h); without vt and vn every
// position is a vertex as it stands. Normals are kept only when every drawn corner has one
// (the renderers make face normals otherwise); a corner without vt gets (0, 0).
// A file with vertices and neither faces nor points is a point cloud: every vertex a
// point, its normal the vn of the same number when the file has as many normals as vertices.
//
// Bad input: a face with an index of 0 or past the file's elements is left out; a bad vt or
// vn index counts as none. A UTF-16 file (byte order mark) is refused with a ModelIO error,
// since nothing in it could be read as OBJ.
#pragma once

#include <filesystem>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/ModelIO/ModelIO.h"

namespace kelvo {

// Imports the OBJ text `bytes`; `url` is where it was read from, for its material
// libraries (which are read here) and their textures (which loadTextures reads).
ModelAsset importOBJ(ByteSpan bytes, const std::filesystem::path& url);

// Reads the file, then importOBJ.
ModelAsset importOBJFile(const std::filesystem::path& url);

}  // namespace kelvo
