#include "platform/ModelIO/MeshAssembly.h"

#include <algorithm>

namespace kelvo {

std::shared_ptr<Geometry> makeGeometry(MeshBuffers&& mesh) {
    auto geometry = std::make_shared<Geometry>();
    for (MeshElement& e : mesh.elements) {
        const std::size_t bytesPerPrimitive = e.points ? 4 : 12;
        e.primitiveCount = std::min<std::int64_t>(
            e.primitiveCount, static_cast<std::int64_t>(e.indices.size() / bytesPerPrimitive));
        if (e.primitiveCount <= 0) continue;
        e.indices.resize(static_cast<std::size_t>(e.primitiveCount) * bytesPerPrimitive);
        geometry->elements.push_back(
            e.points ? GeometryElement::points(std::move(e.indices), e.primitiveCount)
                     : GeometryElement::triangles(std::move(e.indices), e.primitiveCount));
        geometry->materials.push_back(std::move(e.material));
    }
    if (geometry->elements.empty()) return nullptr;
    // A geometry's material list has no holes: an element without one gets the neutral one.
    std::shared_ptr<Material> unnamed;
    for (auto& m : geometry->materials) {
        if (!m) m = unnamed ? unnamed : (unnamed = makeUnnamedMaterial(!mesh.colors.empty()));
    }
    const std::int64_t n = mesh.vertexCount;
    geometry->sources.push_back(
        GeometrySource::floatTriples(std::move(mesh.positions), GeometrySemantic::vertex, n));
    if (!mesh.normals.empty()) {
        geometry->sources.push_back(
            GeometrySource::floatTriples(std::move(mesh.normals), GeometrySemantic::normal, n));
    }
    if (!mesh.colors.empty()) {
        geometry->sources.push_back(GeometrySource::floats(
            std::move(mesh.colors), GeometrySemantic::color, n, mesh.colorComponents));
    }
    if (!mesh.texcoords.empty()) {
        geometry->sources.push_back(
            GeometrySource::floats(std::move(mesh.texcoords), GeometrySemantic::texcoord, n, 2));
    }
    return geometry;
}

std::shared_ptr<Material> makeUnnamedMaterial(bool vertexColors) {
    auto material = std::make_shared<Material>();
    material->lightingModelName = LightingModel::physicallyBased;
    material->diffuse = Color::white(vertexColors ? 1.0 : 0.7, 1.0);
    material->metalness = vertexColors ? 0.0 : 0.1;
    material->roughness = vertexColors ? 0.8 : 0.6;
    return material;
}

}  // namespace kelvo
