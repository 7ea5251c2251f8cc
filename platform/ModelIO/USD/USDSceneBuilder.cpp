#include "platform/ModelIO/USD/USDSceneBuilder.h"

#include <cmath>
#include <numbers>
#include <optional>
#include <span>
#include <unordered_map>

#include "platform/ModelIO/TextureReferences.h"
#include "platform/ModelIO/USD/USDMeshes.h"

namespace kelvo::usd {

namespace {

Mat4 translation(double x, double y, double z) {
    Mat4 m = Mat4::identity();
    m.m[3][0] = x, m.m[3][1] = y, m.m[3][2] = z;
    return m;
}

Mat4 scaling(double x, double y, double z) {
    Mat4 m = Mat4::identity();
    m.m[0][0] = x, m.m[1][1] = y, m.m[2][2] = z;
    return m;
}

// A turn by `degrees` about axis 0, 1 or 2, right-handed, in row-vector form.
Mat4 rotation(int axis, double degrees) {
    const double a = degrees * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    Mat4 m = Mat4::identity();
    m.m[u][u] = c, m.m[u][v] = s, m.m[v][u] = -s, m.m[v][v] = c;
    return m;
}

// The turn of the quaternion (real, i, j, k), in row-vector form; identity for a zero one.
Mat4 quaternionRotation(double w, double x, double y, double z) {
    const double n = std::sqrt(w * w + x * x + y * y + z * z);
    if (!(n > 0) || !std::isfinite(n)) return Mat4::identity();
    w /= n, x /= n, y /= n, z /= n;
    Mat4 m = Mat4::identity();
    // Rows are the images of the axes: the transpose of the column-vector matrix.
    m.m[0][0] = 1 - 2 * (y * y + z * z), m.m[0][1] = 2 * (x * y + w * z), m.m[0][2] = 2 * (x * z - w * y);
    m.m[1][0] = 2 * (x * y - w * z), m.m[1][1] = 1 - 2 * (x * x + z * z), m.m[1][2] = 2 * (y * z + w * x);
    m.m[2][0] = 2 * (x * z + w * y), m.m[2][1] = 2 * (y * z - w * x), m.m[2][2] = 1 - 2 * (x * x + y * y);
    return m;
}

// The matrix of one xform op of kind `kind` ("translate", "rotateXYZ", ...) with the value
// `v`; false when the value does not fit the kind.
bool opMatrix(std::string_view kind, const Value& v, Mat4& out) {
    const std::vector<double>& n = v.numbers;
    if (kind == "translate" && n.size() >= 3) {
        out = translation(n[0], n[1], n[2]);
    } else if (kind == "scale" && n.size() >= 3) {
        out = scaling(n[0], n[1], n[2]);
    } else if (kind == "scale" && n.size() == 1) {
        out = scaling(n[0], n[0], n[0]);
    } else if ((kind == "rotateX" || kind == "rotateY" || kind == "rotateZ") && n.size() >= 1) {
        out = rotation(kind[6] - 'X', n[0]);
    } else if (kind.size() == 9 && kind.starts_with("rotate") && n.size() >= 3) {
        // rotateXYZ turns about X first, then Y, then Z: in row-vector form the first turn
        // is the leftmost factor. The value holds the X, Y, Z angles whatever the order.
        out = Mat4::identity();
        for (char axis : kind.substr(6)) {
            const int a = axis - 'X';
            if (a < 0 || a > 2) return false;
            out = out * rotation(a, n[static_cast<std::size_t>(a)]);
        }
    } else if (kind == "orient" && n.size() >= 4) {
        out = quaternionRotation(n[0], n[1], n[2], n[3]);
    } else if (kind == "transform" && n.size() >= 16) {
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c)
                out.m[r][c] = n[static_cast<std::size_t>(r * 4 + c)];
        }
    } else {
        return false;
    }
    return true;
}

bool isShadingType(std::string_view type) {
    return type == "Material" || type == "Shader" || type == "NodeGraph" || type == "GeomSubset";
}

Color srgbColor(const std::vector<double>& linear, double alpha) {
    if (linear.size() < 3) return Color::white(1, alpha);
    return {linearToSRGB(static_cast<float>(linear[0])), linearToSRGB(static_cast<float>(linear[1])),
            linearToSRGB(static_cast<float>(linear[2])), alpha};
}

TextureWrap wrapNamed(std::string_view name) {
    if (name == "clamp" || name == "black") return TextureWrap::clampToEdge;
    if (name == "mirror") return TextureWrap::mirroredRepeat;
    return TextureWrap::repeat;
}

std::shared_ptr<Node> cloneTree(const Node& node, std::size_t& budget) {
    ++budget;
    auto copy = Node::make();
    copy->name = node.name;
    copy->geometry = node.geometry;
    copy->camera = node.camera;
    copy->light = node.light;
    copy->setTransform(node.transform());
    for (const auto& child : node.childNodes())
        copy->addChildNode(cloneTree(*child, budget));
    return copy;
}

// Splits "/A/B.outputs:rgb" into the prim path and the property name.
std::pair<std::string_view, std::string_view> splitPropertyPath(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.find('.', slash == std::string_view::npos ? 0 : slash);
    if (dot == std::string_view::npos) return {path, {}};
    return {path.substr(0, dot), path.substr(dot + 1)};
}

struct BuiltMaterial {
    std::shared_ptr<Material> material;
    bool diffuseFromDisplayColor = false;
    bool textured = false;
    std::string texcoordName = "st";
};

class SceneBuilder {
public:
    explicit SceneBuilder(const Stage& stage) : stage_(stage) {
        for (const Prim& prim : stage_.prims) {
            if (token(prim, "purpose") == "render") hasRenderPurpose_ = true;
        }
    }

    ModelAsset build() {
        ModelAsset asset;
        for (std::uint32_t child : stage_.prims[0].children) {
            if (auto node = buildNode(stage_.prims[child], Mat4::identity(), false))
                asset.objects.push_back(std::move(node));
        }
        asset.textures = textures_.take();
        if (stage_.upAxis == "Z") {
            asset.upAxisCorrection = {{{1, 0, 0, 0}, {0, 0, -1, 0}, {0, 1, 0, 0}, {0, 0, 0, 1}}};
        }
        return asset;
    }

private:
    // ---- attribute access -----------------------------------------------------------------

    const Value* value(const Prim& prim, std::string_view name) const {
        ResolvedProperty r = stage_.attribute(prim, name);
        return r ? &r.property->value : nullptr;
    }
    std::span<const float> floats(const Prim& prim, std::string_view name) const {
        const Value* v = value(prim, name);
        return v ? std::span<const float>(v->floats) : std::span<const float>();
    }
    std::span<const std::int32_t> ints(const Prim& prim, std::string_view name) const {
        const Value* v = value(prim, name);
        return v ? std::span<const std::int32_t>(v->ints) : std::span<const std::int32_t>();
    }
    double number(const Prim& prim, std::string_view name, double fallback) const {
        const Value* v = value(prim, name);
        return v && !v->numbers.empty() && std::isfinite(v->numbers[0]) ? v->numbers[0] : fallback;
    }
    std::string token(const Prim& prim, std::string_view name) const {
        const Value* v = value(prim, name);
        return v && !v->strings.empty() ? v->strings[0] : std::string();
    }

    Primvar primvar(const Prim& prim, const std::string& name, Interpolation fallback,
                    int components) const {
        Primvar p;
        p.values = floats(prim, name);
        if (p.values.empty()) return {};
        p.components = components;
        p.interpolation = interpolationNamed(stage_.interpolation(prim, name), fallback);
        p.indices = ints(prim, name + ":indices");
        return p;
    }

    // ---- traversal ------------------------------------------------------------------------

    bool drawable(const Prim& prim) const {
        if (prim.specifier != Specifier::def || !prim.active) return false;
        if (isShadingType(prim.typeName)) return false;
        if (token(prim, "visibility") == "invisible") return false;
        const std::string purpose = token(prim, "purpose");
        return purpose != "guide" && !(purpose == "proxy" && hasRenderPurpose_);
    }

    std::shared_ptr<Node> buildNode(const Prim& prim, const Mat4& parentWorld, bool prototype) {
        // Prototypes may name the instancer's own ancestors: the work stays bounded.
        if (++nodesVisited_ > maxNodes || !drawable(prim)) return nullptr;
        const std::string& type = prim.typeName;
        if (type == "PointInstancer" && instancing_ >= 4) return nullptr;
        bool reset = false;
        Mat4 local = localTransform(stage_, prim, reset);
        if (reset) {
            const Mat4 inverse = affineInverse(parentWorld);
            if (isFinite(inverse)) local = local * inverse;
        }
        auto node = Node::make();
        node->name = prim.name;
        node->setTransform(local);
        const Mat4 world = local * parentWorld;
        if (type == "Mesh") {
            node->geometry = meshGeometry(prim);
        } else if (type == "Cube" || type == "Sphere" || type == "Cylinder" || type == "Cone" ||
                   type == "Capsule") {
            node->geometry = shapeGeometry(prim);
        } else if (type == "Camera") {
            node->camera = camera(prim);
        } else if (type == "PointInstancer") {
            ++instancing_;
            instances(prim, *node, world);
            --instancing_;
        }
        if (type != "PointInstancer") {
            for (std::uint32_t child : prim.children) {
                if (auto c = buildNode(stage_.prims[child], world, prototype))
                    node->addChildNode(std::move(c));
            }
        }
        if (!node->geometry && !node->camera && node->childNodes().empty()) return nullptr;
        return node;
    }

    // ---- geometry -------------------------------------------------------------------------

    std::shared_ptr<Geometry> meshGeometry(const Prim& prim) {
        MeshInput in;
        in.points = floats(prim, "points");
        in.faceVertexCounts = ints(prim, "faceVertexCounts");
        in.faceVertexIndices = ints(prim, "faceVertexIndices");
        if (in.points.size() < 9 || in.faceVertexCounts.empty()) return nullptr;
        in.leftHanded = token(prim, "orientation") == "leftHanded";
        in.normals = primvar(prim, "primvars:normals", Interpolation::vertex, 3);
        if (!in.normals.present()) in.normals = primvar(prim, "normals", Interpolation::vertex, 3);

        // Element 0 holds the faces no subset claims.
        std::vector<BuiltMaterial*> materials{boundMaterial(prim)};
        std::vector<std::uint32_t> faceElements;
        for (std::uint32_t child : prim.children) {
            const Prim& subset = stage_.prims[child];
            if (subset.typeName != "GeomSubset" || !subset.active) continue;
            const std::string elementType = token(subset, "elementType");
            if (!elementType.empty() && elementType != "face") continue;
            // Subsets that bind no material of their own (parts named for other tools)
            // stay with the mesh's faces.
            BuiltMaterial* own = directMaterial(subset);
            if (!own) continue;
            if (faceElements.empty()) faceElements.assign(in.faceVertexCounts.size(), 0);
            const auto element = static_cast<std::uint32_t>(materials.size());
            materials.push_back(own);
            for (std::int32_t face : ints(subset, "indices")) {
                if (face >= 0 && static_cast<std::size_t>(face) < faceElements.size() &&
                    faceElements[static_cast<std::size_t>(face)] == 0)
                    faceElements[static_cast<std::size_t>(face)] = element;
            }
        }
        in.faceElements = faceElements;
        in.elementCount = static_cast<std::uint32_t>(materials.size());

        bool wantsColor = false, textured = false;
        std::string texcoordName = "st";
        for (const BuiltMaterial* m : materials) {
            wantsColor |= !m || m->diffuseFromDisplayColor;
            if (m && m->textured) {
                textured = true;
                texcoordName = m->texcoordName;
            }
        }
        Primvar colors = primvar(prim, "primvars:displayColor", Interpolation::constant, 3);
        Primvar opacities = primvar(prim, "primvars:displayOpacity", Interpolation::constant, 1);
        // One colour for the whole mesh goes to the material rather than to every vertex.
        std::optional<Color> constantColor;
        if (colors.values.size() < 3) colors = {};
        if (wantsColor && (colors.present() || opacities.present()) &&
            (!colors.present() || colors.interpolation == Interpolation::constant) &&
            (!opacities.present() || opacities.interpolation == Interpolation::constant)) {
            const float* c = colors.present() ? colors.values.data() : nullptr;
            const float alpha = opacities.present() ? opacities.values[0] : 1.0f;
            constantColor = c ? Color{linearToSRGB(c[0]), linearToSRGB(c[1]), linearToSRGB(c[2]), alpha}
                              : Color::white(1, alpha);
        } else if (wantsColor) {
            in.colors = colors;
            in.opacities = opacities;
        }
        if (textured) {
            in.texcoords = primvar(prim, "primvars:" + texcoordName, Interpolation::faceVarying, 2);
            for (const char* name : {"primvars:st", "primvars:st0", "primvars:UVMap", "primvars:uv"}) {
                if (!in.texcoords.present()) in.texcoords = primvar(prim, name, Interpolation::faceVarying, 2);
            }
        }
        MeshBuffers mesh = buildMesh(in);
        const Value* doubleSided = value(prim, "doubleSided");
        const bool twoSides = doubleSided && !doubleSided->numbers.empty() && doubleSided->numbers[0] != 0;
        for (std::size_t e = 0; e < mesh.elements.size(); ++e) {
            std::shared_ptr<Material>& m = mesh.elements[e].material;
            m = elementMaterial(materials[e], constantColor, !mesh.colors.empty());
            if (twoSides && !m->isDoubleSided) {
                m = std::make_shared<Material>(*m);
                m->isDoubleSided = true;
            }
        }
        return makeGeometry(std::move(mesh));
    }

    // The material an element is drawn with: the bound one, given the mesh's display colour
    // when it reads it, or for unbound geometry the display colour itself.
    std::shared_ptr<Material> elementMaterial(const BuiltMaterial* bound,
                                              const std::optional<Color>& constantColor,
                                              bool vertexColors) {
        if (bound && !bound->diffuseFromDisplayColor) return bound->material;
        std::shared_ptr<Material> base = bound ? bound->material : nullptr;
        if (constantColor) {
            auto m = base ? std::make_shared<Material>(*base) : displayColorMaterial();
            m->diffuse = *constantColor;
            if (constantColor->alpha < 1) m->alphaMode = AlphaMode::blend;
            return m;
        }
        if (base) return base;
        return vertexColors ? makeUnnamedMaterial(true) : makeUnnamedMaterial(false);
    }

    static std::shared_ptr<Material> displayColorMaterial() {
        auto m = std::make_shared<Material>();
        m->lightingModelName = LightingModel::physicallyBased;
        m->metalness = 0.0;
        m->roughness = 0.7;
        return m;
    }

    std::shared_ptr<Geometry> shapeGeometry(const Prim& prim) {
        const std::string& type = prim.typeName;
        const std::string axisToken = token(prim, "axis");
        const char axis = axisToken == "X" ? 'X' : axisToken == "Y" ? 'Y' : 'Z';
        auto finite = [](double v, double fallback) {
            return std::isfinite(v) && std::fabs(v) < 1e30 ? std::fabs(v) : fallback;
        };
        MeshBuffers mesh;
        if (type == "Cube") {
            mesh = cubeMesh(finite(number(prim, "size", 2), 2));
        } else if (type == "Sphere") {
            mesh = sphereMesh(finite(number(prim, "radius", 1), 1));
        } else if (type == "Cylinder") {
            mesh = cylinderMesh(finite(number(prim, "radius", 1), 1), finite(number(prim, "height", 2), 2), axis);
        } else if (type == "Cone") {
            mesh = coneMesh(finite(number(prim, "radius", 1), 1), finite(number(prim, "height", 2), 2), axis);
        } else {
            mesh = capsuleMesh(finite(number(prim, "radius", 0.5), 0.5), finite(number(prim, "height", 1), 1), axis);
        }
        BuiltMaterial* bound = boundMaterial(prim);
        std::optional<Color> color;
        if (!bound || bound->diffuseFromDisplayColor) {
            std::span<const float> c = floats(prim, "primvars:displayColor");
            std::span<const float> o = floats(prim, "primvars:displayOpacity");
            if (c.size() >= 3 || !o.empty()) {
                color = c.size() >= 3 ? Color{linearToSRGB(c[0]), linearToSRGB(c[1]), linearToSRGB(c[2]), 1}
                                      : Color::white(1, 1);
                if (!o.empty()) color->alpha = o[0];
            }
        }
        mesh.elements[0].material = elementMaterial(bound, color, false);
        return makeGeometry(std::move(mesh));
    }

    std::shared_ptr<Camera> camera(const Prim& prim) const {
        auto camera = std::make_shared<Camera>();
        camera->name = prim.name;
        const double focal = number(prim, "focalLength", 50);
        const double aperture = number(prim, "verticalAperture", 15.2908);
        if (focal > 0 && aperture > 0) {
            camera->fieldOfView = 2 * std::atan(aperture / (2 * focal)) * 180 / std::numbers::pi;
        }
        if (const Value* range = value(prim, "clippingRange"); range && range->numbers.size() >= 2 &&
                                                                 range->numbers[0] > 0 &&
                                                                 range->numbers[1] > range->numbers[0]) {
            camera->zNear = range->numbers[0];
            camera->zFar = range->numbers[1];
        } else {
            camera->zNear = 1;
            camera->zFar = 1e6;
        }
        if (token(prim, "projection") == "orthographic") {
            camera->usesOrthographicProjection = true;
            // Apertures are in tenths of a scene unit; the scale is half the view's height.
            camera->orthographicScale = aperture * 0.1 / 2;
        }
        return camera;
    }

    void instances(const Prim& prim, Node& node, const Mat4& world) {
        std::vector<std::shared_ptr<Node>> prototypes;
        for (const std::string& path : stage_.targets(prim, "prototypes")) {
            const Prim* p = stage_.primAtPath(path);
            prototypes.push_back(p ? buildNode(*p, world, true) : nullptr);
        }
        std::span<const std::int32_t> which = ints(prim, "protoIndices");
        std::span<const float> positions = floats(prim, "positions");
        std::span<const float> orientations = floats(prim, "orientations");
        std::span<const float> scales = floats(prim, "scales");
        const std::size_t n = which.size();
        if (positions.size() < 3 * n) return;  // every instance needs a position
        const bool oriented = orientations.size() >= 4 * n, scaled = scales.size() >= 3 * n;
        for (std::size_t i = 0; i < n && instanceCount_ < maxInstances; ++i) {
            const std::int32_t k = which[i];
            if (k < 0 || static_cast<std::size_t>(k) >= prototypes.size() || !prototypes[static_cast<std::size_t>(k)])
                continue;
            Mat4 m = Mat4::identity();
            if (scaled) m = scaling(scales[3 * i], scales[3 * i + 1], scales[3 * i + 2]);
            if (oriented) {
                const float* q = &orientations[4 * i];
                m = m * quaternionRotation(q[0], q[1], q[2], q[3]);
            }
            m = m * translation(positions[3 * i], positions[3 * i + 1], positions[3 * i + 2]);
            auto instance = Node::make();
            instance->setTransform(isFinite(m) ? m : Mat4::identity());
            instance->addChildNode(cloneTree(*prototypes[static_cast<std::size_t>(k)], nodesVisited_));
            if (nodesVisited_ > maxNodes) break;
            node.addChildNode(std::move(instance));
            ++instanceCount_;
        }
    }

    // ---- materials ------------------------------------------------------------------------

    // The material bound to the prim itself (not inherited).
    BuiltMaterial* directMaterial(const Prim& prim) {
        for (const char* name : {"material:binding:preview", "material:binding"}) {
            for (const std::string& path : stage_.targets(prim, name)) {
                const Prim* m = stage_.primAtPath(path);
                if (m && m->typeName == "Material") return material(*m);
            }
        }
        return nullptr;
    }

    // The material bound to the prim or, failing that, to its nearest ancestor.
    BuiltMaterial* boundMaterial(const Prim& prim) {
        for (const Prim* p = &prim; p != &stage_.prims[0]; p = &stage_.prims[p->parent]) {
            if (BuiltMaterial* m = directMaterial(*p)) return m;
        }
        return nullptr;
    }

    // What feeds an input: a value, a texture's output, or a primvar reader.
    struct Source {
        const Value* value = nullptr;
        const Prim* texture = nullptr;  // a UsdUVTexture shader
        std::string output;             // its output: "rgb", "r", "a", ...
        std::string primvar;            // read by a UsdPrimvarReader
        bool isPrimvar = false;
    };

    Source follow(const Prim& prim, std::string_view name, int hops) const {
        Source source;
        if (hops > 16) return source;
        std::vector<std::string> targets = stage_.targets(prim, name);
        if (targets.empty()) {
            source.value = value(prim, name);
            return source;
        }
        auto [path, property] = splitPropertyPath(targets.front());
        const Prim* p = stage_.primAtPath(path);
        if (!p || property.empty()) return source;
        if (p->typeName != "Shader") return follow(*p, property, hops + 1);  // through a graph
        const std::string id = token(*p, "info:id");
        if (id == "UsdUVTexture") {
            source.texture = p;
            source.output = property.starts_with("outputs:") ? property.substr(8) : property;
        } else if (id.starts_with("UsdPrimvarReader")) {
            source.isPrimvar = true;
            source.primvar = interfaceString(*p, "inputs:varname", 0);
        }
        return source;
    }

    const Prim* surfaceShader(const Prim& material) const {
        const Prim* p = &material;
        std::string output = "outputs:surface";
        for (int hop = 0; hop < 16; ++hop) {
            std::vector<std::string> targets = stage_.targets(*p, output);
            if (targets.empty()) break;
            auto [path, property] = splitPropertyPath(targets.front());
            p = stage_.primAtPath(path);
            if (!p) return nullptr;
            if (p->typeName == "Shader") return token(*p, "info:id") == "UsdPreviewSurface" ? p : nullptr;
            output = property;
        }
        // No connection to follow: a preview surface anywhere inside the material.
        std::vector<std::uint32_t> pending(material.children.begin(), material.children.end());
        for (std::size_t i = 0; i < pending.size() && i < 4096; ++i) {
            const Prim& child = stage_.prims[pending[i]];
            if (child.typeName == "Shader" && token(child, "info:id") == "UsdPreviewSurface") return &child;
            pending.insert(pending.end(), child.children.begin(), child.children.end());
        }
        return nullptr;
    }

    // A texture file: beside the layer, or in the package when the layer is a package's.
    std::shared_ptr<const Texture> textureFile(const std::filesystem::path& layer, const std::string& file) {
        const Package* package = stage_.package.get();
        if (!package || !insidePackage(*package, layer)) return textures_.reference(layer, file);
        PackageFile found = readPackageFile(*package, layer, file, textureFileSizeLimit);
        const std::string name = found.path.empty() ? file : found.path.string();
        return textures_.embedded(name, {}, std::make_shared<const ByteBuffer>(std::move(found.contents)));
    }

    TextureSlot textureSlot(const Prim& texture, BuiltMaterial& built) {
        TextureSlot slot;
        ResolvedProperty file = stage_.attribute(texture, "inputs:file");
        if (!file || file.property->value.strings.empty() || file.property->value.strings[0].empty())
            return slot;
        slot.texture = textureFile(file.opinion->layer->path, file.property->value.strings[0]);
        slot.wrapS = wrapNamed(token(texture, "inputs:wrapS"));
        slot.wrapT = wrapNamed(token(texture, "inputs:wrapT"));
        // The texture coordinates: a primvar reader, perhaps through a UsdTransform2d and
        // node graph outputs.
        const Prim* p = &texture;
        std::string input = "inputs:st";
        for (int hop = 0; hop < 16; ++hop) {
            std::vector<std::string> targets = stage_.targets(*p, input);
            if (targets.empty()) break;
            auto [path, property] = splitPropertyPath(targets.front());
            const Prim* next = stage_.primAtPath(path);
            if (!next) break;
            p = next;
            input = property;
            if (p->typeName != "Shader") continue;
            const std::string id = token(*p, "info:id");
            if (id == "UsdTransform2d") {
                placeTexture(*p, slot);
                input = "inputs:in";
                continue;
            }
            if (id.starts_with("UsdPrimvarReader")) {
                const std::string name = interfaceString(*p, "inputs:varname", 0);
                if (!name.empty()) built.texcoordName = name;
            }
            break;
        }
        built.textured = true;
        return slot;
    }

    // A UsdTransform2d's scale, rotation (degrees) and translation, applied to texture
    // coordinates with t up, as the slot's transform of coordinates with v down: the same
    // turn and scale, the offset moved to the flipped origin.
    void placeTexture(const Prim& transform, TextureSlot& slot) const {
        const Value* scale = value(transform, "inputs:scale");
        const double sx = scale && scale->numbers.size() >= 2 ? scale->numbers[0] : 1;
        const double sy = scale && scale->numbers.size() >= 2 ? scale->numbers[1] : 1;
        const double theta = number(transform, "inputs:rotation", 0) * std::numbers::pi / 180;
        const Value* move = value(transform, "inputs:translation");
        const double tx = move && move->numbers.size() >= 2 ? move->numbers[0] : 0;
        const double ty = move && move->numbers.size() >= 2 ? move->numbers[1] : 0;
        slot.scale[0] = sx;
        slot.scale[1] = sy;
        slot.rotation = theta;
        slot.offset[0] = tx - sy * std::sin(theta);
        slot.offset[1] = 1 - ty - sy * std::cos(theta);
    }

    // A string input's value, following connections to the interface inputs of node graphs
    // and materials ("inputs:varname.connect = </Mat.inputs:stPrimvarName>").
    std::string interfaceString(const Prim& prim, std::string_view name, int hops) const {
        std::vector<std::string> targets = stage_.targets(prim, name);
        if (targets.empty() || hops > 16) return token(prim, name);
        auto [path, property] = splitPropertyPath(targets.front());
        const Prim* p = stage_.primAtPath(path);
        return p && !property.empty() ? interfaceString(*p, property, hops + 1) : std::string();
    }

    BuiltMaterial* material(const Prim& materialPrim) {
        const auto key = static_cast<std::size_t>(&materialPrim - stage_.prims.data());
        if (auto it = materials_.find(key); it != materials_.end()) return &it->second;
        BuiltMaterial& built = materials_[key];
        auto m = std::make_shared<Material>();
        built.material = m;
        m->name = materialPrim.name;
        m->lightingModelName = LightingModel::physicallyBased;
        m->metalness = 0.0;
        m->roughness = 0.5;
        const Prim* shader = surfaceShader(materialPrim);
        if (!shader) {
            m->diffuse = srgbColor({0.18, 0.18, 0.18}, 1);
            return &built;
        }
        double opacity = 1;
        Source opacitySource = follow(*shader, "inputs:opacity", 0);
        if (opacitySource.value && !opacitySource.value->numbers.empty()) opacity = opacitySource.value->numbers[0];

        Source diffuse = follow(*shader, "inputs:diffuseColor", 0);
        if (diffuse.texture) {
            m->diffuse = Color::white(1, opacity);
            m->diffuseTexture = textureSlot(*diffuse.texture, built);
        } else if (diffuse.isPrimvar) {
            built.diffuseFromDisplayColor = diffuse.primvar == "displayColor";
            m->diffuse = Color::white(1, opacity);
        } else if (diffuse.value && diffuse.value->numbers.size() >= 3) {
            m->diffuse = srgbColor(diffuse.value->numbers, opacity);
        } else {
            m->diffuse = srgbColor({0.18, 0.18, 0.18}, opacity);
        }

        Source metallic = follow(*shader, "inputs:metallic", 0);
        Source roughness = follow(*shader, "inputs:roughness", 0);
        if (metallic.value && !metallic.value->numbers.empty()) m->metalness = metallic.value->numbers[0];
        if (roughness.value && !roughness.value->numbers.empty()) m->roughness = roughness.value->numbers[0];
        // The scene graph reads roughness from green and metalness from blue of one texture,
        // which is how packed occlusion-roughness-metallic maps are wired.
        const bool roughnessFits = !roughness.texture || roughness.output == "g";
        const bool metallicFits = !metallic.texture || metallic.output == "b";
        const Prim* packed = roughness.texture ? roughness.texture : metallic.texture;
        if (packed && roughnessFits && metallicFits &&
            (!roughness.texture || !metallic.texture || roughness.texture == metallic.texture)) {
            m->metalnessRoughnessTexture = textureSlot(*packed, built);
            if (roughness.texture) m->roughness = 1.0;
            if (metallic.texture) m->metalness = 1.0;
        }

        Source emissive = follow(*shader, "inputs:emissiveColor", 0);
        if (emissive.texture) {
            m->emission = Color::white(1, 1);
            m->emissionTexture = textureSlot(*emissive.texture, built);
        } else if (emissive.value && emissive.value->numbers.size() >= 3) {
            m->emission = srgbColor(emissive.value->numbers, 1);
        }
        Source normal = follow(*shader, "inputs:normal", 0);
        if (normal.texture) m->normalTexture = textureSlot(*normal.texture, built);
        Source occlusion = follow(*shader, "inputs:occlusion", 0);
        if (occlusion.texture) m->occlusionTexture = textureSlot(*occlusion.texture, built);

        const double threshold = number(*shader, "inputs:opacityThreshold", 0);
        if (threshold > 0) {
            m->alphaMode = AlphaMode::mask;
            m->alphaCutoff = threshold;
        } else if (opacity < 1 || (opacitySource.texture && opacitySource.output == "a")) {
            m->alphaMode = AlphaMode::blend;
        }
        return &built;
    }

    const Stage& stage_;
    TextureReferences textures_;
    std::unordered_map<std::size_t, BuiltMaterial> materials_;
    bool hasRenderPurpose_ = false;
    int instancing_ = 0;
    std::size_t instanceCount_ = 0;
    std::size_t nodesVisited_ = 0;  // prims visited and nodes cloned
};

}  // namespace

Mat4 localTransform(const Stage& stage, const Prim& prim, bool& resetsXformStack) {
    resetsXformStack = false;
    ResolvedProperty order = stage.attribute(prim, "xformOpOrder");
    if (!order) return Mat4::identity();
    const std::vector<std::string>& ops = order.property->value.strings;
    // No real transform needs more ops; a hostile list of millions stays cheap.
    if (ops.size() > 64) return Mat4::identity();
    std::size_t first = 0;
    for (std::size_t i = 0; i < ops.size(); ++i) {
        if (ops[i] == "!resetXformStack!") {
            resetsXformStack = true;
            first = i + 1;
        }
    }
    // The first op in the order is applied last: in row-vector form it is the rightmost.
    Mat4 m = Mat4::identity();
    for (std::size_t i = ops.size(); i-- > first;) {
        std::string_view name = ops[i];
        const bool invert = name.starts_with("!invert!");
        if (invert) name.remove_prefix(8);
        if (!name.starts_with("xformOp:")) continue;
        std::string_view kind = name.substr(8);
        kind = kind.substr(0, kind.find(':'));
        ResolvedProperty op = stage.attribute(prim, name);
        Mat4 step;
        if (!op || !opMatrix(kind, op.property->value, step)) continue;
        if (invert) step = affineInverse(step);
        if (!isFinite(step)) continue;
        m = m * step;
    }
    // Finite steps can still multiply past the largest double.
    return isFinite(m) ? m : Mat4::identity();
}

ModelAsset buildModelAsset(const Stage& stage) {
    return SceneBuilder(stage).build();
}

}  // namespace kelvo::usd
