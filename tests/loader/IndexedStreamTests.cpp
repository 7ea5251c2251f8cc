// Streaming an OBJ or PLY file must find exactly the triangles the importer finds, in the
// same order, however the file is cut into pieces; hostile files end the reading cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "platform/ModelIO/OBJImporter.h"
#include "platform/ModelIO/OBJStream.h"
#include "platform/ModelIO/PLYImporter.h"
#include "platform/ModelIO/PLYStream.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

// Every triangle's corners as the importer's scene draws them, elements in order.
std::vector<float> importedCorners(const ModelAsset& asset) {
    std::vector<float> corners;
    for (const auto& object : asset.objects) {
        const Geometry& geometry = *object->geometry;
        const GeometrySource* positions = geometry.source(GeometrySemantic::vertex);
        for (const GeometryElement& element : geometry.elements) {
            if (element.primitiveType == PrimitiveType::point) continue;
            const auto* index = reinterpret_cast<const std::uint32_t*>(element.data->data());
            for (std::int64_t i = 0; i < 3 * element.usableTriangleCount(); ++i) {
                float p[3];
                positions->readFloat3(index[i], p);
                corners.insert(corners.end(), p, p + 3);
            }
        }
    }
    return corners;
}

// The corners fed, checking that batches come numbered in order.
template <class Summary, class Stream>
std::vector<float> streamedCorners(const Summary& summary, std::size_t pieces,
                                   const Stream& stream) {
    std::vector<float> corners;
    std::uint64_t expected = 0;
    stream(0, pieces, [&](std::uint64_t first, const float* batch, std::size_t count) {
        EXPECT_EQ(first, expected) << "batches are numbered in order";
        expected += count;
        corners.insert(corners.end(), batch, batch + 9 * count);
    });
    EXPECT_EQ(expected, summary.triangles);
    return corners;
}

// Triangles of the gathered asset, past the framing triangle.
std::int64_t gatheredTriangles(const ModelAsset& asset) {
    std::int64_t triangles = 0;
    for (const GeometryElement& element : asset.objects.at(0)->geometry->elements)
        triangles += element.usableTriangleCount();
    return triangles - 1;
}

std::vector<std::uint32_t> everyOther(std::uint64_t triangles) {
    std::vector<std::uint32_t> ordinals;
    for (std::uint64_t t = 0; t < triangles; t += 2)
        ordinals.push_back(static_cast<std::uint32_t>(t));
    return ordinals;
}

// Quads and a concave pentagon, negative indices, a forward reference, an index of 0 and
// one past the end (both faces left out), a continued line, texture coordinates on some
// corners, usemtl, CR LF line ends.
std::string objModel() {
    std::string text = "# model\r\nv 0 0 0\r\nv 1 0 0\r\nv 1 1 0\r\nv 0 1 0\r\nvt 0 0\r\n";
    for (int i = 0; i < 30; ++i) {
        const std::string x = std::to_string(i);
        text += "v " + x + " 2 0\r\nv " + x + ".5 3 1\r\nv " + x + " 4 0\r\nv " + x +
                ".2 3 0.5\r\nv " + x + ".1 2.5 0\r\n";
        text += i % 3 ? "f -5 -4 -3 -2 -1\r\n" : "f -5/1 -4 \\\r\n  -3 -2\r\n";
        if (i == 10) text += "usemtl other\r\n";
    }
    text += "f 1 2 3 4\r\nf 0 1 2\r\nf 1 2 999\r\nf 1 2 500000000000000\r\nf 1 2\r\n";
    return text;
}

TEST(IndexedStream, objFindsTheImportersTriangles) {
    test::TempDir dir;
    std::vector<std::filesystem::path> models = {
        dir.write("model.obj", objModel()), dir.write("lonely.obj", "v 1 2 3\nf 1 1 1"),
        dir.write("cr.obj", "v 0 0 0\rv 1 0 0\rv 0 1 0\rf 1 2 3\r")};
    if (!test::corpusDir().empty()) {
        for (const char* name : {"stanford-bunny.obj", "negative_indices.obj",
                                 "negative_interweaved.obj", "cube_with_vertexcolors.obj"})
            models.push_back(test::corpusDir() / "obj" / name);
    }
    for (const std::filesystem::path& model : models) {
        SCOPED_TRACE(model.filename().string());
        const MappedFile file = mapFileContents(model);
        const std::vector<float> imported = importedCorners(importOBJFile(model));
        for (std::uint64_t pieceBytes : {1, 7, 100, 1 << 20}) {
            SCOPED_TRACE(pieceBytes);
            const OBJStreamSummary summary = summarizeOBJ(file, pieceBytes);
            const std::vector<float> streamed =
                streamedCorners(summary, summary.facePieces.size(),
                                [&](std::size_t first, std::size_t last, const OBJBatchSink& sink) {
                                    streamOBJTriangles(file, summary, first, last, sink);
                                });
            // Faces are drawn by material: the materials' order differs, the count must not.
            if (model.filename() == "model.obj") {
                EXPECT_EQ(streamed.size(), imported.size());
            } else {
                EXPECT_EQ(streamed, imported);
            }
            const std::vector<std::uint32_t> picked = everyOther(summary.triangles);
            EXPECT_EQ(gatheredTriangles(gatherOBJTriangles(file, summary, picked, model)),
                      static_cast<std::int64_t>(picked.size()));
        }
    }
}

// A PLY of a fan of `faces` quads in the given format, with an element before the vertices.
std::string plyModel(bool ascii, bool faceFirst) {
    std::string header = std::string("ply\nformat ") + (ascii ? "ascii" : "binary_big_endian") +
                         " 1.0\nelement extra 2\nproperty list uchar int stuff\n";
    const std::string vertices =
        "element vertex 8\nproperty double x\nproperty float y\n"
        "property float z\nproperty uchar red\n";
    const std::string faces = "element face 5\nproperty list uint short vertex_indices\n";
    header += faceFirst ? faces + vertices : vertices + faces;
    header += "end_header\n";
    test::Bytes body;
    auto put = [&](auto value) {
        if (ascii) {
            const std::string word = std::to_string(+value) + " ";
            body.insert(body.end(), word.begin(), word.end());
            return;
        }
        std::uint8_t b[sizeof value];
        std::memcpy(b, &value, sizeof value);
        body.insert(body.end(), std::rbegin(b), std::rend(b));
    };
    for (int e = 0; e < 2; ++e) {
        put(std::uint8_t{2}), put(std::int32_t{7}), put(std::int32_t{8});
    }
    auto putVertices = [&] {
        for (int v = 0; v < 8; ++v) {
            put(double(v % 4)), put(float(v / 4)), put(float(v % 3)), put(std::uint8_t(30 * v));
        }
    };
    auto putFaces = [&] {
        // A quad, a pentagon, a negative index, one past the vertices, a face of two corners.
        const std::vector<std::vector<std::int16_t>> lists = {
            {0, 1, 5, 4}, {1, 2, 6, 7, 5}, {0, -1, 2}, {0, 1, 8}, {3, 4}};
        for (const auto& list : lists) {
            put(static_cast<std::uint32_t>(list.size()));
            for (std::int16_t i : list)
                put(i);
        }
    };
    if (faceFirst) {
        putFaces();
        putVertices();
    } else {
        putVertices();
        putFaces();
    }
    return header + std::string(body.begin(), body.end());
}

TEST(IndexedStream, plyFindsTheImportersTriangles) {
    test::TempDir dir;
    std::vector<std::filesystem::path> models = {
        dir.write("ascii.ply", plyModel(true, false)), dir.write("big.ply", plyModel(false, false)),
        dir.write("facesfirst.ply", plyModel(false, true))};
    if (!test::corpusDir().empty()) {
        for (const char* name : {"bunny.ply", "cycloidal.ply", "Wuson.ply", "fuze.ply"})
            models.push_back(test::corpusDir() / "ply" / name);
    }
    for (const std::filesystem::path& model : models) {
        SCOPED_TRACE(model.filename().string());
        const MappedFile file = mapFileContents(model);
        const std::vector<float> imported = importedCorners(importPLYFile(model));
        EXPECT_FALSE(imported.empty());
        for (std::uint64_t pieceBytes : {1, 50, 1 << 20}) {
            SCOPED_TRACE(pieceBytes);
            const PLYStreamSummary summary = summarizePLY(file, pieceBytes);
            const std::vector<float> streamed =
                streamedCorners(summary, summary.pieces.size(),
                                [&](std::size_t first, std::size_t last, const PLYBatchSink& sink) {
                                    streamPLYTriangles(file, summary, first, last, sink);
                                });
            EXPECT_EQ(streamed, imported);
            const std::vector<std::uint32_t> picked = everyOther(summary.triangles);
            EXPECT_EQ(gatheredTriangles(gatherPLYTriangles(file, summary, picked)),
                      static_cast<std::int64_t>(picked.size()));
        }
    }
}

TEST(IndexedStream, hostileFilesEndTheReading) {
    test::TempDir dir;
    const std::string claims =
        "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\n"
        "property float x\nproperty float y\nproperty float z\n"
        "element face 4000000000\nproperty list uint int vertex_indices\n"
        "end_header\n";
    struct Case {
        const char* name;
        std::string bytes;
        std::uint64_t triangles;
    };
    const std::vector<Case> cases = {
        // Billions of rows claimed, a few bytes given: the vertex rows run out first.
        {"claims.ply", claims + std::string(40, '\0'), 0},
        // A list claiming four billion corners.
        {"list.ply",
         "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
         "property float z\nelement face 2\nproperty list uint int vertex_indices\nend_header\n"
         "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n4294967295 0 1 2\n",
         1},
        // One endless line, an endless face of a million and more corners.
        {"line.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n" + std::string(1 << 20, 'x'), 1},
        {"face.obj",
         "v 0 0 0\nv 1 0 0\nv 0 1 0\nf" +
             [] {
                 std::string corners;
                 for (int i = 0; i < (1 << 20) + 5; ++i)
                     corners += " 1";
                 return corners;
             }(),
         0},
        {"nothing.obj", std::string(10000, '\\'), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path path = dir.write(c.name, c.bytes);
        const MappedFile file = mapFileContents(path);
        const std::uint64_t triangles = path.extension() == ".ply"
                                            ? summarizePLY(file, 16).triangles
                                            : summarizeOBJ(file, 16).triangles;
        EXPECT_EQ(triangles, c.triangles);
    }
    EXPECT_EQ(plyTriangleEstimate(test::span(test::Bytes(claims.begin(), claims.end()))), 0u)
        << "no byte for a face row";
    EXPECT_THROW(summarizeOBJ(mapFileContents(dir.write("utf16.obj", "\xFF\xFEv")), 16), Error);
    EXPECT_THROW(summarizePLY(mapFileContents(dir.write("not.ply", "solid x\n")), 16), Error);
}

}  // namespace
}  // namespace kelvo
