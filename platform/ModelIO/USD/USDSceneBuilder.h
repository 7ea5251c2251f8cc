// The scene a composed USD stage describes, as the model importer's nodes.
//
// Drawn: every defined, active, visible prim that is not a class, whose purpose is not
// "guide" (nor "proxy" when the stage has "render" geometry), one node per prim:
//   - Xform and every other xformable prim: placed by its xformOpOrder (translate, scale,
//     rotateX/Y/Z, the six rotate orders, orient, transform; "!invert!" and
//     "!resetXformStack!" honoured); Scope: unplaced;
//   - Mesh: points, faceVertexCounts/Indices, normals (also as primvars:normals),
//     displayColor and displayOpacity, texture coordinates, in every interpolation and
//     indexed; orientation "leftHanded" turns the triangles; "doubleSided" makes its
//     materials two-sided; GeomSubsets of faces with their own material bindings become
//     elements of their own;
//   - Cube, Sphere, Cylinder, Cone, Capsule as meshes of their size and axis;
//   - Camera: a camera node (vertical field of view from focal length and aperture,
//     clipping range, orthographic projection);
//   - PointInstancer: its prototypes drawn at each instance (positions, orientations,
//     scales), the prototypes themselves not drawn where they stand.
// Materials: material:binding (inherited down the namespace, the "preview" and "full"
// purposes' bindings too) to a Material whose surface is a UsdPreviewSurface: diffuse
// colour, metallic, roughness, opacity (and opacityThreshold), emissive colour, each a
// value or a UsdUVTexture (through NodeGraphs) read with its primvar reader's texture
// coordinates. A diffuse colour read from the displayColor primvar, and geometry without a
// material, show displayColor. Colours are converted from USD's linear values to the
// scene graph's sRGB.
//
// A stage whose upAxis is "Z" gets the turn to y-up in upAxisCorrection; units stay as
// the file gives them.
#pragma once

#include "platform/ModelIO/ModelIO.h"
#include "platform/ModelIO/USD/USDComposition.h"

namespace kelvo::usd {

// Instances drawn by all point instancers of a stage together; the rest are left out.
inline constexpr std::size_t maxInstances = 1 << 20;
// Prims visited and nodes made for instances, together: instancers whose prototypes hold
// instancers (at most four deep) cannot multiply the work beyond this.
inline constexpr std::size_t maxNodes = std::size_t{1} << 22;

ModelAsset buildModelAsset(const Stage& stage);

// The local transform of a prim from its xform ops (row-vector form, as Mat4 is); sets
// `resetsXformStack` when the prim ignores its parents' transforms.
Mat4 localTransform(const Stage& stage, const Prim& prim, bool& resetsXformStack);

}  // namespace kelvo::usd
