#include "tools/kelvo-inspect/SceneJSON.h"

#include <cstdint>
#include <iterator>
#include <nlohmann/json.hpp>

namespace kelvo {

namespace {

// Objects keep their keys in the order written here, so the output reads top-down as the
// tool's --help describes it. Non-finite numbers come out as null: JSON has no NaN.
using JSON = nlohmann::ordered_json;

// The counts a geometry reports and the totals add up, in output order. A new count (points,
// say) is one row here and appears in both.
struct GeometryCount {
    const char* key;
    std::int64_t (*count)(const Geometry&);
};
constexpr GeometryCount geometryCounts[] = {
    {"vertices", [](const Geometry& g) { return g.vertexCount(); }},
    {"triangles", [](const Geometry& g) { return g.triangleCount(); }},
    {"points", [](const Geometry& g) { return g.pointCount(); }},
};

JSON vec3(Vec3 v) {
    return {v.x, v.y, v.z};
}

JSON contents(const MaterialContents& value) {
    if (const Color* c = std::get_if<Color>(&value)) return {c->red, c->green, c->blue, c->alpha};
    if (const double* d = std::get_if<double>(&value)) return *d;
    return nullptr;
}

const char* wrapName(TextureWrap wrap) {
    switch (wrap) {
        case TextureWrap::repeat:
            return "repeat";
        case TextureWrap::clampToEdge:
            return "clampToEdge";
        case TextureWrap::mirroredRepeat:
            return "mirroredRepeat";
    }
    return "repeat";
}

const char* alphaModeName(AlphaMode mode) {
    switch (mode) {
        case AlphaMode::opaque:
            return "opaque";
        case AlphaMode::mask:
            return "mask";
        case AlphaMode::blend:
            return "blend";
    }
    return "opaque";
}

// A texture reference: where the image comes from, whether it was found, and how it is sampled.
JSON textureSlot(const TextureSlot& slot) {
    const Texture& t = *slot.texture;
    return {
        {"path", t.path},
        {"mimeType", t.mimeType},
        {"found", t.found},
        {"encodedBytes", t.encoded ? static_cast<std::int64_t>(t.encoded->size()) : 0},
        {"texCoord", slot.texCoord},
        {"wrapS", wrapName(slot.wrapS)},
        {"wrapT", wrapName(slot.wrapT)},
        {"nearest", slot.nearestMagnification},
        {"offset", {slot.offset[0], slot.offset[1]}},
        {"rotation", slot.rotation},
        {"scale", {slot.scale[0], slot.scale[1]}},
    };
}

JSON material(const Material& m) {
    JSON textures = JSON::object();
    const std::pair<const char*, const TextureSlot*> slots[] = {
        {"diffuse", &m.diffuseTexture},     {"metalnessRoughness", &m.metalnessRoughnessTexture},
        {"emission", &m.emissionTexture},   {"normal", &m.normalTexture},
        {"occlusion", &m.occlusionTexture},
    };
    for (const auto& [name, slot] : slots) {
        if (*slot) textures[name] = textureSlot(*slot);
    }
    return {
        {"lightingModel", m.lightingModelName},
        {"diffuse", contents(m.diffuse)},
        {"metalness", contents(m.metalness)},
        {"roughness", contents(m.roughness)},
        {"name", m.name},
        {"emission", contents(m.emission)},
        {"emissionIntensity", m.emissionIntensity},
        {"alphaMode", alphaModeName(m.alphaMode)},
        {"alphaCutoff", m.alphaCutoff},
        {"doubleSided", m.isDoubleSided},
        {"textures", std::move(textures)},
    };
}

JSON geometry(const Geometry& g) {
    JSON out = JSON::object();
    for (const GeometryCount& c : geometryCounts)
        out[c.key] = c.count(g);
    JSON& sources = out["sources"] = JSON::array();
    for (const GeometrySource& s : g.sources)
        sources.push_back(semanticName(s.semantic));
    JSON& materials = out["materials"] = JSON::array();
    for (const auto& m : g.materials)
        materials.push_back(material(*m));
    return out;
}

JSON camera(const Camera& c) {
    return {
        {"name", c.name},
        {"fieldOfView", c.fieldOfView},
        {"automaticallyAdjustsZRange", c.automaticallyAdjustsZRange},
        {"zNear", c.zNear},
        {"zFar", c.zFar},
        {"orthographic", c.usesOrthographicProjection},
        {"orthographicScale", c.orthographicScale},
    };
}

JSON light(const Light& l) {
    return {
        {"type", lightTypeName(l.type)},
        {"intensity", l.intensity},
        {"color", contents(l.color)},
    };
}

// Null for an absent part of a node.
template <typename T>
JSON optional(const std::shared_ptr<T>& part, JSON (*describe)(const T&)) {
    return part ? describe(*part) : JSON(nullptr);
}

JSON node(const Node& n) {
    JSON transform = JSON::array();
    for (const auto& row : n.transform().m) {
        for (double value : row)
            transform.push_back(value);
    }
    JSON children = JSON::array();
    for (const auto& child : n.childNodes())
        children.push_back(node(*child));
    return {
        {"name", n.name},
        {"position", vec3(n.position())},
        {"eulerAngles", vec3(n.eulerAngles())},
        {"transform", std::move(transform)},
        {"geometry", optional<Geometry>(n.geometry, geometry)},
        {"camera", optional<Camera>(n.camera, camera)},
        {"light", optional<Light>(n.light, light)},
        {"children", std::move(children)},
    };
}

// Nodes, geometry nodes and the geometry counts of the whole tree.
struct Totals {
    std::int64_t nodes = 0, geometryNodes = 0;
    std::int64_t counts[std::size(geometryCounts)] = {};
};

void addUp(const Node& n, Totals& totals) {
    ++totals.nodes;
    if (n.geometry) {
        ++totals.geometryNodes;
        for (size_t i = 0; i < std::size(geometryCounts); ++i) {
            totals.counts[i] += geometryCounts[i].count(*n.geometry);
        }
    }
    for (const auto& child : n.childNodes())
        addUp(*child, totals);
}

JSON totals(const Node& root) {
    Totals totals;
    addUp(root, totals);
    JSON out = {{"nodes", totals.nodes}, {"geometryNodes", totals.geometryNodes}};
    for (size_t i = 0; i < std::size(geometryCounts); ++i) {
        out[geometryCounts[i].key] = totals.counts[i];
    }
    return out;
}

JSON boundingBox(const Node& root) {
    const BoundingBox box = root.boundingBox();
    if (box.isEmpty()) return nullptr;
    return {{"min", vec3(box.min)}, {"max", vec3(box.max)}};
}

}  // namespace

std::string sceneToJSON(const Scene& scene, const std::string& file) {
    const JSON document = {
        {"file", file},
        {"totals", totals(*scene.rootNode)},
        {"boundingBox", boundingBox(*scene.rootNode)},
        {"background", contents(scene.background)},
        {"root", node(*scene.rootNode)},
    };
    // Names and file paths need not be UTF-8: invalid bytes become U+FFFD.
    return document.dump(-1, ' ', false, JSON::error_handler_t::replace) + "\n";
}

}  // namespace kelvo
