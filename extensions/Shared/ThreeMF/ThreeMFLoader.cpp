// 3MF packages: the package is read once, listed by the ZIP reader, its root model part and
// the parts its components name are scanned, and what is found is assembled into a scene:
//
//   root -> container (a quarter turn about X: the package's Z-up becomes Y-up)
//        -> build node (the first build item's transform; later items are ignored)
//        -> one node per draw-list pair (a component's transform, or none)
//        -> one geometry node per mesh, all sharing one grey material.
//
// The draw list: every mesh object of the root part that no local component uses
// (standalone), then, in document order, each component's object, from the root part or
// from the part its path names. Components resolve one level deep; build items select
// nothing. Errors of the ZIP reader pass through; a component whose part cannot be found
// or read is skipped; an empty draw list is the "SceneLoader" error -12.
//
// Hostile packages: the components of a small package could otherwise make it extract the
// same deflated bytes again and again (through entries that overlap, or through paths that
// fail and are retried), or multiply many components by many meshes under one object id.
// So each entry is extracted and scanned at most once per load, failures included (a retry
// would fail the same way); the component parts together may not need more output capacity
// than 1032 x the package size, which entries that do not overlap can never exceed; and one
// load makes at most one geometry node per 16 bytes of root model part (at least 4096),
// while an honest part needs some 25 bytes of XML for every component or mesh it draws.
#include "extensions/Shared/ThreeMF/ThreeMFLoader.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/ThreeMF/Fast3MFParser.h"
#include "extensions/Shared/ZIP/ZIPReader.h"
#include "platform/Compression/RawDeflate.h"
#include "platform/Foundation/FileReading.h"

namespace kelvo {

namespace {

using MeshList = std::vector<ThreeMFMesh>;

struct DrawPair {
    MeshList* meshes;
    size_t entry;                       // the model part's, in the ZIP directory
    const ThreeMFTransform* transform;  // null: the node keeps the identity
};

// The 12 numbers are the 4x4 matrix row by row without its last column (0, 0, 0, 1), which
// is the scene graph's own row-vector layout: x' = t0 x + t3 y + t6 z + t9, and so on.
Mat4 matrixFromTransform(const ThreeMFTransform& t) {
    return {{{t[0], t[1], t[2], 0},
             {t[3], t[4], t[5], 0},
             {t[6], t[7], t[8], 0},
             {t[9], t[10], t[11], 1}}};
}

// A part streamed in pieces and scanned as they come. Inflating and scanning take about as
// long, so the part is inflated on a thread of its own while the pieces before are scanned;
// a few pieces wait at most. Without a thread (a memory limit, say) one after the other.
// `partBytes` gets the part's inflated size.
Fast3MFParser::ParseResult scanInPieces(const CentralEntry& entry, ByteSpan package,
                                        std::int64_t& partBytes,
                                        Fast3MFParser::Stream stream = Fast3MFParser::Stream()) {
    constexpr size_t pieceBytes = size_t{1} << 20, mostWaiting = 4;
    partBytes = 0;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<ByteBuffer> waiting;
    bool inflated = false, stopped = false;
    std::exception_ptr failure;
    struct Stopped {};
    auto inflateAll = [&] {
        try {
            ZIPReader::streamEntry(entry, package, pieceBytes, [&](ByteSpan piece) {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return waiting.size() < mostWaiting || stopped; });
                if (stopped) throw Stopped{};
                waiting.emplace_back(piece.begin(), piece.end());
                changed.notify_all();
            });
        } catch (const Stopped&) {
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> hold(lock);
        inflated = true;
        changed.notify_all();
    };
    std::optional<std::thread> inflater;
    try {
        inflater.emplace(inflateAll);
    } catch (const std::system_error&) {
        ZIPReader::streamEntry(entry, package, pieceBytes, [&](ByteSpan piece) {
            partBytes += static_cast<std::int64_t>(piece.size());
            stream.feed(piece);
        });
        return stream.finish();
    }
    try {
        for (;;) {
            ByteBuffer piece;
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return !waiting.empty() || inflated; });
                if (waiting.empty()) break;
                piece = std::move(waiting.front());
                waiting.pop_front();
                changed.notify_all();
            }
            partBytes += static_cast<std::int64_t>(piece.size());
            stream.feed(piece);
        }
    } catch (...) {
        {
            std::lock_guard<std::mutex> hold(lock);
            stopped = true;
            changed.notify_all();
        }
        inflater->join();
        throw;
    }
    inflater->join();
    if (failure) std::rethrow_exception(failure);
    return stream.finish();
}

// How a model part is read: whole (extracted, then parsed), in pieces, or in pieces keeping
// only the vertices.
enum class Reading { whole, inPieces, verticesOnly };

Fast3MFParser::Stream streamFor(Reading reading) {
    Fast3MFParser::Stream stream;
    if (reading == Reading::verticesOnly) stream.handTrianglesTo({}, true);
    return stream;
}

Fast3MFParser::ParseResult scanPart(const CentralEntry& entry, ByteSpan package, Reading reading) {
    if (reading == Reading::whole)
        return Fast3MFParser::parse(ZIPReader::extractEntry(entry, package));
    std::int64_t partBytes;
    return scanInPieces(entry, package, partBytes, streamFor(reading));
}

// The model parts that components name, extracted and scanned at most once per entry.
class ComponentParts {
public:
    ComponentParts(ByteSpan package, const std::vector<CentralEntry>& entries, Reading reading)
        : package_(package),
          entries_(entries),
          reading_(reading),
          budget_(static_cast<std::int64_t>(rawDeflateOutputBound(package.size()) - 1024)) {}

    // The scan of the part `path` names, or null when it cannot be found or read; `entry`
    // gets its place in the directory.
    Fast3MFParser::ParseResult* find(const std::string& path, size_t& entry) {
        std::string_view name = path;
        if (!name.empty() && name.front() == '/') name.remove_prefix(1);  // one slash only
        if (names_.empty()) indexNames();
        auto named = names_.find(name);
        if (named == names_.end()) return nullptr;  // entryNotFound(name), discarded
        auto [cached, isNew] = parts_.try_emplace(named->second);
        if (isNew) cached->second = load(entries_[named->second]);
        entry = named->second;
        return cached->second.get();
    }

private:
    // First entry of each name, as a walk in directory order would find it.
    void indexNames() {
        names_.reserve(entries_.size());
        for (size_t k = 0; k < entries_.size(); ++k) {
            names_.try_emplace(entries_[k].name, k);
        }
    }

    std::unique_ptr<Fast3MFParser::ParseResult> load(const CentralEntry& entry) {
        const std::int64_t need = ZIPReader::extractionCapacity(entry);
        if (need < 0 || need > budget_) return nullptr;
        budget_ -= need;
        try {
            return std::make_unique<Fast3MFParser::ParseResult>(
                scanPart(entry, package_, reading_));
        } catch (const ZIPReader::ZIPError&) {
            return nullptr;  // the component is skipped, the error discarded
        } catch (const Error& error) {
            // Read in pieces, a part can fail on an element too long: skipped as well.
            if (error.domain() != sceneLoaderErrorDomain || error.code() != longElementIn3MF) throw;
            return nullptr;
        }
    }

    ByteSpan package_;
    const std::vector<CentralEntry>& entries_;
    Reading reading_;
    std::int64_t budget_;
    std::unordered_map<std::string_view, size_t> names_;
    std::unordered_map<size_t, std::unique_ptr<Fast3MFParser::ParseResult>> parts_;
};

MeshList* meshesOf(Fast3MFParser::ParseResult& part, std::uint32_t objectId) {
    auto found = part.meshes.find(objectId);
    return found != part.meshes.end() && !found->second.empty() ? &found->second : nullptr;
}

// The scene graph's sources share their buffers, so a mesh drawn by several components is
// handed over once: its buffers move into shared storage on first use.
struct SharedMesh {
    std::shared_ptr<const ByteBuffer> positions, indices;
};

std::shared_ptr<Geometry> makeGeometry(const SharedMesh& shared, const ThreeMFMesh& mesh,
                                       const std::shared_ptr<Material>& material) {
    GeometrySource source;
    source.data = shared.positions;
    source.semantic = GeometrySemantic::vertex;
    source.vectorCount = mesh.vertexCount;
    source.floatComponents = true;
    source.componentsPerVector = 3;
    source.bytesPerComponent = 4;
    source.dataOffset = 0;
    source.dataStride = 12;
    GeometryElement element;
    element.data = shared.indices;
    element.primitiveType = PrimitiveType::triangles;
    element.primitiveCount = mesh.triangleCount;
    element.bytesPerIndex = 4;
    auto geometry = std::make_shared<Geometry>(std::vector<GeometrySource>{std::move(source)},
                                               std::vector<GeometryElement>{std::move(element)});
    geometry->materials = {material};
    return geometry;
}

std::shared_ptr<Scene> buildScene(const std::vector<DrawPair>& drawList,
                                  const Fast3MFParser::ParseResult& root,
                                  std::int64_t geometryNodeBudget,
                                  std::vector<ThreeMFDrawnMesh>* drawn) {
    auto scene = std::make_shared<Scene>();
    auto container = Node::make();
    Vec3 euler = container->eulerAngles();
    container->setEulerAngles({zUpToYUpPitch, euler.y, euler.z});
    scene->rootNode->addChildNode(container);

    auto build = Node::make();
    if (!root.buildItems.empty())
        build->setTransform(matrixFromTransform(root.buildItems.front().transform));
    container->addChildNode(build);

    std::shared_ptr<Material> material = makeDefaultModelMaterial();
    std::unordered_map<ThreeMFMesh*, SharedMesh> handedOver;
    for (const DrawPair& pair : drawList) {
        auto node = Node::make();
        if (pair.transform) node->setTransform(matrixFromTransform(*pair.transform));
        build->addChildNode(node);
        for (ThreeMFMesh& mesh : *pair.meshes) {
            if (mesh.vertexCount < 1 || mesh.triangleCount < 1) continue;
            if (geometryNodeBudget <= 0) break;
            --geometryNodeBudget;
            auto [shared, isNew] = handedOver.try_emplace(&mesh);
            if (isNew) {
                shared->second.positions =
                    std::make_shared<const ByteBuffer>(std::move(mesh.positionData));
                shared->second.indices =
                    std::make_shared<const ByteBuffer>(std::move(mesh.indexData));
            }
            node->addChildNode(Node::withGeometry(makeGeometry(shared->second, mesh, material)));
            if (drawn) drawn->push_back({pair.entry, mesh.partOrdinal, mesh.triangleCount});
        }
    }
    return scene;
}

// The scene of a package whose root part has been scanned into `root`; component parts are
// read as the root part was.
std::shared_ptr<Scene> assembleScene(Fast3MFParser::ParseResult& root, size_t rootEntry,
                                     ByteSpan package, const std::vector<CentralEntry>& entries,
                                     Reading reading, std::int64_t geometryNodeBudget,
                                     std::vector<ThreeMFDrawnMesh>* drawn = nullptr) {
    std::set<std::uint32_t> usedLocally;
    for (const ThreeMFComponent& c : root.components) {
        if (!c.path) usedLocally.insert(c.objectId);
    }

    std::vector<DrawPair> drawList;
    for (auto& [objectId, meshes] : root.meshes) {
        if (!usedLocally.count(objectId)) drawList.push_back({&meshes, rootEntry, nullptr});
    }
    ComponentParts parts(package, entries, reading);
    for (const ThreeMFComponent& c : root.components) {
        size_t entry = rootEntry;
        Fast3MFParser::ParseResult* part = c.path ? parts.find(*c.path, entry) : &root;
        if (!part || part->meshes.empty()) continue;
        if (MeshList* meshes = meshesOf(*part, c.objectId))
            drawList.push_back({meshes, entry, &c.transform});
    }

    if (drawList.empty()) throw sceneLoaderError(noMeshIn3MF, SceneLoaderMessage::noMeshIn3MF);
    return buildScene(drawList, root, geometryNodeBudget, drawn);
}

// One geometry node per 16 bytes of root model part, at least 4096 (see the top).
std::int64_t geometryNodeBudgetFor(std::int64_t modelBytes) {
    return std::max<std::int64_t>(4096, modelBytes / 16);
}

// Bytes of model XML a triangle takes at least as exporters write it (a triangle element
// and half a vertex element come to some 80): parts larger than the threshold's worth are
// read in pieces.
constexpr std::int64_t modelBytesPerTriangle = 64;

}  // namespace

std::shared_ptr<Scene> load3MFScene(ByteBuffer package) {
    ZIPReader::Archive archive;
    archive.data = std::move(package);
    archive.entries = ZIPReader::readCentralDirectory(archive.data);

    Fast3MFParser::ParseResult root;
    std::int64_t geometryNodeBudget;
    {
        // The model part's bytes are needed only while it is scanned.
        ByteBuffer model = ZIPReader::extractModelFile(archive);
        root = Fast3MFParser::parse(model);
        geometryNodeBudget = geometryNodeBudgetFor(static_cast<std::int64_t>(model.size()));
    }
    return assembleScene(root, ZIPReader::modelEntryIndex(archive.entries), archive.data,
                         archive.entries, Reading::whole, geometryNodeBudget);
}

namespace {

std::shared_ptr<Scene> loadInPieces(ByteSpan package, std::int64_t triangleThreshold,
                                    Reading reading, std::vector<CentralEntry>& entries,
                                    std::vector<ThreeMFDrawnMesh>* drawn) {
    if (triangleThreshold <= 0) return nullptr;
    entries = ZIPReader::readCentralDirectory(package);
    const size_t modelEntry = ZIPReader::modelEntryIndex(entries);
    const CentralEntry& model = entries[modelEntry];
    if (model.uncompressedSize / modelBytesPerTriangle <= triangleThreshold) return nullptr;
    std::int64_t modelBytes;
    Fast3MFParser::ParseResult root = scanInPieces(model, package, modelBytes, streamFor(reading));
    return assembleScene(root, modelEntry, package, entries, reading,
                         geometryNodeBudgetFor(modelBytes), drawn);
}

}  // namespace

std::shared_ptr<Scene> load3MFSceneInPieces(ByteSpan package, std::int64_t triangleThreshold) {
    std::vector<CentralEntry> entries;
    return loadInPieces(package, triangleThreshold, Reading::inPieces, entries, nullptr);
}

std::shared_ptr<Scene> load3MFVerticesInPieces(ByteSpan package, std::int64_t triangleThreshold,
                                               std::vector<CentralEntry>& entries,
                                               std::vector<ThreeMFDrawnMesh>& drawn) {
    drawn.clear();
    return loadInPieces(package, triangleThreshold, Reading::verticesOnly, entries, &drawn);
}

void read3MFTriangles(ByteSpan package, const CentralEntry& entry,
                      const Fast3MFParser::Stream::TriangleSink& sink) {
    Fast3MFParser::Stream stream;
    stream.handTrianglesTo(sink, false);
    std::int64_t partBytes;
    scanInPieces(entry, package, partBytes, std::move(stream));
}

std::shared_ptr<Scene> SceneLoader::load3MF(const std::filesystem::path& url) const {
    return load3MFScene(readFileContents(url));
}

}  // namespace kelvo
