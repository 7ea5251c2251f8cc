// STL files drawn from their mapping (STLStream.h): the feed and the scenes of picked
// triangles for the streamed drawing code.
#include <cstring>

#include "extensions/Shared/STLScene.h"
#include "extensions/Shared/StreamedModel.h"
#include "platform/ModelIO/STLStream.h"

namespace kelvo {

namespace {

// An ASCII STL facet as exporters usually write it takes about 250 bytes; the lower figure
// sends files to the streamed path before they come near the memory budget (a file is
// held whole while it is imported, with about 84 bytes a triangle besides).
constexpr std::uint64_t asciiSTLBytesPerTriangle = 200;

struct STLSource {
    MappedFile file;
    STLStreamSummary summary;  // the first pass: count, bounds, pieces
};

// Triangles of no area that stand for the model in a scene: the first corner the file
// holds (where the renderer takes its origin of precision) and the model's bounds (which
// the staging frames). The renderer never draws them.
STLRecord pointRecord(const float corner[3]) {
    STLRecord record{};
    for (int k = 0; k < 3; ++k)
        std::memcpy(record.corners + 3 * k, corner, 12);
    return record;
}

STLRecord boundsRecord(const STLStreamSummary& summary) {
    STLRecord record{};
    std::memcpy(record.corners, summary.lo, 12);
    std::memcpy(record.corners + 3, summary.hi, 12);
    std::memcpy(record.corners + 6, summary.hi, 12);
    return record;
}

}  // namespace

std::shared_ptr<StreamedModel> openStreamedSTL(const std::filesystem::path& from,
                                               std::uint64_t threshold) {
    auto source = std::make_shared<STLSource>();
    source->file = mapFileContents(from);
    const ByteSpan bytes = source->file.bytes();
    const STLLayout layout = stlLayout(bytes);
    const bool large = layout.kind == STLLayout::binary ? layout.binaryTriangles > threshold
                       : layout.kind == STLLayout::ascii
                           ? bytes.size() / asciiSTLBytesPerTriangle > threshold
                           : false;
    if (!large) return nullptr;
    source->summary = summarizeSTL(source->file);
    auto model = std::make_shared<StreamedModel>();
    model->triangles = source->summary.triangles;
    feedByPieces(*model, source->summary.pieces.size(),
                 [source](std::size_t first, std::size_t last, const TriangleBatch& take) {
                     streamSTLTriangles(source->file, source->summary, first, last, take);
                 });
    model->sceneOf = [source](const std::vector<std::uint32_t>& ordinals) {
        const STLStreamSummary& summary = source->summary;
        std::vector<STLRecord> records = gatherSTLTriangles(source->file, summary, ordinals);
        if (ordinals.empty() || ordinals.front() != 0)
            records.insert(records.begin(), pointRecord(summary.firstCorner));
        if (summary.bounded) records.push_back(boundsRecord(summary));
        return dressedSTLScene(importSTL(binarySTLFile(records)));
    };
    return model;
}

}  // namespace kelvo
