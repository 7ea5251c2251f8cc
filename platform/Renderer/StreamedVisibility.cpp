// Visibility of triangles that are never all in memory at once: each band of rows is drawn
// by feeding the triangles through in batches, as the draw of the stand-in geometry they
// replace, and only the numbers of the triangles left owning a sample are kept.
#include <algorithm>
#include <exception>
#include <numeric>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/Renderer/Frame.h"
#include "platform/Renderer/Renderer.h"

namespace kelvo {

namespace {

// Sample buffers per thread and band, as renderSnapshot allows itself.
constexpr size_t streamedBandBytes = size_t{32} << 20;

}  // namespace

std::vector<std::uint32_t> visibleFedTriangles(const Scene& scene, const Node& pointOfView,
                                               int width, int height, const TriangleFeed& feed,
                                               int parts, const RenderOptions& options) {
    using namespace render;
    if (width < 1 || height < 1 || width > maxRenderSide || height > maxRenderSide) return {};
    const FramePlan plan = planFrame(scene, pointOfView, width, height, options);
    if (!plan.cameraCanSee || plan.draws.empty()) return {};
    const DrawCall& standIn = plan.draws.front();
    // Alpha would need the surface of each sample's triangle, which is gone by then.
    if (standIn.points || standIn.masked() || standIn.blended()) return {};
    parts = std::clamp(parts, 1, 2);
    const float clearDepth =
        static_cast<float>(plan.camera.orthographic ? -plan.camera.zFar : 1 / plan.camera.zFar);
    const size_t bytesPerRow =
        size_t(width) * samplesPerPixel * (sizeof(float) + sizeof(std::uint32_t));
    const int bandRows =
        static_cast<int>(std::clamp<size_t>(streamedBandBytes / bytesPerRow, 1, height));

    std::vector<VisibilityBuffer> buffers(static_cast<size_t>(parts));
    std::vector<std::uint32_t> visible;
    for (int begin = 0; begin < height; begin += bandRows) {
        const int end = std::min(height, begin + bandRows);
        auto drawPart = [&](int part) {
            VisibilityBuffer& buffer = buffers[static_cast<size_t>(part)];
            buffer.width = width;
            buffer.reset(bandRows, begin, end, clearDepth);
            std::vector<RasterVertex> scratch;
            std::vector<std::uint32_t> indices;
            feed(part, parts, [&](std::uint64_t first, const float* corners, std::size_t count) {
                // Numbers past the id space are not drawn, as a scene's would not be.
                if (first >= noTriangle) return;
                count = static_cast<size_t>(std::min<std::uint64_t>(count, noTriangle - first));
                if (indices.size() < count * 3) {
                    indices.resize(count * 3);
                    std::iota(indices.begin(), indices.end(), 0u);
                }
                DrawCall draw = standIn;
                draw.positions = {reinterpret_cast<const std::uint8_t*>(corners), 12,
                                  static_cast<std::int64_t>(count * 3)};
                draw.indices = reinterpret_cast<const std::uint8_t*>(indices.data());
                draw.bytesPerIndex = 4;
                draw.primitiveCount = static_cast<std::int64_t>(count);
                draw.firstId = static_cast<std::uint32_t>(first);
                rasterizeDraw(draw, plan, buffer, scratch, nullptr);
            });
        };
        std::optional<std::thread> second;
        std::exception_ptr failure;
        if (parts == 2) {
            try {
                second.emplace([&] {
                    try {
                        drawPart(1);
                    } catch (...) {
                        failure = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
            }
        }
        try {
            drawPart(0);
            if (parts == 2 && !second) drawPart(1);
        } catch (...) {
            if (second) second->join();
            throw;
        }
        if (second) second->join();
        if (failure) std::rethrow_exception(failure);

        // The first part holds the lower numbers, drawn first in a scene: on equal depth it wins.
        const size_t used = size_t(end - begin) * width * samplesPerPixel;
        for (size_t i = 0; i < used; ++i) {
            std::uint32_t id = buffers[0].ids[i];
            if (parts == 2 && buffers[1].depth[i] > buffers[0].depth[i]) id = buffers[1].ids[i];
            if (id != noTriangle) visible.push_back(id);
        }
        std::sort(visible.begin(), visible.end());
        visible.erase(std::unique(visible.begin(), visible.end()), visible.end());
    }
    return visible;
}

}  // namespace kelvo
