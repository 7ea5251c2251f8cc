// The greedy voxel mesher: one VOX model becomes one node with one coloured triangle mesh.
//
// Only visible faces are emitted (between a filled cell and an empty cell or the outside), and
// coplanar neighbours of the same colour and facing merge into maximal rectangles, rows first:
// a flat wall of one colour is one quad.
//
// Output order and layout, which tests and callers may rely on exactly:
//   - quads axis by axis (the file's x, y, z), slice by slice from the low end, row by row
//     along the second in-plane axis, along the first within a row (the in-plane axes of
//     axis d are (d + 1) mod 3 and (d + 2) mod 3);
//   - per quad four vertices and six indices (base, base+1, base+2, base, base+2, base+3),
//     counter-clockwise seen from the empty side;
//   - positions, normals and colours as float triples (stride 12), indices unsigned 32-bit;
//   - positions in scene axes (y up): grid corner (gx, gy, gz) maps to
//     (gx - sx/2, gz - sz/2, sy/2 - gy), so the model's centre is the node's origin; one voxel
//     edge is one unit;
//   - colour rgb of palette[colour index] (red the lowest byte), mid grey 0xFF808080 for an
//     index past the palette; alpha is ignored;
//   - one physically based material: white diffuse, metalness 0.0, roughness 0.8.
//
// Limits:
//   - Grid: a voxel outside the model's extent (0 <= x < sx and so on) is skipped. Voxel
//     coordinates are bytes, so the grid, one byte per cell, never covers more than 256 cells
//     along an axis: the extent cut there when it holds at most about four cells per voxel,
//     else only the bounding box of the filled cells. At most 256^3 = 16 MiB whatever extent
//     the file declares; the declared extent still decides the centring.
//   - Work: the budget's `cells` counts the cells of those grids.
//   - Output: the budget's `quads` bounds the quads. At most 2^22 per load keeps the vertex
//     count far below what 32-bit indices address. A model with more quads than are left is
//     meshed again at half its resolution, then at a quarter: 2 x 2 x 2 (4 x 4 x 4) cells
//     become one, filled when any of them is, in their most frequent colour (the lowest
//     index on a tie); its quads are then that many voxels on a side and the model keeps
//     its place and size.
// A model that would exceed either budget even so yields no node, and the budget is left as
// it was.
// Building costs memory in proportion to the bounding box and the output only: no allocation
// per voxel or per quad beyond the growth of one 8-byte-per-quad list; the final buffers are
// sized once.
//
// Thread safety: uses only its arguments and local memory.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "extensions/Shared/VOX/VOXReader.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

struct VoxelMeshBudget {
    std::int64_t quads = std::int64_t{1} << 22;  // ~4.2M quads: 700 MB of buffers at most
    std::int64_t cells = std::int64_t{1} << 27;  // eight full 256^3 grids
};

// Meshes `chunk` with `palette` and returns a new node at position (0, 0, 0) carrying the mesh,
// or null when the model does not fit what is left of `budget`. On success the quads and cells
// used are taken from `budget`. A model without filled cells gives an empty geometry.
std::shared_ptr<Node> buildVoxelMesh(const VOXChunk& chunk, std::span<const std::uint32_t> palette,
                                     VoxelMeshBudget& budget);

// The same with a budget of its own.
std::shared_ptr<Node> buildVoxelMesh(const VOXChunk& chunk, std::span<const std::uint32_t> palette);

}  // namespace kelvo
