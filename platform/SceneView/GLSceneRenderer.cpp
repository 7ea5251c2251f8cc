#include "platform/SceneView/GLSceneRenderer.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/SceneView/GLShaders.h"
#include "platform/SceneView/MeshPreparation.h"

namespace kelvo {

struct GLSceneRenderer::Range {
    std::int64_t first = 0;  // in indices, or in vertices when sequential
    std::int64_t count = 0;  // indices or vertices, three per triangle or one per point
    bool sequential = false;
    bool points = false;
    SurfaceMaterial material;
    // Texture and sampler names of the material's slots, 0 where it has none.
    unsigned textures[3] = {0, 0, 0};
    unsigned samplers[3] = {0, 0, 0};
};

struct GLSceneRenderer::GPUGeometry {
    unsigned vertexArray = 0;
    unsigned indexBuffer = 0;
    std::vector<Range> ranges;
    BoundingBox bounds;
};

namespace {

const TextureSlot& slotOf(const SurfaceMaterial& m, int i) {
    return i == 0 ? m.baseColorTexture : i == 1 ? m.metalnessRoughnessTexture : m.emissionTexture;
}

GLint glWrap(TextureWrap wrap) {
    switch (wrap) {
        case TextureWrap::clampToEdge:
            return GL_CLAMP_TO_EDGE;
        case TextureWrap::mirroredRepeat:
            return GL_MIRRORED_REPEAT;
        case TextureWrap::repeat:
            return GL_REPEAT;
    }
    return GL_REPEAT;
}

}  // namespace

struct GLSceneRenderer::DrawItem {
    const GPUGeometry* geometry = nullptr;
    float model[16];
    float normalMatrix[9];
    bool mirrored = false;  // the world transform turns the handedness around
};

namespace {

unsigned compile(GLenum type, const char* source, std::string& error) {
    unsigned shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        error = std::string("the shader does not compile: ") + log;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

void toFloats(const Mat4& m, float out[16]) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c)
            out[r * 4 + c] = static_cast<float>(m.m[r][c]);
    }
}

}  // namespace

GLSceneRenderer::GLSceneRenderer() = default;
GLSceneRenderer::~GLSceneRenderer() = default;

std::string GLSceneRenderer::initialize() {
    std::string error;
    unsigned vertex = compile(GL_VERTEX_SHADER, sceneVertexShaderSource, error);
    if (!vertex) return error;
    unsigned fragment = compile(GL_FRAGMENT_SHADER, sceneFragmentShaderSource, error);
    if (!fragment) {
        glDeleteShader(vertex);
        return error;
    }
    program_ = glCreateProgram();
    glAttachShader(program_, vertex);
    glAttachShader(program_, fragment);
    glLinkProgram(program_);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint ok = 0;
    glGetProgramiv(program_, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetProgramInfoLog(program_, sizeof log, nullptr, log);
        glDeleteProgram(program_);
        program_ = 0;
        return std::string("the shader program does not link: ") + log;
    }
    for (const char* name : {"uModel",
                             "uNormalMatrix",
                             "uViewProjection",
                             "uBaseColor",
                             "uMetalness",
                             "uRoughness",
                             "uKind",
                             "uEye",
                             "uLightCount",
                             "uLightKind",
                             "uLightVector",
                             "uLightSpotDirection",
                             "uLightRadiance",
                             "uAmbient",
                             "uBaseAlpha",
                             "uEmission",
                             "uAlphaMode",
                             "uAlphaCutoff",
                             "uPoint",
                             "uPointSize",
                             "uHasBaseTexture",
                             "uHasMetalRoughTexture",
                             "uHasEmissionTexture",
                             "uBaseTexture",
                             "uMetalRoughTexture",
                             "uEmissionTexture",
                             "uBaseTransform",
                             "uMetalRoughTransform",
                             "uEmissionTransform"}) {
        uniforms_[name] = glGetUniformLocation(program_, name);
    }
    glUseProgram(program_);
    glUniform1i(uniforms_["uBaseTexture"], baseColorTextureUnit);
    glUniform1i(uniforms_["uMetalRoughTexture"], metalnessRoughnessTextureUnit);
    glUniform1i(uniforms_["uEmissionTexture"], emissionTextureUnit);
    glUseProgram(0);
    return {};
}

unsigned GLSceneRenderer::bufferFor(const std::shared_ptr<const ByteBuffer>& buffer) {
    auto found = buffers_.find(buffer.get());
    if (found != buffers_.end()) return found->second;
    unsigned name = 0;
    glGenBuffers(1, &name);
    glBindBuffer(GL_ARRAY_BUFFER, name);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(buffer->size()), buffer->data(),
                 GL_STATIC_DRAW);
    buffers_[buffer.get()] = name;
    return name;
}

unsigned GLSceneRenderer::textureFor(const Texture& texture, bool srgb) {
    auto found = textures_.find({&texture, srgb});
    if (found != textures_.end()) return found->second;
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    // Levels larger than the GPU takes are left out; the chain starts at the first that fits.
    size_t first = 0;
    while (first + 1 < texture.levels.size() &&
           std::max(texture.levels[first].width, texture.levels[first].height) > maxSize) {
        ++first;
    }
    unsigned name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Rows top first: GL's t = 0 row is the image's top, so UV v maps to t unchanged.
    for (size_t i = first; i < texture.levels.size(); ++i) {
        const RGBAImage& level = texture.levels[i];
        glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(i - first),
                     srgb ? GL_SRGB8_ALPHA8 : GL_RGBA8, level.width, level.height, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, level.pixels.data());
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL,
                    static_cast<GLint>(texture.levels.size() - first - 1));
    glBindTexture(GL_TEXTURE_2D, 0);
    textures_[{&texture, srgb}] = name;
    return name;
}

// Samplers by wrap modes and magnification: trilinear minification, so that zooming does
// not make mip levels pop (the CPU renderer, drawing one still, takes the nearest level).
unsigned GLSceneRenderer::samplerFor(const TextureSlot& slot) {
    auto key = std::make_tuple(slot.wrapS, slot.wrapT, slot.nearestMagnification);
    auto found = samplers_.find(key);
    if (found != samplers_.end()) return found->second;
    unsigned name = 0;
    glGenSamplers(1, &name);
    glSamplerParameteri(name, GL_TEXTURE_WRAP_S, glWrap(slot.wrapS));
    glSamplerParameteri(name, GL_TEXTURE_WRAP_T, glWrap(slot.wrapT));
    glSamplerParameteri(name, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glSamplerParameteri(name, GL_TEXTURE_MAG_FILTER,
                        slot.nearestMagnification ? GL_NEAREST : GL_LINEAR);
    samplers_[key] = name;
    return name;
}

GLSceneRenderer::GPUGeometry* GLSceneRenderer::upload(const Geometry& geometry) {
    auto found = geometries_.find(&geometry);
    if (found != geometries_.end()) return found->second.get();

    PreparedGeometry prepared = prepareGeometry(geometry);
    auto gpu = std::make_unique<GPUGeometry>();
    gpu->bounds = prepared.bounds;
    skipped_ += prepared.skippedTriangles();
    std::int64_t indexCount = 0;
    for (const auto& e : prepared.elements)
        indexCount += static_cast<std::int64_t>(e.indices.size());
    if (prepared.triangleCount() + prepared.pointCount() > 0) {
        glGenVertexArrays(1, &gpu->vertexArray);
        glBindVertexArray(gpu->vertexArray);
        auto bind = [&](unsigned location, const VertexAttribute& attribute) {
            glBindBuffer(GL_ARRAY_BUFFER, bufferFor(attribute.buffer));
            glVertexAttribPointer(
                location, attribute.components, GL_FLOAT, GL_FALSE,
                static_cast<GLsizei>(attribute.stride),
                reinterpret_cast<const void*>(static_cast<std::intptr_t>(attribute.offset)));
            glEnableVertexAttribArray(location);
        };
        bind(positionAttribute, prepared.position);
        if (prepared.normal.present()) bind(normalAttribute, prepared.normal);
        if (prepared.color.present()) bind(colorAttribute, prepared.color);
        if (prepared.texcoord.present()) bind(texcoordAttribute, prepared.texcoord);

        if (indexCount > 0) {
            glGenBuffers(1, &gpu->indexBuffer);
            glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gpu->indexBuffer);
            glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indexCount * 4), nullptr,
                         GL_STATIC_DRAW);
        }
        std::int64_t first = 0;
        for (const auto& e : prepared.elements) {
            if (e.triangleCount == 0) continue;
            const Material* material =
                e.materialIndex >= 0
                    ? geometry.materials[static_cast<size_t>(e.materialIndex)].get()
                    : nullptr;
            Range range;
            range.points = e.points;
            range.material = surfaceMaterial(material);
            for (int i = 0; i < 3; ++i) {
                const TextureSlot& slot = slotOf(range.material, i);
                if (!slot) continue;
                range.textures[i] = textureFor(*slot.texture, i != 1);  // 1: data, linear
                range.samplers[i] = samplerFor(slot);
            }
            if (e.sequential) {
                range.count = e.triangleCount * 3;
                range.sequential = true;
            } else {
                glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLintptr>(first * 4),
                                static_cast<GLsizeiptr>(e.indices.size() * 4), e.indices.data());
                range.first = first;
                range.count = static_cast<std::int64_t>(e.indices.size());
                first += range.count;
            }
            gpu->ranges.push_back(std::move(range));
        }
        glBindVertexArray(0);
    }
    GPUGeometry* result = gpu.get();
    geometries_[&geometry] = std::move(gpu);
    return result;
}

void GLSceneRenderer::addNode(const Node& node, const Mat4& world) {
    if (node.geometry && isFinite(world)) {
        GPUGeometry* gpu = upload(*node.geometry);
        if (!gpu->ranges.empty()) {
            DrawItem item;
            item.geometry = gpu;
            toFloats(world, item.model);
            double determinant =
                world.m[0][0] * (world.m[1][1] * world.m[2][2] - world.m[1][2] * world.m[2][1]) -
                world.m[0][1] * (world.m[1][0] * world.m[2][2] - world.m[1][2] * world.m[2][0]) +
                world.m[0][2] * (world.m[1][0] * world.m[2][1] - world.m[1][1] * world.m[2][0]);
            item.mirrored = determinant < 0;
            // Normals go through the inverse transpose of the linear part, so non-uniform
            // scale keeps them perpendicular to their surface.
            Mat4 inverse = affineInverse(world);
            if (!isFinite(inverse)) inverse = Mat4::identity();
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c)
                    item.normalMatrix[r * 3 + c] = static_cast<float>(inverse.m[c][r]);
            }
            items_.push_back(item);
            for (const auto& range : gpu->ranges)
                (range.points ? points_ : triangles_) +=
                    range.points ? range.count : range.count / 3;
            if (!gpu->bounds.isEmpty()) {
                for (int corner = 0; corner < 8; ++corner) {
                    const BoundingBox& b = gpu->bounds;
                    worldBounds_.add(transformPoint(
                        world, {corner & 1 ? b.max.x : b.min.x, corner & 2 ? b.max.y : b.min.y,
                                corner & 4 ? b.max.z : b.min.z}));
                }
            }
        }
    }
    for (const auto& child : node.childNodes())
        addNode(*child, child->transform() * world);
}

void GLSceneRenderer::setScene(const std::shared_ptr<Scene>& scene) {
    for (auto& [geometry, gpu] : geometries_) {
        glDeleteVertexArrays(1, &gpu->vertexArray);
        glDeleteBuffers(1, &gpu->indexBuffer);
    }
    for (auto& [buffer, name] : buffers_)
        glDeleteBuffers(1, &name);
    for (auto& [texture, name] : textures_)
        glDeleteTextures(1, &name);
    for (auto& [key, name] : samplers_)
        glDeleteSamplers(1, &name);
    geometries_.clear();
    buffers_.clear();
    textures_.clear();
    samplers_.clear();
    items_.clear();
    worldBounds_ = {};
    lighting_ = {};
    triangles_ = points_ = skipped_ = 0;
    scene_ = scene;
    if (!scene) return;
    addNode(*scene->rootNode, scene->rootNode->transform());
    lighting_ = collectLights(*scene);
}

void GLSceneRenderer::ensureFramebuffer(int width, int height, int samples) {
    if (framebuffer_ && width == framebufferWidth_ && height == framebufferHeight_ &&
        samples == framebufferSamples_) {
        return;
    }
    if (!framebuffer_) {
        glGenFramebuffers(1, &framebuffer_);
        glGenRenderbuffers(1, &colorBuffer_);
        glGenRenderbuffers(1, &depthBuffer_);
    }
    glBindRenderbuffer(GL_RENDERBUFFER, colorBuffer_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH_COMPONENT24, width, height);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer_);
    framebufferWidth_ = width;
    framebufferHeight_ = height;
    framebufferSamples_ = samples;
}

void GLSceneRenderer::bindItem(const DrawItem& item) {
    glBindVertexArray(item.geometry->vertexArray);
    glUniformMatrix4fv(uniforms_["uModel"], 1, GL_FALSE, item.model);
    glUniformMatrix3fv(uniforms_["uNormalMatrix"], 1, GL_FALSE, item.normalMatrix);
    // Attributes the geometry lacks read these constants instead.
    glVertexAttrib3f(normalAttribute, 0, 0, 0);
    glVertexAttrib4f(colorAttribute, 1, 1, 1, 1);
    glVertexAttrib2f(texcoordAttribute, 0, 0);
    // A mirroring placement turns counter-clockwise into clockwise on screen; its outside
    // stays its outside.
    glFrontFace(item.mirrored ? GL_CW : GL_CCW);
}

void GLSceneRenderer::drawRange(const Range& range) {
    const SurfaceMaterial& m = range.material;
    if (m.doubleSided || range.points) {
        glDisable(GL_CULL_FACE);
    } else {
        glEnable(GL_CULL_FACE);
    }
    glUniform3f(uniforms_["uBaseColor"], m.baseColor[0], m.baseColor[1], m.baseColor[2]);
    glUniform1f(uniforms_["uBaseAlpha"], m.baseAlpha);
    glUniform1f(uniforms_["uMetalness"], m.metalness);
    glUniform1f(uniforms_["uRoughness"], m.roughness);
    glUniform1i(uniforms_["uKind"], static_cast<int>(m.kind));
    glUniform3f(uniforms_["uEmission"], m.emission[0], m.emission[1], m.emission[2]);
    // Points are always opaque, as on the CPU.
    glUniform1i(uniforms_["uAlphaMode"], range.points ? 0 : static_cast<int>(m.alphaMode));
    glUniform1f(uniforms_["uAlphaCutoff"], m.alphaCutoff);
    glUniform1i(uniforms_["uPoint"], range.points);
    const char* has[3] = {"uHasBaseTexture", "uHasMetalRoughTexture", "uHasEmissionTexture"};
    const char* transforms[3] = {"uBaseTransform", "uMetalRoughTransform", "uEmissionTransform"};
    for (int i = 0; i < 3; ++i) {
        glUniform1i(uniforms_[has[i]], range.textures[i] != 0);
        if (!range.textures[i]) continue;
        glActiveTexture(GL_TEXTURE0 + i);
        glBindTexture(GL_TEXTURE_2D, range.textures[i]);
        glBindSampler(static_cast<unsigned>(i), range.samplers[i]);
        // uv' = offset + rotate(rotation) * (scale * uv), as rows of a 2 x 3 matrix; the
        // same matrix as the CPU renderer's (FramePlan.cpp).
        const TextureSlot& slot = slotOf(m, i);
        const double c = std::cos(slot.rotation), s = std::sin(slot.rotation);
        const float rows[6] = {float(c * slot.scale[0]), float(s * slot.scale[1]),
                               float(slot.offset[0]),    float(-s * slot.scale[0]),
                               float(c * slot.scale[1]), float(slot.offset[1])};
        glUniform3fv(uniforms_[transforms[i]], 2, rows);
    }
    const GLenum mode = range.points ? GL_POINTS : GL_TRIANGLES;
    // GL counts in a signed int; a bigger range goes in pieces of whole primitives.
    constexpr std::int64_t piece = (INT_MAX / 3) * 3;
    for (std::int64_t done = 0; done < range.count; done += piece) {
        std::int64_t count = std::min(piece, range.count - done);
        if (range.sequential) {
            glDrawArrays(mode, static_cast<GLint>(range.first + done), static_cast<GLsizei>(count));
        } else {
            glDrawElements(mode, static_cast<GLsizei>(count), GL_UNSIGNED_INT,
                           reinterpret_cast<const void*>(
                               static_cast<std::intptr_t>((range.first + done) * 4)));
        }
    }
}

void GLSceneRenderer::render(const FrameSettings& settings) {
    if (!program_ || settings.width <= 0 || settings.height <= 0) return;
    GLint maxSamples = 0;
    glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
    int samples =
        std::clamp(settings.samples <= 1 ? 0 : settings.samples, 0, static_cast<int>(maxSamples));
    ensureFramebuffer(settings.width, settings.height, samples);

    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, settings.width, settings.height);
    const auto& bg = settings.background;
    // Premultiplied, like everything the program writes.
    glClearColor(bg[0] * bg[3], bg[1] * bg[3], bg[2] * bg[3], bg[3]);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);
    glUseProgram(program_);

    float viewProjection[16];
    toFloats(settings.worldToCamera * settings.projection, viewProjection);
    glUniformMatrix4fv(uniforms_["uViewProjection"], 1, GL_FALSE, viewProjection);
    glUniform3f(uniforms_["uEye"], static_cast<float>(settings.eye.x),
                static_cast<float>(settings.eye.y), static_cast<float>(settings.eye.z));
    const SceneLighting& lighting = settings.lighting ? *settings.lighting : lighting_;
    int count = static_cast<int>(std::min<size_t>(lighting.lights.size(), maxLights));
    int kinds[maxLights] = {};
    float vectors[maxLights * 3] = {}, spots[maxLights * 3] = {}, radiances[maxLights * 3] = {};
    for (int i = 0; i < count; ++i) {
        const SceneLight& light = lighting.lights[static_cast<size_t>(i)];
        kinds[i] = static_cast<int>(light.kind);
        vectors[i * 3] = static_cast<float>(light.vector.x);
        vectors[i * 3 + 1] = static_cast<float>(light.vector.y);
        vectors[i * 3 + 2] = static_cast<float>(light.vector.z);
        spots[i * 3] = static_cast<float>(light.spotDirection.x);
        spots[i * 3 + 1] = static_cast<float>(light.spotDirection.y);
        spots[i * 3 + 2] = static_cast<float>(light.spotDirection.z);
        for (int k = 0; k < 3; ++k)
            radiances[i * 3 + k] = light.radiance[static_cast<size_t>(k)];
    }
    glUniform1i(uniforms_["uLightCount"], count);
    glUniform1iv(uniforms_["uLightKind"], maxLights, kinds);
    glUniform3fv(uniforms_["uLightVector"], maxLights, vectors);
    glUniform3fv(uniforms_["uLightSpotDirection"], maxLights, spots);
    glUniform3fv(uniforms_["uLightRadiance"], maxLights, radiances);
    glUniform3f(uniforms_["uAmbient"], lighting.ambient[0], lighting.ambient[1],
                lighting.ambient[2]);

    // Points about two pixels across at 256 pixels, as on the CPU.
    glEnable(GL_PROGRAM_POINT_SIZE);
    glUniform1f(
        uniforms_["uPointSize"],
        static_cast<float>(std::max(1.0, std::min(settings.width, settings.height) / 128.0)));

    glDisable(GL_BLEND);
    struct Blended {
        double distance;
        const DrawItem* item;
        const Range* range;
    };
    std::vector<Blended> blended;
    for (const auto& item : items_) {
        bindItem(item);
        for (const Range& range : item.geometry->ranges) {
            if (range.material.alphaMode != AlphaMode::blend || range.points) {
                drawRange(range);
                continue;
            }
            const BoundingBox& b = item.geometry->bounds;
            Vec3 centre = (b.min + b.max) * 0.5;
            Vec3 world{item.model[0] * centre.x + item.model[4] * centre.y +
                           item.model[8] * centre.z + item.model[12],
                       item.model[1] * centre.x + item.model[5] * centre.y +
                           item.model[9] * centre.z + item.model[13],
                       item.model[2] * centre.x + item.model[6] * centre.y +
                           item.model[10] * centre.z + item.model[14]};
            blended.push_back({length(world - settings.eye), &item, &range});
        }
    }
    if (!blended.empty()) {
        // Farthest first, tested against the depth of what is drawn, not hiding each other.
        std::stable_sort(blended.begin(), blended.end(), [](const Blended& a, const Blended& b) {
            return a.distance > b.distance;
        });
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        glDepthMask(GL_FALSE);
        const DrawItem* bound = nullptr;
        for (const Blended& entry : blended) {
            if (entry.item != bound) bindItem(*entry.item);
            bound = entry.item;
            drawRange(*entry.range);
        }
        glDepthMask(GL_TRUE);
        glDisable(GL_BLEND);
    }
    for (int i = 0; i < 3; ++i)
        glBindSampler(static_cast<unsigned>(i), 0);
    glActiveTexture(GL_TEXTURE0);
    glBindVertexArray(0);
    glUseProgram(0);

    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, settings.targetFramebuffer);
    glBlitFramebuffer(0, 0, settings.width, settings.height, 0, 0, settings.width, settings.height,
                      GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, settings.targetFramebuffer);
}

void GLSceneRenderer::release() {
    setScene(nullptr);
    if (program_) glDeleteProgram(program_);
    program_ = 0;
    uniforms_.clear();
    if (framebuffer_) {
        glDeleteFramebuffers(1, &framebuffer_);
        glDeleteRenderbuffers(1, &colorBuffer_);
        glDeleteRenderbuffers(1, &depthBuffer_);
    }
    framebuffer_ = colorBuffer_ = depthBuffer_ = 0;
    framebufferWidth_ = framebufferHeight_ = 0;
    framebufferSamples_ = -1;
}

RGBAImage readFramebuffer(unsigned framebuffer, int width, int height) {
    RGBAImage image(width, height);
    std::vector<std::uint8_t> rows(static_cast<size_t>(width) * height * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    // GL's rows run bottom to top; the image's top to bottom.
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = rows.data() + static_cast<size_t>(height - 1 - y) * width * 4;
        std::uint8_t* out = image.pixel(0, y);
        for (int x = 0; x < width; ++x, in += 4, out += 4) {
            int a = in[3];
            for (int k = 0; k < 3; ++k) {
                out[k] = a == 0
                             ? 0
                             : static_cast<std::uint8_t>(std::min(255, (in[k] * 255 + a / 2) / a));
            }
            out[3] = static_cast<std::uint8_t>(a);
        }
    }
    return image;
}

}  // namespace kelvo
