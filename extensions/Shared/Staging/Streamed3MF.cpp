// 3MF packages too large to extract whole, for the streamed drawing code. Their model parts
// are read in pieces (load3MFSceneInPieces): the meshes are held, never the XML. The feed
// hands every triangle of that scene through in its drawing order, placed where the scene
// puts it; the scene of picked triangles is the whole scene with only those triangles left
// in its elements, so framing, transforms, origins of precision and material are the loaded
// scene's own, and the renderer never holds a copy of every vertex.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
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

struct ThreeMFSource {
    std::shared_ptr<Scene> scene;
    std::vector<Drawn> drawn;
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

std::shared_ptr<ThreeMFSource> sourceOf(std::shared_ptr<Scene> scene) {
    auto source = std::make_shared<ThreeMFSource>();
    std::vector<Mat4> worlds;
    scene->rootNode->enumerateChildNodes([&](Node& node, bool&) {
        if (!node.geometry) return;
        Drawn drawn;
        drawn.geometry = node.geometry.get();
        const GeometrySource* positions = node.geometry->source(GeometrySemantic::vertex);
        if (positions && positions->hasFloat3Layout() && !node.geometry->elements.empty()) {
            drawn.count = static_cast<std::uint64_t>(
                std::max<std::int64_t>(0, node.geometry->elements.front().usableTriangleCount()));
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
    return source;
}

// Hands triangles [lo, hi) through in batches, as corners in the stand-in's space. A
// triangle with an index past its vertices is handed through as non-numbers (the renderer
// leaves it out, as it leaves out such a triangle of the scene).
void feedTriangles(const ThreeMFSource& source, std::uint64_t lo, std::uint64_t hi,
                   const TriangleBatch& take) {
    std::vector<float> corners(batchTriangles * 9);
    size_t held = 0;
    std::uint64_t heldFirst = lo;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Drawn& drawn : source.drawn) {
        const std::uint64_t begin = std::max(lo, drawn.first);
        const std::uint64_t end = std::min(hi, drawn.first + drawn.count);
        if (begin >= end) continue;
        const GeometrySource& positions = *drawn.geometry->source(GeometrySemantic::vertex);
        const GeometryElement& element = drawn.geometry->elements.front();
        const auto vertices = static_cast<std::uint64_t>(positions.usableVectorCount());
        for (std::uint64_t t = begin - drawn.first; t < end - drawn.first; ++t) {
            float* out = corners.data() + held * 9;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t index = element.index(static_cast<std::int64_t>(3 * t) + k);
                float* corner = out + 3 * (drawn.flips && k > 0 ? 3 - k : k);
                if (index >= vertices) {
                    corner[0] = corner[1] = corner[2] = nan;
                    continue;
                }
                positions.readFloat3(index, corner);
                if (drawn.identity) continue;
                const Vec3 p = transformPoint(drawn.toStandIn, {corner[0], corner[1], corner[2]});
                corner[0] = static_cast<float>(p.x);
                corner[1] = static_cast<float>(p.y);
                corner[2] = static_cast<float>(p.z);
            }
            if (++held == batchTriangles) {
                take(heldFirst, corners.data(), held);
                heldFirst += held;
                held = 0;
            }
        }
    }
    if (held > 0) take(heldFirst, corners.data(), held);
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
    for (std::uint32_t ordinal : ordinals) {
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

}  // namespace

std::shared_ptr<StreamedModel> openStreamed3MF(const std::filesystem::path& from,
                                               std::uint64_t triangleThreshold) {
    std::shared_ptr<Scene> scene;
    {
        // Mapped only while it is read: the scene holds what it needs.
        MappedFile file = mapFileContents(from);
        scene = load3MFSceneInPieces(
            file.bytes(), static_cast<std::int64_t>(std::min<std::uint64_t>(
                              triangleThreshold, std::numeric_limits<std::int64_t>::max())));
    }
    if (!scene) return nullptr;
    std::shared_ptr<const ThreeMFSource> source = sourceOf(std::move(scene));
    auto model = std::make_shared<StreamedModel>();
    model->triangles = source->triangles;
    model->splits = true;
    model->feed = [source](int part, int parts, const TriangleBatch& take) {
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
