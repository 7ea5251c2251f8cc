// Planning a frame: one walk over the scene that turns nodes into draws with their matrices
// in float, lights into view space, and fits the near and far planes.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "platform/Renderer/Frame.h"
#include "platform/Renderer/Renderer.h"

namespace kelvo::render {

namespace {

using shading::srgbToLinear;

Float3 toFloat3(Vec3 v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

bool finite3(Float3 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

Float3 linearColor(const Color& c) {
    return srgbToLinear(
        Float3{static_cast<float>(c.red), static_cast<float>(c.green), static_cast<float>(c.blue)});
}

// A number out of a material property: the number itself, or a colour's red channel.
float scalarContents(const MaterialContents& contents, float fallback) {
    if (const double* v = std::get_if<double>(&contents)) {
        return std::isfinite(*v) ? shading::clamp01(static_cast<float>(*v)) : fallback;
    }
    if (const Color* c = std::get_if<Color>(&contents)) {
        return std::isfinite(c->red) ? shading::clamp01(static_cast<float>(c->red)) : fallback;
    }
    return fallback;
}

shading::Surface surfaceOf(const Material* material) {
    static const Material whiteLambertian;
    const Material& m = material ? *material : whiteLambertian;
    shading::Surface s;
    if (m.lightingModelName == LightingModel::physicallyBased) {
        s.model = shading::SurfaceModel::physicallyBased;
    } else if (m.lightingModelName == LightingModel::constant) {
        s.model = shading::SurfaceModel::constant;
    } else {
        s.model = shading::SurfaceModel::lambert;
    }
    if (const Color* c = std::get_if<Color>(&m.diffuse)) {
        s.baseColor = linearColor(*c);
    } else if (const double* v = std::get_if<double>(&m.diffuse)) {
        float grey = srgbToLinear(std::isfinite(*v) ? static_cast<float>(*v) : 1.0f);
        s.baseColor = {grey, grey, grey};
    }  // a texture or nothing: white until textures are sampled
    if (!finite3(s.baseColor)) s.baseColor = {1, 1, 1};
    s.metalness = scalarContents(m.metalness, 0);
    s.roughness = scalarContents(m.roughness, 0.5f);
    return s;
}

TextureBinding bindingOf(const TextureSlot& slot, bool srgb) {
    TextureBinding binding;
    const Texture* texture = slot.texture.get();
    if (!texture || !texture->found || texture->levels.empty()) return binding;
    for (const RGBAImage& level : texture->levels)
        if (level.width < 1 || level.height < 1 ||
            level.pixels.size() != size_t(level.width) * level.height * 4)
            return binding;
    binding.levels = &texture->levels;
    binding.wrapS = slot.wrapS;
    binding.wrapT = slot.wrapT;
    binding.nearestMagnification = slot.nearestMagnification;
    binding.srgb = srgb;
    // uv' = offset + rotate(rotation) * (scale * uv). With v running down the image, a
    // positive rotation turns the coordinates clockwise as seen on the image, so that the
    // image itself appears turned counter-clockwise (as the reference test model's markers
    // expect).
    const double c = std::cos(slot.rotation), s = std::sin(slot.rotation);
    const double m[2][3] = {{c * slot.scale[0], s * slot.scale[1], slot.offset[0]},
                            {-s * slot.scale[0], c * slot.scale[1], slot.offset[1]}};
    for (int r = 0; r < 2; ++r) {
        for (int k = 0; k < 3; ++k) {
            const float v = static_cast<float>(m[r][k]);
            binding.transform[r][k] = std::isfinite(v) ? v : (r == k ? 1.0f : 0.0f);
        }
    }
    return binding;
}

DrawMaterial drawMaterialOf(const Material* material) {
    DrawMaterial out;
    if (!material) return out;
    const Material& m = *material;
    if (const Color* c = std::get_if<Color>(&m.diffuse); c && std::isfinite(c->alpha))
        out.baseAlpha = shading::clamp01(static_cast<float>(c->alpha));
    const float intensity = static_cast<float>(m.emissionIntensity);
    Float3 emission =
        linearColor(m.emission) * (std::isfinite(intensity) ? std::max(intensity, 0.0f) : 0.0f);
    if (finite3(emission)) out.emission = emission;
    out.alphaMode = m.alphaMode;
    out.alphaCutoff = std::isfinite(m.alphaCutoff) ? static_cast<float>(m.alphaCutoff) : 0.5f;
    out.baseColor = bindingOf(m.diffuseTexture, true);
    out.metalnessRoughness = bindingOf(m.metalnessRoughnessTexture, false);
    out.emissionTexture = bindingOf(m.emissionTexture, true);
    return out;
}

bool toAffineMap(const Mat4& t, AffineMap& out) {
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 3; ++j) {
            out.m[i][j] = static_cast<float>(t.m[i][j]);
            if (!std::isfinite(out.m[i][j])) return false;
        }
    }
    return true;
}

double determinant3(const Mat4& t) {
    const double(*m)[4] = t.m;
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

TripleStream stream(const GeometrySource& source) {
    std::int64_t count = source.usableVectorCount();  // 0 also without a buffer
    if (count <= 0) return {};
    return {source.data->data() + source.dataOffset, source.dataStride, count};
}

class Planner {
public:
    Planner(FramePlan& plan, bool showBackFaces) : plan_(plan), showBackFaces_(showBackFaces) {}

    void addGeometry(const Geometry& geometry, const Mat4& world) {
        const GeometrySource* positionSource = geometry.source(GeometrySemantic::vertex);
        if (!positionSource || !positionSource->hasFloat3Layout()) return;
        TripleStream positions = stream(*positionSource);
        if (positions.count == 0) return;
        // Any vertex near the model serves as the origin for precision; the first one costs
        // nothing to find.
        Float3 origin = positions[0];
        if (!finite3(origin)) origin = {};
        Mat4 modelView = world * plan_.camera.view;
        if (!isFinite(modelView)) return;
        // Taking positions relative to `origin` moves the translation to where it is
        // applied in double here, not per vertex in float.
        Mat4 toView = modelView;
        Vec3 shifted = transformPoint(modelView, Vec3{origin.x, origin.y, origin.z});
        toView.m[3][0] = shifted.x, toView.m[3][1] = shifted.y, toView.m[3][2] = shifted.z;
        const FrameCamera& cam = plan_.camera;
        Mat4 toClip = Mat4::identity();
        for (int r = 0; r < 4; ++r) {
            const double* v = toView.m[r];
            if (cam.orthographic) {
                // Raster position directly, and the distance along the view axis.
                toClip.m[r][0] = cam.focalX * v[0] + (r == 3 ? cam.centerX : 0);
                toClip.m[r][1] = -cam.focalY * v[1] + (r == 3 ? cam.centerY : 0);
            } else {
                toClip.m[r][0] = cam.focalX * v[0] - cam.centerX * v[2];
                toClip.m[r][1] = -cam.focalY * v[1] - cam.centerY * v[2];
            }
            toClip.m[r][2] = -v[2];
        }
        Mat4 inverse = affineInverse(modelView);
        Mat4 normalMatrix = Mat4::identity();
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                normalMatrix.m[i][j] = inverse.m[j][i];
        }
        DrawCall draw;
        if (!toAffineMap(toView, draw.toView) || !toAffineMap(toClip, draw.toClip)) return;
        if (!toAffineMap(normalMatrix, draw.normalToView)) draw.normalToView = {};
        draw.positions = positions;
        draw.origin = origin;
        draw.mirrored = determinant3(modelView) < 0;
        if (const GeometrySource* n = geometry.source(GeometrySemantic::normal);
            n && n->hasFloat3Layout()) {
            draw.normals = stream(*n);
        }
        if (const GeometrySource* c = geometry.source(GeometrySemantic::color);
            c && c->hasFloat3Layout()) {
            draw.colors = stream(*c);
            draw.colorAlpha = c->componentsPerVector >= 4 && c->dataStride >= 16;
        }
        if (const GeometrySource* t = geometry.source(GeometrySemantic::texcoord);
            t && t->floatComponents && t->bytesPerComponent == 4 && t->componentsPerVector >= 2) {
            const std::int64_t count = t->usableVectorCount();
            if (count > 0) draw.texcoords = {t->data->data() + t->dataOffset, t->dataStride, count};
        }
        for (size_t e = 0; e < geometry.elements.size(); ++e) {
            const GeometryElement& element = geometry.elements[e];
            const bool points = element.primitiveType == PrimitiveType::point;
            std::int64_t primitives =
                points ? element.usablePointCount() : element.usableTriangleCount();
            if (primitives <= 0) continue;
            std::int64_t room = static_cast<std::int64_t>(noTriangle) - nextId_;
            if (room <= 0) return;
            const Material* material =
                geometry.materials.empty()
                    ? nullptr
                    : geometry.materials[e % geometry.materials.size()].get();
            draw.indices = element.data->data();
            draw.bytesPerIndex = static_cast<int>(element.bytesPerIndex);
            draw.points = points;
            draw.primitiveCount = std::min(primitives, room);
            draw.firstId = static_cast<std::uint32_t>(nextId_);
            draw.surface = surfaceOf(material);
            draw.material = drawMaterialOf(material);
            draw.cullBackFaces = !showBackFaces_ && !(material && material->isDoubleSided);
            nextId_ += draw.primitiveCount;
            plan_.draws.push_back(draw);
        }
    }

    void addLight(const Light& light, const Mat4& world) {
        Float3 radiance = linearColor(light.color) *
                          static_cast<float>(light.intensity / shading::lightIntensityUnit);
        if (!finite3(radiance)) return;
        const Mat4& view = plan_.camera.view;
        // A light shines along its node's -Z axis.
        Vec3 back{world.m[2][0], world.m[2][1], world.m[2][2]};
        switch (light.type) {
            case LightType::ambient:
                plan_.lights.ambient = plan_.lights.ambient + radiance;
                break;
            case LightType::directional: {
                Float3 toward = shading::normalize(toFloat3(transformDirection(view, back)));
                if (dot(toward, toward) > 0) plan_.lights.directional.push_back({toward, radiance});
                break;
            }
            case LightType::omni:
            case LightType::spot: {
                PointLight point;
                point.position =
                    toFloat3(transformPoint(view, {world.m[3][0], world.m[3][1], world.m[3][2]}));
                point.radiance = radiance;
                point.isSpot = light.type == LightType::spot;
                point.spotDirection = shading::normalize(-toFloat3(transformDirection(view, back)));
                if (finite3(point.position)) plan_.lights.points.push_back(point);
                break;
            }
        }
    }

private:
    FramePlan& plan_;
    bool showBackFaces_;
    std::int64_t nextId_ = 0;
};

bool setUpCamera(const Node& pointOfView, int width, int height, FrameCamera& cam) {
    static const Camera defaultCamera;
    const Camera& camera = pointOfView.camera ? *pointOfView.camera : defaultCamera;
    Mat4 world = pointOfView.worldTransform();
    if (!isFinite(world)) return false;
    cam.view = affineInverse(world);
    if (!isFinite(cam.view)) return false;
    cam.width = width;
    cam.height = height;
    if (camera.usesOrthographicProjection) {
        // orthographicScale is half the image's height in scene units.
        const double scale = camera.orthographicScale;
        if (!(scale > 0 && std::isfinite(scale))) return false;
        cam.orthographic = true;
        cam.focalY = height * 0.5 / scale;
    } else {
        double fov = camera.fieldOfView;
        if (!(fov > 0 && fov < 180)) return false;
        cam.focalY = height * 0.5 / std::tan(fov * std::numbers::pi / 360);
    }
    cam.focalX = cam.focalY;
    cam.centerX = width * 0.5;
    cam.centerY = height * 0.5;
    cam.zNear = camera.zNear;
    cam.zFar = camera.zFar;
    if (!(cam.zNear > 0 && cam.zFar > cam.zNear && std::isfinite(cam.zFar))) {
        cam.zNear = 1;
        cam.zFar = 100;
    }
    return true;
}

// The automatic depth range: nothing in front of the camera is clipped and nothing behind
// it cut off. The near plane only has to keep the projection finite; a millionth of the
// distance to the model does that without reading the model first, and depth as 1 / W keeps
// full precision whatever the range.
void fitDepthRange(FramePlan& plan) {
    double distance = 0;
    for (const DrawCall& draw : plan.draws) {
        const float* t = draw.toView.m[3];  // where the draw's origin is seen
        distance = std::max(
            distance, std::sqrt(double(t[0]) * t[0] + double(t[1]) * t[1] + double(t[2]) * t[2]));
    }
    plan.camera.zNear = distance > 0 ? distance * 1e-6 : 1e-6;
    plan.camera.zFar = std::numeric_limits<double>::infinity();
}

}  // namespace

FramePlan planFrame(const Scene& scene, const Node& pointOfView, int width, int height,
                    const RenderOptions& options) {
    FramePlan plan;
    if (const Color* bg = std::get_if<Color>(&scene.background)) {
        float alpha = shading::clamp01(static_cast<float>(bg->alpha));
        Float3 c = linearColor(*bg);
        if (!std::isfinite(bg->alpha) || !finite3(c)) alpha = 0, c = {};
        plan.background[0] = c.x * alpha;
        plan.background[1] = c.y * alpha;
        plan.background[2] = c.z * alpha;
        plan.background[3] = alpha;
    }
    plan.cameraCanSee = setUpCamera(pointOfView, width, height, plan.camera);
    if (!plan.cameraCanSee) return plan;
    // Points about two pixels across at 256 pixels, growing with the image.
    plan.pointRadius = static_cast<float>(std::max(0.5, std::min(width, height) / 256.0));

    // Depth first, parents before children, children in order; an explicit stack so that
    // a deep tree cannot exhaust the call stack.
    struct Pending {
        const Node* node;
        Mat4 parentWorld;
        int depth;
    };
    Planner planner(plan, options.showBackFaces);
    std::vector<Pending> stack{{scene.rootNode.get(), Mat4::identity(), 0}};
    while (!stack.empty()) {
        Pending item = stack.back();
        stack.pop_back();
        if (!item.node || item.depth > maxSceneDepth) continue;
        Mat4 world = item.node->transform() * item.parentWorld;
        if (!isFinite(world)) continue;
        if (item.node->geometry) planner.addGeometry(*item.node->geometry, world);
        if (item.node->light) planner.addLight(*item.node->light, world);
        const auto& children = item.node->childNodes();
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            stack.push_back({it->get(), world, item.depth + 1});
        }
    }
    const Camera* camera = pointOfView.camera.get();
    if (camera && camera->automaticallyAdjustsZRange) fitDepthRange(plan);
    return plan;
}

}  // namespace kelvo::render
