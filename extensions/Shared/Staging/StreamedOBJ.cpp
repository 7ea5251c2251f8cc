// OBJ files drawn from their mapping (OBJStream.h).
#include "extensions/Shared/StreamedModel.h"
#include "platform/ModelIO/OBJStream.h"

namespace kelvo {

namespace {

// The fewest bytes an OBJ triangle takes as exporters write them: a face line of three
// indices and, shared with about two faces each, half a vertex line of three numbers.
// Fewer bytes a triangle than files have sends them to the streamed path before they come
// near the memory budget (a file is held whole while it is imported, with about 60 bytes a
// triangle besides).
constexpr std::uint64_t objBytesPerTriangle = 40;

struct OBJSource {
    MappedFile file;
    OBJStreamSummary summary;
    std::filesystem::path url;  // for the material libraries
};

}  // namespace

std::shared_ptr<StreamedModel> openStreamedOBJ(const std::filesystem::path& from,
                                               std::uint64_t threshold) {
    auto source = std::make_shared<OBJSource>();
    source->file = mapFileContents(from);
    source->url = from;
    if (source->file.bytes().size() / objBytesPerTriangle <= threshold) return nullptr;
    source->summary = summarizeOBJ(source->file);
    // Points alone are not drawn from the file.
    if (source->summary.triangles == 0) return nullptr;
    auto model = std::make_shared<StreamedModel>();
    model->triangles = source->summary.triangles;
    feedByPieces(*model, source->summary.facePieces.size(),
                 [source](std::size_t first, std::size_t last, const TriangleBatch& take) {
                     streamOBJTriangles(source->file, source->summary, first, last, take);
                 });
    model->sceneOf = [source](const std::vector<std::uint32_t>& ordinals) {
        return sceneWithModelAsset(
            gatherOBJTriangles(source->file, source->summary, ordinals, source->url));
    };
    return model;
}

}  // namespace kelvo
