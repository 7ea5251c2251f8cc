// A loaded asset becomes a scene graph: the chosen scene's node tree, one geometry per drawable
// primitive, materials, cameras and lights. Everything the file gives was checked by the load;
// what is left to leniency here is content that reads but cannot be drawn (an index past the
// vertices, a non-finite transform, a line primitive), which is left out.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <optional>
#include <unordered_map>

#include "platform/GLTFKit/GLTFAccessors.h"
#include "platform/GLTFKit/GLTFKit.h"
#include "platform/GLTFKit/GLTFMaterials.h"

namespace kelvo {

namespace gltf {
namespace {

// ---- animation at time 0 ----

// A node's placement and morph weights as the first animation has them at time 0.
struct Pose {
    bool hasTranslation = false, hasRotation = false, hasScale = false, hasWeights = false;
    double translation[3]{}, rotation[4]{}, scale[3]{};
    std::vector<double> weights;
};

std::vector<float> readFloats(const GLTFAsset& asset, std::int64_t index) {
    const GLTFAccessor& a = asset.accessors[index];
    std::vector<float> out(a.count * a.components);
    readAccessorFloats(asset, a, a.components, out.data());
    return out;
}

// The value (`width` numbers) that `sampler` gives at time 0, or nothing when its data does
// not hold one.
std::vector<double> sampleAtTimeZero(const GLTFAsset& asset, const GLTFAnimationSampler& sampler,
                                     size_t width, bool isRotation) {
    std::vector<float> times = readFloats(asset, sampler.input);
    std::vector<float> values = readFloats(asset, sampler.output);
    const bool cubic = sampler.interpolation == GLTFInterpolation::cubicSpline;
    const size_t keyStride = width * (cubic ? 3 : 1), valueOffset = cubic ? width : 0;
    const size_t keys = times.size();
    if (keys == 0 || width == 0 || values.size() / keyStride < keys) return {};
    auto value = [&](size_t key, size_t i) -> double {
        return values[key * keyStride + valueOffset + i];
    };
    // Before the first key the first value holds; a key at or before 0 is looked for only when
    // the animation starts before 0.
    size_t k = 0;
    while (k + 1 < keys && times[k + 1] <= 0)
        ++k;
    std::vector<double> out(width);
    double t = 0;
    if (times[k] < 0 && k + 1 < keys && sampler.interpolation != GLTFInterpolation::step &&
        times[k + 1] > times[k]) {
        t = (0 - times[k]) / (times[k + 1] - times[k]);
    }
    for (size_t i = 0; i < width; ++i) {
        double a = value(k, i);
        out[i] = t > 0 ? a + (value(k + 1, i) - a) * t : a;
    }
    if (isRotation) {
        double len =
            std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2] + out[3] * out[3]);
        if (len > 0 && std::isfinite(len)) {
            for (double& c : out)
                c /= len;
        }
    }
    return out;
}

size_t morphTargetCount(const GLTFAsset& asset, const GLTFNode& node) {
    if (node.mesh < 0) return 0;
    size_t n = 0;
    for (const GLTFPrimitive& p : asset.meshes[node.mesh].primitives)
        n = std::max(n, p.targets.size());
    return n;
}

// Animated content is captured at time 0: the first animation, as a viewer that plays an
// asset shows it first. Files keep further clips (walk, run) in further animations.
std::unordered_map<std::int64_t, Pose> posesAtTimeZero(const GLTFAsset& asset) {
    std::unordered_map<std::int64_t, Pose> poses;
    if (asset.animations.empty()) return poses;
    const GLTFAnimation& animation = asset.animations.front();
    for (const GLTFAnimationChannel& channel : animation.channels) {
        if (channel.node < 0 || channel.path == GLTFAnimationPath::other) continue;
        const GLTFAnimationSampler& sampler = animation.samplers[channel.sampler];
        const GLTFNode& node = asset.nodes[channel.node];
        Pose& pose = poses[channel.node];
        switch (channel.path) {
            case GLTFAnimationPath::translation:
                if (auto v = sampleAtTimeZero(asset, sampler, 3, false); !v.empty()) {
                    std::copy(v.begin(), v.end(), pose.translation);
                    pose.hasTranslation = true;
                }
                break;
            case GLTFAnimationPath::rotation:
                if (auto v = sampleAtTimeZero(asset, sampler, 4, true); !v.empty()) {
                    std::copy(v.begin(), v.end(), pose.rotation);
                    pose.hasRotation = true;
                }
                break;
            case GLTFAnimationPath::scale:
                if (auto v = sampleAtTimeZero(asset, sampler, 3, false); !v.empty()) {
                    std::copy(v.begin(), v.end(), pose.scale);
                    pose.hasScale = true;
                }
                break;
            case GLTFAnimationPath::weights:
                if (auto v = sampleAtTimeZero(asset, sampler, morphTargetCount(asset, node), false);
                    !v.empty()) {
                    pose.weights = std::move(v);
                    pose.hasWeights = true;
                }
                break;
            case GLTFAnimationPath::other:
                break;
        }
    }
    return poses;
}

// ---- placement ----

Mat4 nodeTransform(const GLTFNode& node, const Pose* pose) {
    if (node.hasMatrix && !pose) {
        // Column-major with column vectors is row-major with row vectors.
        Mat4 m;
        for (int i = 0; i < 16; ++i)
            m.m[i / 4][i % 4] = node.matrix[i];
        return m;
    }
    const double* t = pose && pose->hasTranslation ? pose->translation : node.translation;
    const double* r = pose && pose->hasRotation ? pose->rotation : node.rotation;
    const double* s = pose && pose->hasScale ? pose->scale : node.scale;
    const double x = r[0], y = r[1], z = r[2], w = r[3];
    // Rows of the rotation for row vectors (the transpose of the usual column form).
    const double rot[3][3] = {
        {1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)},
        {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)},
        {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)},
    };
    Mat4 m = Mat4::identity();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            m.m[i][j] = rot[i][j] * s[i];
        m.m[3][i] = t[i];
    }
    return m;
}

// ---- geometry ----

struct PrimitiveInput {
    const GLTFPrimitive* primitive;
    const std::vector<double>* weights;  // morph weights
    std::shared_ptr<Material> material;
};

bool usable(const GLTFAsset& asset, std::int64_t accessor, int components, std::uint64_t count) {
    return accessor >= 0 && asset.accessors[accessor].components == components &&
           asset.accessors[accessor].count == count;
}

// Adds each weighted morph target's `semantic` deltas to `out` (count triples).
void addMorphDeltas(const GLTFAsset& asset, const PrimitiveInput& in, std::string_view semantic,
                    std::uint64_t count, float* out) {
    std::vector<float> delta;
    for (size_t t = 0; t < in.primitive->targets.size() && t < in.weights->size(); ++t) {
        const float w = static_cast<float>((*in.weights)[t]);
        std::int64_t accessor = gltfAttribute(in.primitive->targets[t], semantic);
        if (w == 0 || !std::isfinite(w) || !usable(asset, accessor, 3, count)) continue;
        delta.resize(count * 3);
        readAccessorFloats(asset, asset.accessors[accessor], 3, delta.data());
        for (size_t i = 0; i < delta.size(); ++i)
            out[i] += w * delta[i];
    }
}

bool hasMorphDeltas(const PrimitiveInput& in, std::string_view semantic) {
    for (size_t t = 0; t < in.primitive->targets.size() && t < in.weights->size(); ++t) {
        double w = (*in.weights)[t];
        if (w != 0 && std::isfinite(w) && gltfAttribute(in.primitive->targets[t], semantic) >= 0) {
            return true;
        }
    }
    return false;
}

// A float source of `components` per vertex: the file's own bytes when they already have
// that layout (no copy), else a converted copy.
GeometrySource floatSource(const GLTFAsset& asset, const PrimitiveInput& in, std::int64_t index,
                           GeometrySemantic semantic, int components, std::string_view morph) {
    const GLTFAccessor& a = asset.accessors[index];
    const bool morphed = !morph.empty() && hasMorphDeltas(in, morph);
    SharedFloats shared;
    if (!morphed && accessorFloatsInPlace(asset, a, components, shared)) {
        GeometrySource source;
        source.data = shared.bytes.owner;
        source.semantic = semantic;
        source.vectorCount = static_cast<std::int64_t>(a.count);
        source.componentsPerVector = components;
        source.dataOffset = static_cast<std::int64_t>(shared.bytes.offset + shared.offset);
        source.dataStride = static_cast<std::int64_t>(shared.stride);
        return source;
    }
    ByteBuffer bytes(a.count * components * sizeof(float));
    float* out = reinterpret_cast<float*>(bytes.data());
    readAccessorFloats(asset, a, components, out);
    if (morphed) addMorphDeltas(asset, in, morph, a.count, out);
    return GeometrySource::floats(std::move(bytes), semantic, static_cast<std::int64_t>(a.count),
                                  components);
}

GeometrySource colorSource(const GLTFAsset& asset, const GLTFAccessor& a) {
    const int components = a.components;
    ByteBuffer bytes(a.count * components * sizeof(float));
    float* out = reinterpret_cast<float*>(bytes.data());
    readAccessorFloats(asset, a, components, out);
    // glTF's vertex colours are linear; the scene graph's are sRGB-encoded.
    for (std::uint64_t i = 0; i < a.count; ++i) {
        float* c = out + i * components;
        for (int k = 0; k < 3; ++k)
            c[k] = static_cast<float>(encodeSRGB(c[k]));
    }
    return GeometrySource::floats(std::move(bytes), GeometrySemantic::color,
                                  static_cast<std::int64_t>(a.count), components);
}

// The triangles (or points) of a primitive as unsigned 32-bit indices below `vertices`;
// primitives that index past their vertices lose those triangles.
// A triangle list whose indices already are a whole buffer of valid 32-bit indices (what the
// Draco and meshopt decoders produce) is used as it is, not copied.
std::optional<GeometryElement> sharedTriangles(const GLTFAsset& asset, const GLTFPrimitive& p,
                                               std::uint64_t vertices) {
    if (p.mode != gltfTriangles || p.indices < 0) return std::nullopt;
    const GLTFAccessor& a = asset.accessors[p.indices];
    if (a.componentType != gltfUnsignedInt || a.hasSparse || a.bufferView < 0 || a.byteOffset ||
        a.count % 3 || a.count == 0 || accessorStride(asset, a) != 4) {
        return std::nullopt;
    }
    const GLTFBytes& bytes = asset.bufferViews[a.bufferView].bytes;
    if (bytes.offset != 0 || bytes.owner->size() != a.count * 4) return std::nullopt;
    const std::uint8_t* data = bytes.data();
    for (std::uint64_t i = 0; i < a.count; ++i) {
        std::uint32_t index;
        std::memcpy(&index, data + i * 4, 4);
        if (index >= vertices) return std::nullopt;
    }
    GeometryElement element;
    element.data = bytes.owner;
    element.primitiveCount = static_cast<std::int64_t>(a.count / 3);
    return element;
}

std::optional<GeometryElement> element(const GLTFAsset& asset, const GLTFPrimitive& p,
                                       std::uint64_t vertices) {
    if (auto shared = sharedTriangles(asset, p, vertices)) return shared;
    ByteBuffer bytes;
    std::uint64_t n = vertices;
    if (p.indices >= 0) {
        const GLTFAccessor& a = asset.accessors[p.indices];
        n = a.count;
        bytes.resize(n * 4);
        readAccessorIndices(asset, a, reinterpret_cast<std::uint32_t*>(bytes.data()));
    } else {
        bytes.resize(n * 4);
        std::uint32_t* out = reinterpret_cast<std::uint32_t*>(bytes.data());
        for (std::uint64_t i = 0; i < n; ++i)
            out[i] = static_cast<std::uint32_t>(i);
    }
    std::uint32_t* idx = reinterpret_cast<std::uint32_t*>(bytes.data());
    const std::uint64_t limit = vertices;
    std::uint64_t kept = 0;
    if (p.mode == gltfPoints) {
        for (std::uint64_t i = 0; i < n; ++i) {
            if (idx[i] < limit) idx[kept++] = idx[i];
        }
        if (kept == 0) return std::nullopt;
        bytes.resize(kept * 4);
        return GeometryElement::points(std::move(bytes), static_cast<std::int64_t>(kept));
    }
    auto keep = [&](std::uint32_t* out, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
        if (a < limit && b < limit && c < limit) {
            out[kept * 3] = a, out[kept * 3 + 1] = b, out[kept * 3 + 2] = c;
            ++kept;
        }
    };
    if (p.mode == gltfTriangles) {
        // In place: a kept triangle never lands after the one being read.
        for (std::uint64_t t = 0; t < n / 3; ++t)
            keep(idx, idx[t * 3], idx[t * 3 + 1], idx[t * 3 + 2]);
    } else {
        const std::uint64_t triangles = n >= 3 ? n - 2 : 0;
        ByteBuffer list(triangles * 12);
        std::uint32_t* out = reinterpret_cast<std::uint32_t*>(list.data());
        for (std::uint64_t i = 0; i < triangles; ++i) {
            if (p.mode == gltfTriangleStrip) {
                // Every other triangle is flipped back to the strip's winding.
                if (i % 2 == 0)
                    keep(out, idx[i], idx[i + 1], idx[i + 2]);
                else
                    keep(out, idx[i + 1], idx[i], idx[i + 2]);
            } else {
                keep(out, idx[i + 1], idx[i + 2], idx[0]);
            }
        }
        bytes = std::move(list);
    }
    if (kept == 0) return std::nullopt;
    bytes.resize(kept * 12);
    return GeometryElement::triangles(std::move(bytes), static_cast<std::int64_t>(kept));
}

std::shared_ptr<Geometry> buildGeometry(const GLTFAsset& asset, const PrimitiveInput& in) {
    const GLTFPrimitive& p = *in.primitive;
    if (p.mode != gltfTriangles && p.mode != gltfTriangleStrip && p.mode != gltfTriangleFan &&
        p.mode != gltfPoints) {
        return nullptr;  // lines are not drawn
    }
    const std::int64_t position = gltfAttribute(p.attributes, "POSITION");
    if (position < 0 || asset.accessors[position].components != 3) return nullptr;
    const std::uint64_t vertices = asset.accessors[position].count;
    if (vertices == 0) return nullptr;

    std::optional<GeometryElement> indices = element(asset, p, vertices);
    if (!indices) return nullptr;
    auto geometry = std::make_shared<Geometry>();
    geometry->sources.push_back(
        floatSource(asset, in, position, GeometrySemantic::vertex, 3, "POSITION"));
    // Without normals the renderers shade each triangle flat, as glTF asks.
    if (std::int64_t normal = gltfAttribute(p.attributes, "NORMAL");
        usable(asset, normal, 3, vertices)) {
        geometry->sources.push_back(
            floatSource(asset, in, normal, GeometrySemantic::normal, 3, "NORMAL"));
    }
    if (std::int64_t uv = gltfAttribute(p.attributes, "TEXCOORD_0");
        usable(asset, uv, 2, vertices)) {
        geometry->sources.push_back(floatSource(asset, in, uv, GeometrySemantic::texcoord, 2, {}));
    }
    std::int64_t color = gltfAttribute(p.attributes, "COLOR_0");
    if (usable(asset, color, 3, vertices) || usable(asset, color, 4, vertices)) {
        geometry->sources.push_back(colorSource(asset, asset.accessors[color]));
    }
    geometry->elements.push_back(std::move(*indices));
    geometry->materials.push_back(in.material);
    return geometry;
}

// The most bytes a primitive's geometry can take: float positions, normals, UVs and RGBA
// colours per vertex, and its indices as read and as rewritten into triangles.
std::uint64_t geometryCost(const GLTFAsset& asset, const GLTFPrimitive& p) {
    std::int64_t position = gltfAttribute(p.attributes, "POSITION");
    std::uint64_t vertices = position >= 0 ? asset.accessors[position].count : 0;
    std::uint64_t indices = p.indices >= 0 ? asset.accessors[p.indices].count : vertices;
    return vertices * 48 + indices * 3 * 8;
}

// Many meshes, nodes or morph weights can name the same accessors, so what a file converts to
// is not bounded by its size unless it is bounded here: a real file's geometry takes a few
// times its data (bytes widened to floats), a file that reuses its data many thousand times
// over is cut off.
std::uint64_t geometryBudget(const GLTFAsset& asset) {
    std::uint64_t data = 0;
    for (const GLTFBuffer& b : asset.buffers)
        data += b.hasData ? b.byteLength : 0;
    for (const GLTFBufferView& v : asset.bufferViews)
        data += v.buffer < 0 || v.hasMeshopt ? v.bytes.length : 0;
    return (std::uint64_t{64} << 20) + 16 * data;
}

// ---- cameras and lights ----

std::shared_ptr<Camera> makeCamera(const GLTFCamera& c) {
    auto camera = std::make_shared<Camera>();
    camera->name = c.name;
    camera->usesOrthographicProjection = c.orthographic;
    if (c.orthographic) {
        // Both are half the height of what the camera sees.
        if (c.ymag > 0 && std::isfinite(c.ymag)) camera->orthographicScale = c.ymag;
    } else if (c.yfov > 0 && c.yfov < std::numbers::pi) {
        camera->fieldOfView = c.yfov * 180 / std::numbers::pi;
    }
    const bool planes = c.znear > 0 && c.zfar > c.znear && std::isfinite(c.zfar);
    if (planes) {
        camera->zNear = c.znear;
        camera->zFar = c.zfar;
    } else {
        // No far plane (an infinite projection) or unusable planes: fit them to the scene.
        camera->automaticallyAdjustsZRange = true;
    }
    return camera;
}

std::shared_ptr<Light> makeLight(const GLTFLight& l, double distance) {
    auto light = std::make_shared<Light>();
    switch (l.type) {
        case GLTFLightType::directional:
            light->type = LightType::directional;
            break;
        case GLTFLightType::point:
            light->type = LightType::omni;
            break;
        case GLTFLightType::spot:
            light->type = LightType::spot;
            break;
    }
    light->color = {encodeSRGB(l.color[0]), encodeSRGB(l.color[1]), encodeSRGB(l.color[2]), 1};
    light->intensity = sceneLightIntensity(l, distance);
    // glTF measures cone angles from the axis; the scene graph across the whole cone.
    const double degrees = 180 / std::numbers::pi;
    double outer = std::isfinite(l.outerConeAngle) ? l.outerConeAngle : std::numbers::pi / 4;
    double inner = std::isfinite(l.innerConeAngle) ? std::min(l.innerConeAngle, outer) : 0;
    light->spotOuterAngle = 2 * std::clamp(outer, 0.0, std::numbers::pi / 2) * degrees;
    light->spotInnerAngle = 2 * std::clamp(inner, 0.0, std::numbers::pi / 2) * degrees;
    return light;
}

// ---- the tree ----

class Converter {
public:
    explicit Converter(const GLTFAsset& asset)
        : asset_(asset), poses_(posesAtTimeZero(asset)), budget_(geometryBudget(asset)) {}

    std::shared_ptr<Scene> convert() {
        auto scene = std::make_shared<Scene>();
        sceneRoot_ = scene->rootNode.get();
        for (std::int64_t root : rootNodes())
            addTree(root, *scene->rootNode, *scene);
        placeLights(*scene);
        return scene;
    }

private:
    // The default scene, else the first; a file without scenes shows every node without a
    // parent, rather than nothing.
    std::vector<std::int64_t> rootNodes() const {
        std::vector<bool> hasParent(asset_.nodes.size(), false);
        for (const GLTFNode& n : asset_.nodes) {
            for (std::int64_t c : n.children)
                hasParent[c] = true;
        }
        std::vector<std::int64_t> roots;
        if (!asset_.scenes.empty()) {
            const GLTFScene& scene = asset_.scenes[asset_.scene >= 0 ? asset_.scene : 0];
            // A scene that lists a node that is also some node's child would show it twice.
            for (std::int64_t n : scene.nodes) {
                if (!hasParent[n]) roots.push_back(n);
            }
        } else {
            for (size_t n = 0; n < asset_.nodes.size(); ++n) {
                if (!hasParent[n]) roots.push_back(static_cast<std::int64_t>(n));
            }
        }
        // A node listed twice as a root is shown once.
        std::vector<bool> seen(asset_.nodes.size(), false);
        std::erase_if(roots, [&](std::int64_t n) {
            bool before = seen[n];
            seen[n] = true;
            return before;
        });
        return roots;
    }

    // Depth first without recursion; the load refused cycles, nodes with two parents and trees
    // deeper than the scene graph's walks can take.
    void addTree(std::int64_t root, Node& sceneRoot, Scene& scene) {
        struct Pending {
            std::int64_t index;
            Node* parent;
        };
        std::vector<Pending> stack{{root, &sceneRoot}};
        while (!stack.empty()) {
            Pending item = stack.back();
            stack.pop_back();
            const GLTFNode& g = asset_.nodes[item.index];
            auto found = poses_.find(item.index);
            const Pose* pose = found != poses_.end() ? &found->second : nullptr;
            Mat4 transform = nodeTransform(g, pose);
            // A node placed at a non-number is left out with everything below it.
            if (!isFinite(transform)) continue;
            auto node = Node::make();
            node->name = g.name;
            node->setTransform(transform);
            if (g.camera >= 0) node->camera = makeCamera(asset_.cameras[g.camera]);
            if (g.light >= 0) lightNodes_.emplace_back(node.get(), g.light);
            if (g.mesh >= 0) {
                const std::vector<double>& weights = pose && pose->hasWeights ? pose->weights
                                                     : !g.weights.empty()
                                                         ? g.weights
                                                         : asset_.meshes[g.mesh].weights;
                // A skinned mesh is drawn as stored: in its bind pose its vertices already sit
                // where the skeleton puts them, and glTF ignores the skinned node's own place.
                Node& holder = g.skin >= 0 ? *scene.rootNode : *node;
                addMesh(g.mesh, weights, holder, g.skin >= 0 ? g.name : std::string());
            }
            item.parent->addChildNode(node);
            for (auto c = g.children.rbegin(); c != g.children.rend(); ++c) {
                stack.push_back({*c, node.get()});
            }
        }
    }

    void addMesh(std::int64_t meshIndex, const std::vector<double>& weights, Node& holder,
                 const std::string& skinnedName) {
        const GLTFMesh& mesh = asset_.meshes[meshIndex];
        // A mesh shown at its own default weights is built once however many nodes show it.
        const bool shared = &weights == &mesh.weights;
        std::vector<std::shared_ptr<Geometry>>* geometries = nullptr;
        std::vector<std::shared_ptr<Geometry>> fresh;
        if (shared) {
            auto [it, inserted] = meshGeometry_.try_emplace(meshIndex);
            geometries = &it->second;
            if (inserted) *geometries = buildMesh(mesh, weights);
        } else {
            fresh = buildMesh(mesh, weights);
            geometries = &fresh;
        }
        const bool ownNode = &holder == sceneRoot() || holder.geometry || geometries->size() > 1;
        for (const auto& geometry : *geometries) {
            if (!ownNode) {
                holder.geometry = geometry;
                continue;
            }
            auto node = Node::withGeometry(geometry);
            node->name = !skinnedName.empty() ? skinnedName : mesh.name;
            holder.addChildNode(node);
        }
    }

    std::vector<std::shared_ptr<Geometry>> buildMesh(const GLTFMesh& mesh,
                                                     const std::vector<double>& weights) {
        std::vector<std::shared_ptr<Geometry>> out;
        for (const GLTFPrimitive& p : mesh.primitives) {
            // Past the budget, further geometry is left out rather than the whole load lost.
            const std::uint64_t cost = geometryCost(asset_, p);
            if (cost > budget_ - spent_) continue;
            spent_ += cost;
            PrimitiveInput in{&p, &weights, materials_.material(p.material)};
            if (auto geometry = buildGeometry(asset_, in)) out.push_back(std::move(geometry));
        }
        return out;
    }

    const Node* sceneRoot() const { return sceneRoot_; }

    // Lights get their strength once their place is known: a point light's is what reaches
    // the model's centre.
    void placeLights(Scene& scene) {
        if (lightNodes_.empty()) return;
        BoundingBox box = scene.rootNode->boundingBox();
        Vec3 centre{};
        double reach = 1;
        if (!box.isEmpty()) {
            centre = (box.min + box.max) * 0.5;
            // A light inside the model lights surfaces about half its size away.
            reach =
                std::max({box.max.x - box.min.x, box.max.y - box.min.y, box.max.z - box.min.z}) *
                0.5;
        }
        for (auto [node, index] : lightNodes_) {
            Vec3 at = transformPoint(node->worldTransform(), Vec3{});
            double distance = std::max(length(at - centre), reach);
            node->light = makeLight(asset_.lights[index], distance);
        }
    }

    const GLTFAsset& asset_;
    std::unordered_map<std::int64_t, Pose> poses_;
    MaterialConverter materials_{asset_};
    std::unordered_map<std::int64_t, std::vector<std::shared_ptr<Geometry>>> meshGeometry_;
    std::vector<std::pair<Node*, std::int64_t>> lightNodes_;
    const Node* sceneRoot_ = nullptr;
    const std::uint64_t budget_;
    std::uint64_t spent_ = 0;
};

}  // namespace
}  // namespace gltf

double sceneLightIntensity(const GLTFLight& light, double distance) {
    double lux = light.intensity;
    if (light.type != GLTFLightType::directional) {
        if (light.range > 0 && distance > light.range) return 0;
        lux = distance > 0 ? light.intensity / (distance * distance) : light.intensity;
    }
    // The scene graph counts physically based intensities in lux (its key light is 1000).
    return std::isfinite(lux) && lux > 0 ? lux : 0;
}

std::shared_ptr<Scene> sceneWithGLTFAsset(const GLTFAsset& asset) {
    try {
        return gltf::Converter(asset).convert();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace kelvo
