// The OpenGL 3.3 core renderer of the interactive view: draws a scene graph with the shading
// model of ShadingModel.h into any framebuffer, through a multisampled framebuffer of its
// own.
//
// Geometry is checked (MeshPreparation.h) and uploaded once, when the scene is set: a buffer
// shared by several geometries, or a geometry shared by several nodes, is uploaded once, and
// so is a texture (with its decoded mip levels; sRGB for colour, as stored for data) however
// many materials use it. Opaque and masked surfaces are drawn first, then blended ones with
// depth test but no depth writes, farthest first by the centre of each node's geometry.
// Points are round, about two pixels across at 256 pixels, growing with the view.
// Orbiting afterwards only changes a few uniforms, so a frame costs the GPU's drawing alone.
// The scene graph is read when the scene is set and not watched afterwards: a scene that
// changes must be set again.
//
// Every call needs the same OpenGL 3.3 core context current on the calling thread, except
// the constructor and destructor, which touch no GL: call release() while the context is
// still current to free the GPU's memory.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Imaging/RGBAImage.h"
#include "platform/SceneKit/Node.h"
#include "platform/SceneView/ShadingModel.h"

namespace kelvo {

struct FrameSettings {
    int width = 0;  // of the target, in device pixels
    int height = 0;
    int samples = 4;  // per pixel; 0 or 1 for none; capped at what the GPU offers
    Mat4 worldToCamera = Mat4::identity();
    Mat4 projection = Mat4::identity();
    Vec3 eye;                                     // the camera's world position
    std::array<float, 4> background{0, 0, 0, 0};  // straight alpha, sRGB-encoded
    unsigned targetFramebuffer = 0;               // where the finished frame goes
    const SceneLighting* lighting = nullptr;      // instead of the scene's own lights, when set
};

class GLSceneRenderer {
public:
    GLSceneRenderer();
    ~GLSceneRenderer();
    GLSceneRenderer(const GLSceneRenderer&) = delete;
    GLSceneRenderer& operator=(const GLSceneRenderer&) = delete;

    // Compiles the program. Returns an empty string on success, or what went wrong.
    std::string initialize();

    // Replaces the drawn scene (null: nothing). Walks the tree, checks every geometry and
    // uploads it; lights and world placements are taken as they are now.
    void setScene(const std::shared_ptr<Scene>& scene);

    // The box of everything that will be drawn, in world space; empty for no geometry.
    const BoundingBox& worldBounds() const { return worldBounds_; }
    const SceneLighting& sceneLighting() const { return lighting_; }
    // Triangles and points drawn per frame, and those left out for a bad index or vertex.
    std::int64_t triangleCount() const { return triangles_; }
    std::int64_t pointCount() const { return points_; }
    // Distinct textures uploaded (one texture used as colour and as data counts twice).
    size_t textureCount() const { return textures_.size(); }
    std::int64_t skippedTriangleCount() const { return skipped_; }

    // Draws one frame and copies it, resolved, into settings.targetFramebuffer.
    void render(const FrameSettings& settings);

    // Frees every GL object. Safe to call more than once; initialize() may follow.
    void release();

private:
    struct GPUGeometry;
    struct DrawItem;

    struct Range;

    unsigned bufferFor(const std::shared_ptr<const ByteBuffer>& buffer);
    unsigned textureFor(const Texture& texture, bool srgb);
    unsigned samplerFor(const TextureSlot& slot);
    GPUGeometry* upload(const Geometry& geometry);
    void addNode(const Node& node, const Mat4& world);
    void ensureFramebuffer(int width, int height, int samples);
    void bindItem(const DrawItem& item);
    void drawRange(const Range& range);

    unsigned program_ = 0;
    std::map<std::string, int> uniforms_;
    std::map<const ByteBuffer*, unsigned> buffers_;
    std::map<std::pair<const Texture*, bool>, unsigned> textures_;
    std::map<std::tuple<TextureWrap, TextureWrap, bool>, unsigned> samplers_;
    std::map<const Geometry*, std::unique_ptr<GPUGeometry>> geometries_;
    std::vector<DrawItem> items_;
    std::shared_ptr<Scene> scene_;  // keeps the uploaded buffers' owners alive
    BoundingBox worldBounds_;
    SceneLighting lighting_;
    std::int64_t triangles_ = 0;
    std::int64_t points_ = 0;
    std::int64_t skipped_ = 0;

    unsigned framebuffer_ = 0;
    unsigned colorBuffer_ = 0;
    unsigned depthBuffer_ = 0;
    int framebufferWidth_ = 0, framebufferHeight_ = 0, framebufferSamples_ = -1;
};

// Reads the `width` x `height` pixels of framebuffer `framebuffer` (premultiplied RGBA, as
// the renderer leaves them) into a straight-alpha image, top row first.
RGBAImage readFramebuffer(unsigned framebuffer, int width, int height);

}  // namespace kelvo
