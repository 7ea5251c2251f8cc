// The offscreen renderer: draws a scene from a camera node into an RGBA image, on the CPU.
//
// It stands in for a GPU renderer because thumbnailers run sandboxed with no display and no
// GPU. One call renders one frame; nothing is kept between calls and calls on different
// scenes may run side by side (a scene itself is only read).
//
// Scene conventions (SceneMath.h, Node.h):
// - Matrices are row-vector; a node's world transform is local * parent's world, down the
//   tree from the root. Nodes deeper than maxSceneDepth levels are not drawn.
// - The camera is the point-of-view node's world transform: it sits at its origin and looks
//   along its local -Z with local +Y up. A node without a camera uses a default Camera.
// - Projection is perspective, Camera::fieldOfView degrees on the vertical axis, the
//   horizontal extent following the image's aspect ratio (square pixels); or, for a camera
//   that uses orthographic projection, parallel, Camera::orthographicScale being half the
//   image's height in scene units.
// - With Camera::automaticallyAdjustsZRange nothing in front of the camera is clipped: the
//   far plane is at infinity and the near plane a millionth of the distance to the model
//   (depth is stored as 1 / distance in float, precise at any range, so the planes need not
//   hug the model). Otherwise Camera::zNear and zFar are used. Triangles crossing the near
//   plane are clipped there; geometry beyond the far plane is not drawn.
//
// Raster conventions:
// - Pixel (x, y) covers [x, x+1) x [y, y+1), rows top to bottom, its centre at +0.5.
// - Four samples per pixel in the rotated-grid pattern: offsets (-1/8, -3/8), (3/8, -1/8),
//   (-3/8, 1/8), (1/8, 3/8) from the pixel centre, which puts exactly one sample in each
//   quarter row and quarter column.
// - Vertices snap to 1/256 pixel. A sample is covered when it lies inside a triangle or on
//   its top or left edge (top-left fill rule): triangles that share an edge never both
//   cover a sample and leave no gap between them.
// - Depth is tested per sample (nearest wins, the first drawn on a tie). Shading is done
//   once per pixel and covering triangle, at the centre of the samples it covers; tiny
//   neighbouring triangles of one smooth surface in a pixel share one shade.
// - Output: 8-bit sRGB, straight (not premultiplied) alpha. A pixel's alpha is the share of
//   its samples covered by geometry, plus the background's alpha on the rest; with no
//   background (or a clear one) uncovered pixels are fully transparent.
//
// Geometry conventions:
// - Counter-clockwise as seen by the camera is the front. Back faces are culled unless the
//   material is double-sided (its back faces are then lit as seen from the back). A node
//   whose transform mirrors (negative determinant) keeps its outside out.
// - Positions and normals are float triples; colour sources with 3 or more float components
//   multiply the diffuse colour (a 4th component, alpha, multiplies its opacity). The first
//   texture-coordinate source (float pairs) maps the textures. Sources of other layouts are
//   ignored. Without a usable normal source a triangle is flat shaded with its face normal.
// - A triangle is skipped when any index is not below the vertex count the buffers hold, a
//   vertex is not finite, or it has no area after snapping. The material of element i is
//   materials[i % count]; no material is a white Lambertian one.
// - Point elements are drawn as round dots about 2 pixels across at 256 pixels (the
//   diameter grows with the image's smaller side), lit by their normals where they have
//   them and in their flat colour otherwise; they are always opaque.
// - Materials: textures of the base colour, metalness-roughness and emission slots are
//   sampled (TextureSampling.h); normal and occlusion textures are not used. The diffuse
//   colour's alpha, vertex alpha and texture alpha make the opacity, which opaque materials
//   ignore, masked ones compare with their cutoff per sample, and blended ones use to
//   composite over what lies behind them, farthest triangles first, without hiding what
//   lies further behind in depth (see Frame.h).
// - Shading follows Shading.h; emission is added to the lit colour before tone mapping.
//
// Limits: 1 to maxRenderSide pixels on each side. Memory beyond the image is bounded by
// rendering in horizontal bands (about 64 MiB of sample buffers) plus 16 bytes per vertex
// of the largest geometry whose triangles share vertices. A frame draws at most 2^32 - 2
// triangles.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/Imaging/RGBAImage.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

inline constexpr int maxRenderSide = 8192;
inline constexpr int maxSceneDepth = 1000;

struct RenderOptions {
    // Draws the back faces of one-sided materials too (lit as seen from the back, like a
    // double-sided material's), for frames where culling left nothing to see.
    bool showBackFaces = false;
};

// Renders `scene` as seen from `pointOfView` into a width x height image. Nothing when the
// size is outside 1..maxRenderSide. A camera that cannot see (non-finite placement or a
// field of view outside (0, 180) degrees) gives an image of the background alone.
std::optional<RGBAImage> renderSnapshot(const Scene& scene, const Node& pointOfView, int width,
                                        int height, const RenderOptions& options = {});

// Triangles too many to hold as a scene, handed over in batches: feed(part, parts, take)
// calls take(number of the first, corners, count) for the triangles of part `part` of
// `parts`, nine floats each, in order; the parts are consecutive runs of the numbers, part 0
// first, and may be fed on different threads at once.
using TriangleBatch =
    std::function<void(std::uint64_t first, const float* corners, std::size_t count)>;
using TriangleFeed = std::function<void(int part, int parts, const TriangleBatch& take)>;

// The numbers, ascending, of the fed triangles that would own at least one sample of the
// frame renderSnapshot draws of `scene` if its first geometry element (the stand-in, which
// lends them its node's transform and its material, and must be opaque) held them all and
// nothing else were drawn. Drawing a scene of only these triangles, in the same order, with
// the same framing, gives that frame. Parts are fed on up to two threads; memory is the
// sample buffers and the answer, whatever the number of triangles.
std::vector<std::uint32_t> visibleFedTriangles(const Scene& scene, const Node& pointOfView,
                                               int width, int height, const TriangleFeed& feed,
                                               int parts, const RenderOptions& options = {});

}  // namespace kelvo
