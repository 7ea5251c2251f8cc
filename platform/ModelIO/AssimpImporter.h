// Every format the Open Asset Import Library (Debian's assimp) reads and Kelvo has no
// reader of its own for: FBX, Collada, 3DS, OFF, and the rest of its list.
//
// The library reads the file with no post-processing (measured: its triangulation and
// normal generation only cost time here); the conversion does what the scene needs:
//   - meshes: positions, normals, the first colour set (RGBA, RGB when every alpha is 1)
//     and the first UV set (v turned to grow downwards); polygons cut into triangles by
//     PolygonTriangulation.h, one-corner faces become points, two-corner faces (lines) are
//     left out, and every index is checked against the vertex count. A mesh used by several
//     nodes is one geometry, shared.
//   - nodes: names and transforms as the library gives them; a node with several meshes
//     gets one child node per mesh. Cameras, lights and animations are not read: the hosts
//     stage every scene themselves.
//   - materials: diffuse (or base) colour and opacity, specular colour and exponent,
//     emission, two-sidedness, the shading model (flat and Gouraud: Lambert; Phong; Blinn;
//     unshaded: constant; metallic-roughness or physically based: physically based), the
//     diffuse and emission textures, embedded ones with their bytes. An opacity of 0 or less
//     is read as opaque (an exporter's omission, never an invisible material).
//   - axes: FBX files declare theirs (UpAxis, FrontAxis, CoordAxis and their signs), and
//     the turn to y-up goes into ModelAsset::upAxisCorrection. The library already turns
//     Collada files to y-up itself, so nothing is added for them.
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/ModelIO/ModelIO.h"

namespace kelvo {

// Whether the library lists `extension` (ASCII letter case ignored).
bool assimpCanImport(std::string_view extension);

// Reads the file (the operating system's error when it cannot be read) and imports it; a
// file the library rejects is a ModelIO error with the library's reason.
ModelAsset importWithAssimp(const std::filesystem::path& url);

}  // namespace kelvo
