#include "platform/ModelIO/ModelIO.h"

#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Text.h"
#include "platform/ModelIO/STLImporter.h"

namespace kelvo {

namespace {

std::shared_ptr<Node> makeNode(const AssetObject& object, std::vector<AssetMesh>& meshes) {
    auto node = Node::make();
    node->name = object.name;
    node->setTransform(object.transform);
    if (object.mesh >= 0 && static_cast<size_t>(object.mesh) < meshes.size()) {
        AssetMesh& mesh = meshes[static_cast<size_t>(object.mesh)];
        std::vector<GeometrySource> sources;
        sources.push_back(GeometrySource::floatTriples(std::move(mesh.positions),
                                                       GeometrySemantic::vertex, mesh.vertexCount));
        if (!mesh.normals.empty()) {
            sources.push_back(GeometrySource::floatTriples(
                std::move(mesh.normals), GeometrySemantic::normal, mesh.vertexCount));
        }
        if (!mesh.colors.empty()) {
            sources.push_back(GeometrySource::floatTriples(
                std::move(mesh.colors), GeometrySemantic::color, mesh.vertexCount));
        }
        std::vector<GeometryElement> elements;
        elements.push_back(GeometryElement::triangles(std::move(mesh.indices), mesh.triangleCount));
        node->geometry = std::make_shared<Geometry>(std::move(sources), std::move(elements));
    }
    for (const AssetObject& child : object.children) node->addChildNode(makeNode(child, meshes));
    return node;
}

}  // namespace

bool canImportFileExtension(std::string_view extension) {
    return equalsIgnoringASCIICase(extension, "stl");
}

ModelAsset importModelAsset(const std::filesystem::path& url) {
    const std::string extension = pathExtension(url);
    if (!equalsIgnoringASCIICase(extension, "stl")) return {};
    ByteBuffer bytes = readFileContents(url);
    return importSTL(bytes);
}

void loadTextures(ModelAsset&) {
    // No importer yet yields materials with texture images.
}

std::shared_ptr<Scene> sceneWithModelAsset(ModelAsset asset) {
    auto scene = std::make_shared<Scene>();
    for (const AssetObject& object : asset.objects) {
        scene->rootNode->addChildNode(makeNode(object, asset.meshes));
    }
    return scene;
}

}  // namespace kelvo
