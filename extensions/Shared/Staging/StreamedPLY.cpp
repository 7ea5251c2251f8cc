// PLY files drawn from their mapping (PLYStream.h).
#include "extensions/Shared/StreamedModel.h"
#include "platform/ModelIO/PLYStream.h"

namespace kelvo {

namespace {

struct PLYSource {
    MappedFile file;
    PLYStreamSummary summary;
};

}  // namespace

std::shared_ptr<StreamedModel> openStreamedPLY(const std::filesystem::path& from,
                                               std::uint64_t threshold) {
    auto source = std::make_shared<PLYSource>();
    source->file = mapFileContents(from);
    // The declared face count, as far as the file can hold it: a header that claims
    // billions in a few bytes stays on the normal path, which reads what is there.
    if (plyTriangleEstimate(source->file.bytes()) <= threshold) return nullptr;
    source->summary = summarizePLY(source->file);
    // Points alone (or faces that name no vertex) are not drawn from the file.
    if (source->summary.triangles == 0) return nullptr;
    auto model = std::make_shared<StreamedModel>();
    model->triangles = source->summary.triangles;
    feedByPieces(*model, source->summary.pieces.size(),
                 [source](std::size_t first, std::size_t last, const TriangleBatch& take) {
                     streamPLYTriangles(source->file, source->summary, first, last, take);
                 });
    model->sceneOf = [source](const std::vector<std::uint32_t>& ordinals) {
        return sceneWithModelAsset(gatherPLYTriangles(source->file, source->summary, ordinals));
    };
    return model;
}

}  // namespace kelvo
