// 3MF packages too large to extract whole, for the streamed drawing code. Their model parts
// are read in pieces (load3MFVerticesInPieces): the meshes' vertices are held, never their
// triangles or the XML; the feed and the scene of picked triangles read the parts once more
// for the triangles (read3MFTriangles). That costs two more reads of the parts, so a package
// whose triangles fit easily (heldTriangles) holds its meshes whole (load3MFSceneInPieces),
// as does one whose drawing order would make the parts be read more than a few times
// (meshes drawn out of document order). The feed
// hands every triangle of that scene through in its drawing order, placed where the scene
// puts it; the scene of picked triangles is the whole scene with only those triangles left
// in its elements, so framing, transforms, origins of precision and material are the loaded
// scene's own, and the renderer never holds a copy of every vertex.
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <utility>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/StreamedModel.h"
#include "extensions/Shared/ThreeMF/ThreeMFLoader.h"
#include "platform/Foundation/FileReading.h"

namespace kelvo {

namespace {

// One geometry node of the held scene, in drawing order (depth first, children in order).
struct Drawn {
    const Geometry* geometry = nullptr;
    std::uint64_t first = 0, count = 0;  // the numbers of its triangles
    Mat4 toStandIn = Mat4::identity();   // its space to the stand-in's
    bool identity = true;                // toStandIn is the identity: corners go as read
    bool flips = false;                  // toStandIn mirrors: two corners swap places
};

// Drawn meshes read from their part once more: runs of consecutive ones of one part in
// document order, each read in one pass.
struct Reread {
    std::filesystem::path file;
    std::vector<CentralEntry> entries;
    std::vector<ThreeMFDrawnMesh> meshes;  // one a Drawn
    std::vector<size_t> runStarts;         // where each run starts in `meshes`, then the end
};

struct ThreeMFSource {
    std::shared_ptr<Scene> scene;
    std::vector<Drawn> drawn;
    std::optional<Reread> reread;  // set when the scene holds no triangles
    std::uint64_t triangles = 0;
    // The geometry node whose space the fed corners are in (the first one that can be
    // inverted); -1 when none can, and the stand-in then sits at the root, on `point` (the
    // first vertex where the scene puts it, inside the scene's bounds).
    std::ptrdiff_t host = -1;
    float point[3] = {0, 0, 0};
};

constexpr size_t batchTriangles = 4096;

bool isIdentity(const Mat4& t) {
    const Mat4 one = Mat4::identity();
    return std::equal(&t.m[0][0], &t.m[0][0] + 16, &one.m[0][0]);
}

double determinant3(const Mat4& t) {
    const double(*m)[4] = t.m;
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

std::shared_ptr<ThreeMFSource> sourceOf(std::shared_ptr<Scene> scene,
                                        std::optional<Reread> reread) {
    auto source = std::make_shared<ThreeMFSource>();
    std::vector<Mat4> worlds;
    scene->rootNode->enumerateChildNodes([&](Node& node, bool&) {
        if (!node.geometry) return;
        Drawn drawn;
        drawn.geometry = node.geometry.get();
        const GeometrySource* positions = node.geometry->source(GeometrySemantic::vertex);
        if (positions && positions->hasFloat3Layout() && !node.geometry->elements.empty()) {
            const size_t k = source->drawn.size();
            drawn.count = static_cast<std::uint64_t>(std::max<std::int64_t>(
                0, reread ? (k < reread->meshes.size() ? reread->meshes[k].triangles : 0)
                          : node.geometry->elements.front().usableTriangleCount()));
        }
        drawn.first = source->triangles;
        source->triangles += drawn.count;
        source->drawn.push_back(drawn);
        worlds.push_back(node.worldTransform());
    });
    Mat4 fromStandIn = Mat4::identity();
    for (size_t k = 0; k < worlds.size() && source->host < 0; ++k) {
        const Mat4 inverse = affineInverse(worlds[k]);
        if (isFinite(worlds[k]) && isFinite(inverse)) {
            source->host = static_cast<std::ptrdiff_t>(k);
            fromStandIn = inverse;
        }
    }
    if (source->host < 0 && !worlds.empty()) {
        const GeometrySource* positions =
            source->drawn[0].geometry->source(GeometrySemantic::vertex);
        if (positions && positions->hasFloat3Layout() && positions->usableVectorCount() > 0) {
            float p[3];
            positions->readFloat3(0, p);
            const Vec3 q = transformPoint(worlds[0], {p[0], p[1], p[2]});
            source->point[0] = static_cast<float>(q.x);
            source->point[1] = static_cast<float>(q.y);
            source->point[2] = static_cast<float>(q.z);
        }
    }
    for (size_t k = 0; k < worlds.size(); ++k) {
        Drawn& drawn = source->drawn[k];
        drawn.identity = source->host == static_cast<std::ptrdiff_t>(k);
        drawn.toStandIn = drawn.identity ? Mat4::identity() : worlds[k] * fromStandIn;
        drawn.identity = drawn.identity || isIdentity(drawn.toStandIn);
        drawn.flips = determinant3(drawn.toStandIn) < 0;
    }
    source->scene = std::move(scene);
    source->reread = std::move(reread);
    return source;
}

// Batches of corners, handed on as they fill; triangles numbered past a gap start a batch.
class Batcher {
public:
    explicit Batcher(const TriangleBatch& take) : take_(take), corners_(batchTriangles * 9) {}
    float* next(std::uint64_t ordinal) {
        if (held_ == batchTriangles || (held_ > 0 && ordinal != first_ + held_)) flush();
        if (held_ == 0) first_ = ordinal;
        return corners_.data() + 9 * held_++;
    }
    void flush() {
        if (held_ > 0) take_(first_, corners_.data(), held_);
        held_ = 0;
    }

private:
    const TriangleBatch& take_;
    std::vector<float> corners_;
    size_t held_ = 0;
    std::uint64_t first_ = 0;
};

// Triangle `indices` of `drawn` as corners in the stand-in's space. A triangle with an index
// past its vertices is handed through as non-numbers (the renderer leaves it out, as it
// leaves out such a triangle of the scene).
void placeTriangle(const Drawn& drawn, const GeometrySource& positions, std::uint64_t vertices,
                   const std::uint32_t indices[3], float* out) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int k = 0; k < 3; ++k) {
        float* corner = out + 3 * (drawn.flips && k > 0 ? 3 - k : k);
        if (indices[k] >= vertices) {
            corner[0] = corner[1] = corner[2] = nan;
            continue;
        }
        positions.readFloat3(indices[k], corner);
        if (drawn.identity) continue;
        const Vec3 p = transformPoint(drawn.toStandIn, {corner[0], corner[1], corner[2]});
        corner[0] = static_cast<float>(p.x);
        corner[1] = static_cast<float>(p.y);
        corner[2] = static_cast<float>(p.z);
    }
}

// Reads the parts once more, run by run, and hands `take(drawn, triangle number in it,
// indices)` every triangle of the drawn meshes in drawing order.
void rereadTriangles(const ThreeMFSource& source,
                     const std::function<void(size_t, std::uint64_t, const std::uint32_t*)>& take) {
    const Reread& reread = *source.reread;
    MappedFile file = mapFileContents(reread.file);
    for (size_t run = 0; run + 1 < reread.runStarts.size(); ++run) {
        const size_t begin = reread.runStarts[run], end = reread.runStarts[run + 1];
        std::vector<std::uint64_t> seen(end - begin, 0);
        size_t at = begin;  // meshes ascend through a run, as their triangles come
        read3MFTriangles(file.bytes(), reread.entries[reread.meshes[begin].entry],
                         [&](std::int64_t mesh, const std::uint32_t* indices, size_t count) {
                             while (at < end && reread.meshes[at].mesh < mesh)
                                 ++at;
                             if (at == end || reread.meshes[at].mesh != mesh) return;
                             const std::uint64_t limit = source.drawn[at].count;
                             std::uint64_t& t = seen[at - begin];
                             for (size_t k = 0; k < count && t < limit; ++k, ++t)
                                 take(at, t, indices + 3 * k);
                         });
    }
}

void feedReread(const ThreeMFSource& source, const TriangleBatch& take) {
    Batcher batches(take);
    rereadTriangles(source, [&](size_t k, std::uint64_t t, const std::uint32_t* indices) {
        const Drawn& drawn = source.drawn[k];
        const GeometrySource& positions = *drawn.geometry->source(GeometrySemantic::vertex);
        placeTriangle(drawn, positions, static_cast<std::uint64_t>(positions.usableVectorCount()),
                      indices, batches.next(drawn.first + t));
    });
    batches.flush();
}

// Hands triangles [lo, hi) of a scene that holds them through in batches, as corners in the
// stand-in's space.
void feedTriangles(const ThreeMFSource& source, std::uint64_t lo, std::uint64_t hi,
                   const TriangleBatch& take) {
    Batcher batches(take);
    for (const Drawn& drawn : source.drawn) {
        const std::uint64_t begin = std::max(lo, drawn.first);
        const std::uint64_t end = std::min(hi, drawn.first + drawn.count);
        if (begin >= end) continue;
        const GeometrySource& positions = *drawn.geometry->source(GeometrySemantic::vertex);
        const GeometryElement& element = drawn.geometry->elements.front();
        const auto vertices = static_cast<std::uint64_t>(positions.usableVectorCount());
        for (std::uint64_t t = begin - drawn.first; t < end - drawn.first; ++t) {
            std::uint32_t indices[3];
            for (int k = 0; k < 3; ++k)
                indices[k] = element.index(static_cast<std::int64_t>(3 * t) + k);
            placeTriangle(drawn, positions, vertices, indices, batches.next(drawn.first + t));
        }
    }
    batches.flush();
}

// A copy of `node`'s subtree whose k-th geometry (in drawing order) keeps the triangles
// `picked[k]` instead of its own; sources, materials and transforms are shared or copied.
std::shared_ptr<Node> copyPicking(const Node& node, std::vector<ByteBuffer>& picked,
                                  size_t& geometryIndex) {
    auto copy = Node::make();
    copy->setTransform(node.transform());
    if (node.geometry) {
        auto geometry = std::make_shared<Geometry>(*node.geometry);
        ByteBuffer& indices = picked[geometryIndex++];
        if (!geometry->elements.empty()) {
            GeometryElement& element = geometry->elements.front();
            element.primitiveCount = static_cast<std::int64_t>(indices.size() / 12);
            element.bytesPerIndex = 4;
            element.data = std::make_shared<const ByteBuffer>(std::move(indices));
            geometry->elements.resize(1);
        }
        copy->geometry = std::move(geometry);
    }
    for (const std::shared_ptr<Node>& child : node.childNodes())
        copy->addChildNode(copyPicking(*child, picked, geometryIndex));
    return copy;
}

std::shared_ptr<Scene> sceneOf(const ThreeMFSource& source,
                               const std::vector<std::uint32_t>& ordinals) {
    std::vector<ByteBuffer> picked(source.drawn.size());
    size_t k = 0;
    if (source.reread && !ordinals.empty()) {
        // Ordinals ascend, as the triangles come.
        size_t next = 0;
        rereadTriangles(source, [&](size_t at, std::uint64_t t, const std::uint32_t* indices) {
            const std::uint64_t ordinal = source.drawn[at].first + t;
            while (next < ordinals.size() && ordinals[next] < ordinal)
                ++next;
            if (next == ordinals.size() || ordinals[next] != ordinal) return;
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(indices);
            picked[at].insert(picked[at].end(), bytes, bytes + 12);
        });
    }
    for (std::uint32_t ordinal : source.reread ? std::vector<std::uint32_t>{} : ordinals) {
        while (k < source.drawn.size() &&
               ordinal >= source.drawn[k].first + source.drawn[k].count) {
            ++k;
        }
        if (k == source.drawn.size()) break;
        const Drawn& drawn = source.drawn[k];
        const std::uint8_t* triangle =
            drawn.geometry->elements.front().data->data() + 12 * (ordinal - drawn.first);
        picked[k].insert(picked[k].end(), triangle, triangle + 12);
    }
    auto scene = std::make_shared<Scene>();
    size_t geometryIndex = 0;
    for (const std::shared_ptr<Node>& child : source.scene->rootNode->childNodes())
        scene->rootNode->addChildNode(copyPicking(*child, picked, geometryIndex));
    if (!ordinals.empty()) return scene;

    // The stand-in: the only element drawn, in the host's space, over the host's vertices
    // (so that the bounds stay the scene's own); the renderer never draws its triangle.
    auto standIn = std::make_shared<Geometry>();
    Node* parent = scene->rootNode.get();
    if (source.host >= 0) {
        const Geometry& host = *source.drawn[static_cast<size_t>(source.host)].geometry;
        standIn->sources = {*host.source(GeometrySemantic::vertex)};
        std::ptrdiff_t index = 0;
        scene->rootNode->enumerateChildNodes([&](Node& node, bool& stop) {
            if (node.geometry && index++ == source.host) parent = &node, stop = true;
        });
    } else {
        GeometrySource point;
        point.data = std::make_shared<const ByteBuffer>(
            reinterpret_cast<const std::uint8_t*>(source.point),
            reinterpret_cast<const std::uint8_t*>(source.point) + 12);
        point.vectorCount = 1;
        point.floatComponents = true;
        point.componentsPerVector = 3;
        point.bytesPerComponent = 4;
        point.dataStride = 12;
        standIn->sources = {point};
    }
    GeometryElement triangle;
    triangle.data = std::make_shared<const ByteBuffer>(12);
    triangle.primitiveCount = 1;
    triangle.bytesPerIndex = 4;
    standIn->elements = {triangle};
    standIn->materials = {makeDefaultModelMaterial()};
    parent->addChildNode(Node::withGeometry(standIn));
    return scene;
}

// Runs of drawn meshes of one part in ascending document order; nothing when some part would
// be read more than `mostReads` times by them.
std::optional<std::vector<size_t>> runsOf(const std::vector<ThreeMFDrawnMesh>& meshes) {
    constexpr size_t mostReads = 4;
    std::vector<size_t> starts;
    std::map<size_t, size_t> reads;  // by entry
    for (size_t k = 0; k < meshes.size(); ++k) {
        if (k > 0 && meshes[k].entry == meshes[k - 1].entry &&
            meshes[k].mesh > meshes[k - 1].mesh) {
            continue;
        }
        if (++reads[meshes[k].entry] > mostReads) return std::nullopt;
        starts.push_back(k);
    }
    starts.push_back(meshes.size());
    return starts;
}

// Whether the triangles of a package whose root model part declares `partBytes` are held: up
// to 16 times the streaming threshold, as the root part's size counts them (64 bytes a
// triangle), and while their records at their peak (some 36 bytes a triangle, vectors
// growing) take at most half the data limit (the memory budget, 2 GiB when there is none).
bool heldTriangles(std::int64_t partBytes, std::int64_t threshold) {
    rlimit limit{};
    std::uint64_t budget = std::uint64_t{2048} << 20;
    if (getrlimit(RLIMIT_DATA, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        budget = std::min<std::uint64_t>(budget, limit.rlim_cur);
    const auto triangles = static_cast<std::uint64_t>(std::max<std::int64_t>(0, partBytes / 64));
    return triangles / 16 <= static_cast<std::uint64_t>(threshold) && triangles <= budget / 2 / 36;
}

}  // namespace

std::shared_ptr<StreamedModel> openStreamed3MF(const std::filesystem::path& from,
                                               std::uint64_t triangleThreshold) {
    const auto threshold = static_cast<std::int64_t>(
        std::min<std::uint64_t>(triangleThreshold, std::numeric_limits<std::int64_t>::max()));
    std::shared_ptr<Scene> scene;
    std::optional<Reread> reread;
    {
        // Mapped only while it is read: the scene holds what it needs.
        MappedFile file = mapFileContents(from);
        Reread read{from, ZIPReader::readCentralDirectory(file.bytes()), {}, {}};
        const CentralEntry& root = read.entries[ZIPReader::modelEntryIndex(read.entries)];
        if (!heldTriangles(root.uncompressedSize, threshold)) {
            scene = load3MFVerticesInPieces(file.bytes(), threshold, read.entries, read.meshes);
            if (!scene) return nullptr;
            if (std::optional<std::vector<size_t>> runs = runsOf(read.meshes)) {
                read.runStarts = std::move(*runs);
                reread = std::move(read);
            }
        }
        if (!reread) {
            scene = load3MFSceneInPieces(file.bytes(), threshold);
            if (!scene) return nullptr;
        }
    }
    const bool held = !reread;
    std::shared_ptr<const ThreeMFSource> source = sourceOf(std::move(scene), std::move(reread));
    auto model = std::make_shared<StreamedModel>();
    model->triangles = source->triangles;
    // A part read once more is read from its start: the feed is not cut.
    model->splits = held;
    model->feed = [source](int part, int parts, const TriangleBatch& take) {
        if (source->reread) return feedReread(*source, take);
        const std::uint64_t n = source->triangles;
        feedTriangles(
            *source, n * static_cast<std::uint64_t>(part) / static_cast<std::uint64_t>(parts),
            n * static_cast<std::uint64_t>(part + 1) / static_cast<std::uint64_t>(parts), take);
    };
    model->sceneOf = [source](const std::vector<std::uint32_t>& ordinals) {
        return sceneOf(*source, ordinals);
    };
    return model;
}

}  // namespace kelvo
