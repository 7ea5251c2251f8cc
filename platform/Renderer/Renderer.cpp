// One frame: plan, then for each band of rows draw visibility and shade it.
#include "platform/Renderer/Renderer.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/Renderer/Frame.h"
#include "platform/Renderer/ShaderInline.h"

namespace kelvo {

namespace {

// Sample buffers (depth and id, 4 samples) per band; a 1024 x 1024 frame fits in one band,
// larger ones are drawn a band at a time, repeating the vertex work for each.
constexpr size_t bandBudgetBytes = size_t{64} << 20;

void fillBackground(RGBAImage& image, const float background[4]) {
    std::uint8_t pixel[4] = {0, 0, 0, 0};
    if (background[3] > 0) {
        for (int k = 0; k < 3; ++k) {
            float v = shading::linearToSrgb(background[k] / background[3]);
            pixel[k] = static_cast<std::uint8_t>(std::lrint(v * 255));
        }
        pixel[3] = static_cast<std::uint8_t>(std::lrint(background[3] * 255));
    }
    if ((pixel[0] | pixel[1] | pixel[2] | pixel[3]) == 0) return;  // already transparent
    for (size_t i = 0; i < image.pixels.size(); i += 4)
        std::copy(pixel, pixel + 4, &image.pixels[i]);
}

}  // namespace

namespace render {

namespace {

// A small model's bands are cut to about this size, so that they stay in the cache and the
// band buffers' fresh pages are few; each band repeats the vertex work, which is then small.
constexpr size_t smallModelBandBytes = size_t{256} << 10;
// Up to this many primitives a model counts as small.
constexpr std::int64_t smallModelPrimitives = 20000;
// From this many primitives the rows are drawn on two threads, each its half of the image
// with its own band buffers: each thread repeats the vertex work, which the half of the
// triangle and shading work it saves outweighs only on large models. Below, a thread costs
// more than it saves.
constexpr std::int64_t twoThreadPrimitives = 200000;

// Everything one thread needs to draw bands of rows: the band buffers and the per-thread
// state of masked and blended draws.
struct BandWork {
    const FramePlan& plan;
    const std::vector<std::uint32_t>& blendOrder;
    bool blending;
    int bandRows;
    float clearDepth;
    RGBAImage& image;

    void drawRows(int first, int last) const {
        VisibilityBuffer buffer;
        buffer.width = image.width;
        std::vector<RasterVertex> scratch;
        // Alpha tests of masked draws evaluate their surfaces; its cache holds across bands.
        std::optional<Shader> maskShader;
        for (const DrawCall& draw : plan.draws)
            if (draw.masked() && !maskShader) maskShader.emplace(plan);
        SampleColors colors;
        for (int begin = first; begin < last; begin += bandRows) {
            int end = std::min(last, begin + bandRows);
            buffer.reset(bandRows, begin, end, clearDepth);
            for (const DrawCall& draw : plan.draws)
                rasterizeDraw(draw, plan, buffer, scratch, maskShader ? &*maskShader : nullptr);
            if (blending) {
                resolveBlendedBand(plan, blendOrder, buffer, colors, image);
            } else {
                resolveBand(plan, buffer, image);
            }
        }
    }
};

}  // namespace

std::optional<RGBAImage> renderInBands(const Scene& scene, const Node& pointOfView, int width,
                                       int height, size_t bandBudget,
                                       const RenderOptions& options, int threadLimit) {
    if (width < 1 || height < 1 || width > maxRenderSide || height > maxRenderSide) {
        return std::nullopt;
    }
    FramePlan plan = planFrame(scene, pointOfView, width, height, options);
    RGBAImage image(width, height);
    fillBackground(image, plan.background);
    if (!plan.cameraCanSee || plan.draws.empty()) return image;

    std::int64_t primitives = 0;
    for (const DrawCall& draw : plan.draws)
        primitives += draw.primitiveCount;
    const int threads = threadLimit >= 2 && primitives >= twoThreadPrimitives && height >= 2 &&
                                std::thread::hardware_concurrency() > 1
                            ? 2
                            : 1;
    // Blended surfaces are composited per sample, which needs a colour per sample as well.
    const bool blending = plan.hasBlending();
    const size_t bytesPerSample =
        sizeof(float) + sizeof(std::uint32_t) + (blending ? sizeof(SampleColors::value_type) : 0);
    const size_t bytesPerRow = size_t(width) * samplesPerPixel * bytesPerSample;
    size_t budget = bandBudget / threads;
    if (primitives <= smallModelPrimitives) budget = std::min(budget, smallModelBandBytes);
    const int bandRows = static_cast<int>(std::clamp<size_t>(budget / bytesPerRow, 1, height));
    // Depth is 1 / W in perspective and the negative distance in parallel projection: either
    // way larger is nearer, and the far plane's value is where the buffer starts.
    const float clearDepth =
        static_cast<float>(plan.camera.orthographic ? -plan.camera.zFar : 1 / plan.camera.zFar);
    std::vector<std::uint32_t> blendOrder;
    if (blending) blendOrder = sortBlendedTriangles(plan);
    const BandWork work{plan, blendOrder, blending, bandRows, clearDepth, image};
    if (threads == 1) {
        work.drawRows(0, height);
        return image;
    }
    // Each thread writes only its own rows of the image. Every band is drawn exactly as one
    // thread would draw it, so the image is the same.
    const int half = height / 2;
    std::exception_ptr failure;
    std::optional<std::thread> second;
    try {
        second.emplace([&] {
            try {
                work.drawRows(half, height);
            } catch (...) {
                failure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had (a worker near its memory budget, say): one thread draws all.
        work.drawRows(0, height);
        return image;
    }
    try {
        work.drawRows(0, half);
    } catch (...) {
        second->join();
        throw;
    }
    second->join();
    if (failure) std::rethrow_exception(failure);
    return image;
}

}  // namespace render

std::optional<RGBAImage> renderSnapshot(const Scene& scene, const Node& pointOfView, int width,
                                        int height, const RenderOptions& options) {
    return render::renderInBands(scene, pointOfView, width, height, bandBudgetBytes, options);
}

}  // namespace kelvo
