// The triangle buffers of USD geometry: polygon meshes with their primvars, and the
// implicit shapes (Cube, Sphere, Cylinder, Cone, Capsule) made into meshes.
//
// Primvars come in the five interpolations of USD: constant (one value), uniform (one per
// face), vertex and varying (one per point), faceVarying (one per face corner), each
// optionally indexed. A primvar whose values or indices do not cover what its
// interpolation needs is left out, as USD's own imaging leaves it out. When every primvar
// kept is per point or constant, the mesh's points are its vertices; otherwise each face
// corner becomes a vertex of its own.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/ModelIO/MeshAssembly.h"

namespace kelvo::usd {

enum class Interpolation { constant, uniform, vertex, faceVarying };

// "varying" is "vertex" for meshes; anything unknown is `fallback`.
Interpolation interpolationNamed(std::string_view name, Interpolation fallback);

struct Primvar {
    std::span<const float> values;  // `components` floats per value
    std::span<const std::int32_t> indices;  // empty: not indexed
    Interpolation interpolation = Interpolation::vertex;
    int components = 3;
    bool present() const { return !values.empty(); }
};

struct MeshInput {
    std::span<const float> points;  // float triples
    std::span<const std::int32_t> faceVertexCounts;
    std::span<const std::int32_t> faceVertexIndices;
    Primvar normals, colors, opacities, texcoords;
    bool leftHanded = false;
    // The element each face goes into (GeomSubsets with their own materials); empty: all
    // faces in element 0. Faces with a slot >= elementCount are left out.
    std::span<const std::uint32_t> faceElements;
    std::uint32_t elementCount = 1;
};

// The mesh's buffers, colours converted from USD's linear values to sRGB (with opacity as
// a fourth component when the primvar is present), texture coordinates with v flipped.
// Polygons of more than three corners are cut by PolygonTriangulation.h; faces that name a
// point that does not exist, or have fewer than three corners, are left out. Elements
// have no materials yet.
MeshBuffers buildMesh(const MeshInput& input);

// The implicit shapes, centred on the origin, their axis along `axis` ('X', 'Y' or 'Z'),
// with normals and texture coordinates.
MeshBuffers cubeMesh(double size);
MeshBuffers sphereMesh(double radius);
MeshBuffers cylinderMesh(double radius, double height, char axis);
MeshBuffers coneMesh(double radius, double height, char axis);
MeshBuffers capsuleMesh(double radius, double height, char axis);

// Colour components from linear light to sRGB encoding.
float linearToSRGB(float linear);

}  // namespace kelvo::usd
