// Models past the streaming threshold are drawn from the file, in the confined worker: the
// picture must be the whole model's, as the normal path draws it, and hostile files must
// fail cleanly. The threshold is lowered so that small files take the streamed path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "extensions/KelvoThumbnail/ThumbnailWorker.h"
#include "extensions/Shared/SceneLoader.h"
#include "platform/Imaging/PNG.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/ZIPWriter.h"
#include "tests/thumbnail/Models.h"

namespace kelvo {
namespace {

// The worker's thumbnail of `path` with the given streaming threshold (0: the normal path),
// nothing thinned, or its error.
WorkerResult thumbnailWithThreshold(const std::filesystem::path& path, std::int64_t threshold,
                                    std::uint64_t memoryBudgetBytes = std::uint64_t{2048} << 20) {
    ThumbnailerOptions options;
    options.memoryBudgetBytes = memoryBudgetBytes;
    options.size = 256;
    options.triangleBudget = 0;
    options.streamingThreshold = threshold;
    const int input = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    WorkerResult result = makeThumbnailInWorker(input, path, options);
    ::close(input);
    return result;
}

RGBAImage decoded(const WorkerResult& result) {
    EXPECT_FALSE(result.error) << (result.error ? result.error->localizedDescription() : "");
    std::optional<RGBAImage> image = decodePNG(result.png);
    return image ? *image : RGBAImage(1, 1);
}

// Of the pixels either picture covers, the share both cover.
double coverageAgreement(const RGBAImage& a, const RGBAImage& b) {
    if (a.width != b.width || a.height != b.height) return 0;
    size_t either = 0, both = 0;
    for (size_t i = 3; i < a.pixels.size(); i += 4) {
        const bool inA = a.pixels[i] != 0, inB = b.pixels[i] != 0;
        either += inA || inB;
        both += inA && inB;
    }
    return either ? double(both) / double(either) : 0;
}

// ASCII with two solids and a fan, enough facets to cross several of the reader's pieces.
std::string twoSolidsASCII() {
    std::string text = "solid a\n";
    for (int i = 0; i < 300; ++i) {
        const float x = static_cast<float>(i % 20), y = static_cast<float>(i / 20);
        char facet[256];
        std::snprintf(facet, sizeof facet,
                      "facet normal 0 0 1\nouter loop\nvertex %g %g 0\nvertex %g %g 0\n"
                      "vertex %g %g %g\nendloop\nendfacet\n",
                      x, y, x + 1, y, x, y + 1, 0.1 * x);
        text += facet;
    }
    text +=
        "endsolid a\nsolid b\nfacet normal 0 0 1\nouter loop\nvertex 0 0 3\nvertex 20 0 3\n"
        "vertex 20 15 3\nvertex 0 15 3\nendloop\nendfacet\nendsolid b\n";
    return text;
}

// A wavy grid of side x side quads as PLY, coloured by vertex or by face, ASCII or binary
// little-endian.
test::Bytes gridPLY(int side, bool ascii, bool faceColors) {
    const int n = side + 1;
    std::string header = std::string("ply\nformat ") + (ascii ? "ascii" : "binary_little_endian") +
                         " 1.0\nelement vertex " + std::to_string(n * n) +
                         "\nproperty float x\nproperty float y\n" + "property float z\n";
    if (!faceColors) header += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    header += "element face " + std::to_string(side * side) +
              "\nproperty list uchar int vertex_indices\n";
    if (faceColors) header += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    header += "end_header\n";
    test::Bytes bytes(header.begin(), header.end());
    auto put = [&](const auto& value) {
        if (ascii) {
            const std::string word = std::to_string(+value) + " ";
            bytes.insert(bytes.end(), word.begin(), word.end());
        } else {
            const auto* b = reinterpret_cast<const std::uint8_t*>(&value);
            bytes.insert(bytes.end(), b, b + sizeof value);
        }
    };
    auto endRow = [&] {
        if (ascii) bytes.push_back('\n');
    };
    auto color = [&](int i, int j) {
        put(static_cast<std::uint8_t>(255 * i / side));
        put(static_cast<std::uint8_t>(40));
        put(static_cast<std::uint8_t>(255 * j / side));
    };
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            put(static_cast<float>(i));
            put(static_cast<float>(j));
            put(static_cast<float>(2 * std::sin(i * 0.3) * std::cos(j * 0.2)));
            if (!faceColors) color(i, j);
            endRow();
        }
    }
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            put(static_cast<std::uint8_t>(4));
            for (int v : {j * n + i, j * n + i + 1, (j + 1) * n + i + 1, (j + 1) * n + i})
                put(static_cast<std::int32_t>(v));
            if (faceColors) color(i, j);
            endRow();
        }
    }
    return bytes;
}

// A wavy grid of side x side quads as OBJ: with two materials of a library beside it in
// stripes, or with vertex colours; negative indices in every other row.
std::string gridOBJ(int side, bool vertexColors) {
    const int n = side + 1;
    std::string text = vertexColors ? "" : "mtllib grid.mtl\n";
    char line[160];
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            std::snprintf(line, sizeof line, "v %d %d %g", i, j,
                          2 * std::sin(i * 0.3) * std::cos(j * 0.2));
            text += line;
            if (vertexColors) {
                std::snprintf(line, sizeof line, " %g 0.2 %g", double(i) / side, double(j) / side);
                text += line;
            }
            text += "\n";
        }
    }
    const int count = n * n;
    for (int j = 0; j < side; ++j) {
        if (!vertexColors) text += j % 8 < 4 ? "usemtl red\n" : "usemtl blue\n";
        for (int i = 0; i < side; ++i) {
            const int a = j * n + i + 1, b = a + 1, c = a + n + 1, d = a + n;
            if (j % 2) {
                std::snprintf(line, sizeof line, "f %d %d %d %d\n", a - count - 1, b - count - 1,
                              c - count - 1, d - count - 1);
            } else {
                std::snprintf(line, sizeof line, "f %d/%d %d %d %d\n", a, a, b, c, d);
            }
            text += line;
        }
    }
    return text;
}

// Whether some pixel is clearly red or blue rather than grey.
bool hasColor(const RGBAImage& image) {
    for (size_t i = 0; i < image.pixels.size(); i += 4) {
        const int r = image.pixels[i], g = image.pixels[i + 1], b = image.pixels[i + 2];
        if (image.pixels[i + 3] == 255 && (r > g + 60 || b > g + 60)) return true;
    }
    return false;
}

// A 3MF mesh object: a wavy n x n grid of quads.
std::string gridObject(int id, int n) {
    std::string xml = "<object id=\"" + std::to_string(id) + "\" type=\"model\"><mesh><vertices>\n";
    char line[160];
    for (int j = 0; j <= n; ++j) {
        for (int i = 0; i <= n; ++i) {
            std::snprintf(line, sizeof line, "<vertex x=\"%g\" y=\"%g\" z=\"%g\" />\n", i * 1.0,
                          j * 1.0, 2 * std::sin(i * 0.4) * std::cos(j * 0.3));
            xml += line;
        }
    }
    xml += "</vertices><triangles>\n";
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
            std::snprintf(line, sizeof line,
                          "<triangle v1=\"%d\" v2=\"%d\" v3=\"%d\" />\n<triangle v1=\"%d\" "
                          "v2=\"%d\" v3=\"%d\" />\n",
                          a, b, d, a, d, c);
            xml += line;
        }
    }
    return xml + "</triangles></mesh></object>\n";
}

std::string modelPart(const std::string& resources, const std::string& build) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<model unit="millimeter" xmlns="http://schemas.microsoft.com/3dmanufacturing/core/2015/02">
<resources>
)" + resources +
           "</resources>\n<build>" + build + "</build>\n</model>\n";
}

// Standalone meshes, one drawn twice through an assembly (turned, and mirrored), one from a
// part of its own, all under a build item that turns and moves them.
test::Bytes assemblyPackage() {
    const std::string resources =
        gridObject(1, 40) + gridObject(2, 30) +
        R"(<object id="3"><components><component objectid="2" transform="0 1 0 -1 0 0 0 0 1 50 0 4"/>)"
        R"(<component objectid="2" transform="-1 0 0 0 1 0 0 0 1 -5 -10 -3"/>)"
        R"(<component objectid="7" p:path="/3D/other.model" transform="1 0 0 0 1 0 0 0 1 0 45 0"/>)"
        "</components></object>\n";
    return test::threeMFPackage(
        {{"3D/3dmodel.model",
          modelPart(resources,
                    R"(<item objectid="3" transform="0.8 0.6 0 -0.6 0.8 0 0 0 1 3 -2 1"/>)"
                    R"(<item objectid="1"/>)")},
         {"3D/other.model", modelPart(gridObject(7, 12), "")}});
}

// A grid pressed flat by its build item: a plate no node's transform can undo.
test::Bytes flatPackage() {
    return test::threeMFPackage(
        {{"3D/3dmodel.model",
          modelPart(gridObject(1, 20),
                    R"(<item objectid="1" transform="1 0 0 0.3 1 0 0 0 0 0 0 7"/>)")}});
}

// Mesh objects written with their ids descending, so that they are drawn (by id) against
// the order the part holds them in.
test::Bytes descendingPackage(int objects) {
    std::string resources;
    for (int id = objects; id >= 1; --id)
        resources += gridObject(id, 8 + 4 * id);
    return test::threeMFPackage({{"3D/3dmodel.model", modelPart(resources, "")}});
}

TEST(StreamedThumbnail, bothPathsDrawTheSameWholeModel) {
    test::TempDir dir;
    // 3MF packages are read in pieces into the scene a load gives, drawn the same way.
    std::vector<std::filesystem::path> models = {
        dir.write("solids.stl", twoSolidsASCII()), dir.write("square.stl", test::squareSTL(5000)),
        dir.write("assembly.3mf", assemblyPackage()), dir.write("flat.3mf", flatPackage()),
        // Read again for their triangles a few times; past that the meshes are held whole.
        dir.write("descending.3mf", descendingPackage(3)),
        dir.write("many-descending.3mf", descendingPackage(7))};
    if (!test::corpusDir().empty()) {
        for (const char* name :
             {"stl/Spider_binary.stl", "stl/Spider_ascii.stl", "stl/ADIS16480.STL",
              "3mf/cube_gears.3mf", "3mf/detachedmodel.3mf", "3mf/WagonWithWheels.3mf"})
            models.push_back(test::corpusDir() / name);
    }
    for (const std::filesystem::path& model : models) {
        SCOPED_TRACE(model.filename().string());
        ASSERT_TRUE(SceneLoader().openStreamed(model, 1)) << "takes the streamed path";
        const RGBAImage whole = decoded(thumbnailWithThreshold(model, 0));
        const RGBAImage streamed = decoded(thumbnailWithThreshold(model, 1));
        EXPECT_GE(coverageAgreement(whole, streamed), 0.98);
        // Only the triangles that own a sample are drawn again, in their order and framing:
        // the very same frame.
        if (model.filename() != "solids.stl") {
            EXPECT_EQ(whole.pixels, streamed.pixels);
        }
    }
}

TEST(StreamedThumbnail, indexedModelsDrawTheSameOnBothPaths) {
    test::TempDir dir;
    struct Case {
        std::filesystem::path model;
        bool colored;  // its colours must show on both paths
    };
    dir.write("grid.mtl", "newmtl red\nKd 0.9 0.1 0.1\nnewmtl blue\nKd 0.1 0.2 0.9\n");
    std::vector<Case> cases = {
        {dir.write("materials.obj", gridOBJ(40, false)), true},
        {dir.write("colors.obj", gridOBJ(40, true)), true},
        {dir.write("ascii.ply", gridPLY(40, true, false)), true},
        {dir.write("binary.ply", gridPLY(40, false, false)), true},
        {dir.write("faces.ply", gridPLY(40, false, true)), true},
    };
    if (!test::corpusDir().empty()) {
        // Normals, confidence values, vertex and face colours with alpha, texture
        // coordinates (left out on the streamed path, as the texture is).
        for (const char* name :
             {"bunny.ply", "cycloidal.ply", "cube_binary.ply", "Wuson.ply", "fuze.ply"})
            cases.push_back({test::corpusDir() / "ply" / name, false});
        // Quads, negative indices, materials named with blanks, vertex colours.
        for (const char* name :
             {"stanford-bunny.obj", "extruder_idler_quads.obj", "negative_interweaved.obj",
              "box_mat_with_spaces.obj", "cube_with_vertexcolors.obj"})
            cases.push_back({test::corpusDir() / "obj" / name, false});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model.filename().string());
        ASSERT_TRUE(SceneLoader().openStreamed(c.model, 1)) << "takes the streamed path";
        const RGBAImage whole = decoded(thumbnailWithThreshold(c.model, 0));
        const RGBAImage streamed = decoded(thumbnailWithThreshold(c.model, 1));
        EXPECT_GE(coverageAgreement(whole, streamed), 0.98);
        EXPECT_EQ(whole.pixels, streamed.pixels);
        if (c.colored) {
            EXPECT_TRUE(hasColor(streamed));
        }
    }
}

TEST(StreamedThumbnail, onlyModelsPastTheBudgetStream) {
    test::TempDir dir;
    const SceneLoader loader;
    const std::filesystem::path square = dir.write("square.stl", test::squareSTL(100));
    EXPECT_FALSE(loader.openStreamed(square, 100)) << "at the budget";
    EXPECT_TRUE(loader.openStreamed(square, 99));
    EXPECT_FALSE(loader.openStreamed(square, 0)) << "no budget";
    EXPECT_FALSE(loader.openStreamed(dir.write("square.off", test::squareSTL(100)), 1))
        << "a format that does not stream";
    // A small ASCII file is judged by its size.
    const std::filesystem::path text = dir.write("solids.stl", twoSolidsASCII());
    EXPECT_FALSE(loader.openStreamed(text, 2'000'000));
    // A 3MF package by its root part's declared size: some 64 bytes of XML a triangle.
    const std::filesystem::path package = dir.write("assembly.3mf", assemblyPackage());
    EXPECT_TRUE(loader.openStreamed(package, 1000));
    EXPECT_FALSE(loader.openStreamed(package, 2'000'000));
}

TEST(StreamedThumbnail, hostileFilesFailCleanly) {
    test::TempDir dir;
    // Indexed files: what they hold is drawn, or nothing is, with the loader's or the
    // thumbnailer's error; never a crash or a hang.
    const std::string header =
        "ply\nformat binary_little_endian 1.0\nelement vertex 3000000000\n"
        "property float x\nproperty float y\nproperty float z\n"
        "element face 3000000000\nproperty list uchar int vertex_indices\n"
        "end_header\n";
    std::string triangle(36, '\0');
    const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    std::memcpy(triangle.data(), corners, 36);
    const std::string face = std::string(1, '\3') + std::string("\0\0\0\0\1\0\0\0\2\0\0\0", 12);
    std::string negative = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf -1 -2 -3\nf -4 1 2\nf 0 1 2\n";
    for (int i = 0; i < 50; ++i)
        negative += "f 1 2 " + std::to_string(1000 + i) + "\n";
    const test::Bytes square = test::squareSTL(100);
    struct Case {
        const char* name;
        std::string bytes;
        bool draws;
    };
    const std::vector<Case> indexed = {
        {"claims.ply", header + triangle + face + face, false},
        {"endless.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2" + std::string(200000, '3'), false},
        {"negative.obj", negative, true},
        {"binary.obj", std::string(square.begin(), square.end()), false},
    };
    for (const Case& c : indexed) {
        SCOPED_TRACE(c.name);
        const WorkerResult result = thumbnailWithThreshold(dir.write(c.name, c.bytes), 1);
        if (c.draws) {
            EXPECT_FALSE(result.error);
            EXPECT_TRUE(decodePNG(result.png));
        } else if (result.error && result.error->domain() == "KelvoThumbnail") {
            EXPECT_EQ(result.error->code(), 1) << "nothing to draw; no crash, no time-out";
        }
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    test::Bytes claims = test::binarySTL(
        {{{0, 0, 1}, {0, 0, 0, 1, 0, 0, 0, 1, 0}}, {{0, 0, 1}, {1, 0, 0, 1, 1, 0, 0, 1, 0}}}, "",
        0xFFFFFFFFu);
    test::Bytes truncated = test::squareSTL(50);
    truncated.resize(truncated.size() - 30);
    // Billions claimed in a few bytes, a cut record: what the file holds is drawn.
    for (const test::Bytes& bytes : {claims, truncated}) {
        const WorkerResult result = thumbnailWithThreshold(dir.write("holds.stl", bytes), 1);
        EXPECT_FALSE(result.error);
        EXPECT_TRUE(decodePNG(result.png));
    }
    const std::vector<test::Bytes> nothing = {
        test::binarySTL({{{0, 0, 1}, {nan, 0, 0, 1, nan, 0, 0, 1, nan}},
                         {{0, 0, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0}}}),
        test::Bytes(100000, 'x'),
    };
    std::string endless = "solid " + std::string(100000, 'x');
    for (const test::Bytes& bytes :
         {nothing[0], nothing[1], test::Bytes(endless.begin(), endless.end())}) {
        const WorkerResult result = thumbnailWithThreshold(dir.write("nothing.stl", bytes), 1);
        ASSERT_TRUE(result.error);
        EXPECT_EQ(result.error->domain(), "KelvoThumbnail");
        EXPECT_EQ(result.error->code(), 1) << "nothing to draw";
    }
}

TEST(StreamedThumbnail, hostileThreeMFPackagesFailCleanlyInPieces) {
    test::TempDir dir;
    const std::string mesh = gridObject(1, 4);
    auto package = [](const std::string& root) {
        return test::threeMFPackage({{"3D/3dmodel.model", root}});
    };
    test::Bytes lying = package(modelPart(mesh, ""));
    {
        // The directory says 4 GB: the path is chosen by it, the output is what the stream
        // holds.
        test::ZIPTestPackage p =
            test::writeZIP({{"3D/3dmodel.model", test::bytesOf(modelPart(mesh, ""))}});
        test::poke(p.bytes, p.centralRecords[0] + test::zipField::centralSize, 0xFFFFFFF0u);
        lying = p.bytes;
    }
    // Built and packed at once: the forked worker would count the text against its budget.
    const test::Bytes vertices = [&] {
        std::string xml = "<model><object id=\"1\"><mesh>";
        for (int k = 0; k < 4'000'000; ++k)
            xml += "<vertex x=\"0\" y=\"0\" z=\"0\"/>";
        xml += "<triangle v1=\"0\" v2=\"1\" v3=\"2\"/></mesh></object></model>";
        return package(xml);
    }();
    const test::Bytes triangles = [&] {
        std::string xml =
            "<model><object id=\"1\"><mesh><vertex x=\"0\" y=\"0\" z=\"0\"/>"
            "<vertex x=\"1\" y=\"0\" z=\"0\"/><vertex x=\"0\" y=\"1\" z=\"0\"/>"
            "<triangle v1=\"0\" v2=\"1\" v3=\"2\"/>";
        for (int k = 0; k < 6'000'000; ++k)  // of no area, so that drawing them takes no time
            xml += "<triangle v1=\"0\" v2=\"1\" v3=\"1\"/>";
        xml += "</mesh></object></model>";
        return package(xml);
    }();
    const struct {
        const char* what;
        test::Bytes bytes;
        std::string domain;  // empty: a thumbnail is drawn
        long code;
        std::uint64_t memoryBudget = std::uint64_t{2048} << 20;
    } rows[] = {
        {"a declared size that lies", lying, "", 0},
        {"indices out of range and past 32 bits",
         package(modelPart(
             R"(<object id="1"><mesh><vertex x="0" y="0" z="0"/><vertex x="1" y="0" z="0"/>)"
             R"(<vertex x="0" y="1" z="0"/><triangle v1="0" v2="1" v3="2"/>)"
             R"(<triangle v1="0" v2="1" v3="3"/><triangle v1="0" v2="4294967296" v3="1"/>)"
             "</mesh></object>",
             "")),
         "", 0},
        {"components that cycle",
         package(modelPart(
             mesh +
                 R"(<object id="5"><components><component objectid="6"/></components></object>)"
                 R"(<object id="6"><components><component objectid="5"/><component objectid="1"/>)"
                 "</components></object>",
             R"(<item objectid="5"/>)")),
         "", 0},
        {"a stream of blanks that expands a thousandfold",
         package("<model>" + std::string(20 << 20, ' ') + "</model>"), "SceneLoader", -12},
        {"an element longer than what waits for its end",
         package(modelPart(mesh + "<metadata name=\"" + std::string(70 << 20, 'x') + "\"/>", "")),
         "SceneLoader", -13},
        {"more vertices than the memory budget holds (48 MB in 0.5 MB)", vertices, "POSIX", ENOMEM,
         std::uint64_t{40} << 20},
        // Triangles are read from the part again as they are drawn, never held.
        {"more triangles than the memory budget holds (72 MB of indices)", triangles, "", 0,
         std::uint64_t{80} << 20},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::filesystem::path file = dir.write("hostile.3mf", row.bytes);
        if (row.domain.empty()) {
            ASSERT_TRUE(SceneLoader().openStreamed(file, 1)) << "takes the streamed path";
        } else if (row.domain == "SceneLoader") {
            EXPECT_THROW(SceneLoader().openStreamed(file, 1), Error);
        }
        if (test::underAddressSanitizer && row.domain == "POSIX") continue;
        const WorkerResult result = thumbnailWithThreshold(file, 1, row.memoryBudget);
        if (row.domain.empty()) {
            EXPECT_FALSE(result.error) << result.error->localizedDescription();
            EXPECT_TRUE(decodePNG(result.png));
        } else {
            ASSERT_TRUE(result.error);
            EXPECT_EQ(result.error->domain(), row.domain);
            EXPECT_EQ(result.error->code(), row.code);
        }
    }
}

}  // namespace
}  // namespace kelvo
