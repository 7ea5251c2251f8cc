// PLY: the same mesh in ASCII and both binary byte orders gives the same geometry; the
// properties MeshLab and scanners write are read; hostile headers and bodies end cleanly.
#include <gtest/gtest.h>

#include <bit>

#include "platform/ModelIO/PLYImporter.h"
#include "tests/support/ImportedGeometry.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

using test::floats;
using test::geometryOf;
using test::indices;

ModelAsset importBytes(const test::Bytes& bytes,
                       const std::filesystem::path& url = "/nonexistent/m.ply") {
    return importPLY(test::span(bytes), url);
}
test::Bytes bytesOf(const std::string& text) {
    return test::Bytes(text.begin(), text.end());
}

// Appends a value in the given byte order.
template <class T>
void put(test::Bytes& b, T value, bool bigEndian) {
    std::uint8_t raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    if (bigEndian) std::reverse(raw, raw + sizeof(T));
    b.insert(b.end(), raw, raw + sizeof(T));
}

// A unit square as two faces (a triangle and a triangle-quad with a repeated corner would
// be odd; so a quad and a triangle on four vertices): float positions, uchar colours,
// double normals, a ushort-counted uint list, and an element the importer skips.
const char* squareHeader =
    "element comment_block 2\nproperty list uchar char text\n"
    "element vertex 4\nproperty float x\nproperty float y\nproperty float z\n"
    "property uchar red\nproperty uchar green\nproperty uchar blue\nproperty double nz\n"
    "element face 2\nproperty list ushort uint vertex_indices\nproperty int flags\nend_header\n";
const float square[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

test::Bytes binarySquare(bool bigEndian) {
    test::Bytes b = bytesOf(std::string("ply\nformat ") +
                            (bigEndian ? "binary_big_endian" : "binary_little_endian") + " 1.0\n" +
                            squareHeader);
    for (int row = 0; row < 2; ++row) {
        put<std::uint8_t>(b, 2, bigEndian);
        put<std::int8_t>(b, 'h', bigEndian);
        put<std::int8_t>(b, 'i', bigEndian);
    }
    for (int v = 0; v < 4; ++v) {
        for (float c : square[v])
            put(b, c, bigEndian);
        for (std::uint8_t c : {std::uint8_t(255), std::uint8_t(v * 51), std::uint8_t(0)})
            put(b, c, bigEndian);
        put(b, 1.0, bigEndian);
    }
    put<std::uint16_t>(b, 4, bigEndian);
    for (std::uint32_t i : {0u, 1u, 2u, 3u})
        put(b, i, bigEndian);
    put<std::int32_t>(b, 7, bigEndian);
    put<std::uint16_t>(b, 3, bigEndian);
    for (std::uint32_t i : {0u, 2u, 3u})
        put(b, i, bigEndian);
    put<std::int32_t>(b, 7, bigEndian);
    return b;
}

test::Bytes asciiSquare() {
    return bytesOf(std::string("ply\r\nformat ascii 1.0\ncomment made by hand\n") + squareHeader +
                   "2 104 105\n2 104 105\n"
                   "0 0 0 255 0 0 1\n1 0 0 255 51 0 1\n1 1 0 255 102 0 1\n0 1 0 255 153 0 1.0\n"
                   "4 0 1 2 3 7\n3\n0 2 3 7\n");  // rows need not follow lines
}

TEST(PLYImporter, asciiAndBothBinaryOrdersGiveTheSameMesh) {
    for (const test::Bytes& file : {asciiSquare(), binarySquare(false), binarySquare(true)}) {
        ModelAsset asset = importBytes(file);
        test::expectConsistent(asset);
        const Geometry& g = geometryOf(asset);
        EXPECT_EQ(g.vertexCount(), 4);
        EXPECT_EQ(indices(g.elements.at(0)),
                  (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3, 0, 2, 3}));
        EXPECT_EQ(floats(g.source(GeometrySemantic::vertex))[6], 1.0f);
        EXPECT_EQ(floats(g.source(GeometrySemantic::normal))[11], 1.0f);
        const std::vector<float> colors = floats(g.source(GeometrySemantic::color));
        ASSERT_EQ(colors.size(), 12u);
        EXPECT_EQ(colors[0], 1.0f);
        EXPECT_FLOAT_EQ(colors[7], 0.4f);  // 102 / 255
        // Vertex colours show as they are: the material is white.
        EXPECT_EQ(g.materials.at(0)->diffuse, MaterialContents(Color::white(1, 1)));
    }
}

TEST(PLYImporter, namesOfColoursAndTextureCoordinatesThatWritersUse) {
    const std::string vertices = "0 0 0 0.5 0.25 1\n1 0 0 0 0 1\n0 1 0 0 0 1\n";
    for (std::string names : {"s t", "u v", "texture_u texture_v", "texture_s texture_t"}) {
        const std::string u = names.substr(0, names.find(' ')),
                          v = names.substr(names.find(' ') + 1);
        ModelAsset asset =
            importBytes(bytesOf("ply\nformat ascii 1.0\nelement vertex 3\nproperty float "
                                "x\nproperty float y\nproperty float z\n"
                                "property float " +
                                u + "\nproperty float " + v +
                                "\nproperty float w\nelement face 1\n"
                                "property list uchar int vertex_index\nend_header\n" +
                                vertices + "3 0 1 2\n"));
        const std::vector<float> uv = floats(geometryOf(asset).source(GeometrySemantic::texcoord));
        ASSERT_EQ(uv.size(), 6u) << names;
        EXPECT_EQ(uv[0], 0.5f);
        EXPECT_EQ(uv[1], 0.75f) << "v turned to grow downwards";
    }
    ModelAsset scan = importBytes(bytesOf(
        "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\nproperty "
        "float z\n"
        "property uchar diffuse_red\nproperty uchar diffuse_green\nproperty uchar diffuse_blue\n"
        "property float alpha\nend_header\n0 0 0 255 0 0 0.5\n1 1 1 0 255 0 1\n"));
    const Geometry& g = geometryOf(scan);
    EXPECT_EQ(g.pointCount(), 2) << "vertices without faces are a point cloud";
    ModelAsset noFaces =
        importBytes(bytesOf("ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty "
                            "float y\nproperty float z\n"
                            "element face 0\nproperty list uchar int vertex_indices\nproperty list "
                            "uchar float texcoord\n"
                            "end_header\n0 0 0\n1 1 1\n"));
    test::expectConsistent(noFaces);
    EXPECT_EQ(geometryOf(noFaces).pointCount(), 2) << "even when faces would have had corner data";
    EXPECT_EQ(floats(g.source(GeometrySemantic::color)),
              (std::vector<float>{1, 0, 0, 0.5f, 0, 1, 0, 1}));
}

TEST(PLYImporter, perCornerTextureCoordinatesAndFaceColoursSplitVertices) {
    // MeshLab's form: a texture named in a comment, u v per corner in a face list.
    ModelAsset textured = importBytes(
        bytesOf("ply\nformat ascii 1.0\ncomment TextureFile  my texture.png \nelement vertex "
                "4\nproperty float x\n"
                "property float y\nproperty float z\nelement face 2\nproperty list uchar int "
                "vertex_indices\n"
                "property list uchar float texcoord\nend_header\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n"
                "3 0 1 2 6 0 0 1 0 1 1\n3 0 2 3 6 0.5 0.5 1 1 0 1\n"));
    const Geometry& g = geometryOf(textured);
    EXPECT_EQ(g.vertexCount(), 5);  // corner 0 has two texture coordinates, corner 2 one
    ASSERT_EQ(textured.textures.size(), 1u);
    EXPECT_EQ(textured.textures[0].reference, "my texture.png");
    EXPECT_EQ(g.materials.at(0)->diffuseTexture.texture.get(), textured.textures[0].texture.get());

    // Vertex colours all alike (MeshLab writes white ones) give way to the faces' colours.
    ModelAsset painted = importBytes(bytesOf(
        "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
        "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
        "element face 2\nproperty list uchar int vertex_indices\nproperty uchar red\n"
        "property uchar green\nproperty uchar blue\nend_header\n"
        "0 0 0 9 9 9\n1 0 0 9 9 9\n1 1 0 9 9 9\n0 1 0 9 9 9\n3 0 1 2 255 0 0\n3 0 2 3 0 0 255\n"));
    const Geometry& p = geometryOf(painted);
    EXPECT_EQ(p.vertexCount(), 6);
    const std::vector<float> colors = floats(p.source(GeometrySemantic::color));
    EXPECT_EQ(std::vector<float>(colors.end() - 4, colors.end()), (std::vector<float>{0, 0, 1, 1}));
}

TEST(PLYImporter, headersThatAreNotPLYAreClearErrors) {
    struct {
        std::string file;
        const char* says;
    } cases[] = {
        {"", "start with the line \"ply\""},
        {"\xFF\xFEp\0l\0y\0", "start with the line \"ply\""},
        {"plyx\nformat ascii 1.0\nend_header\n", "start with the line \"ply\""},
        {"ply\nformat binary_middle_endian 1.0\nend_header\n", "format \"binary_middle_endian\""},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty quad x\nend_header\n", "type \"quad\""},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty list float int v\nend_header\n",
         "count type"},
        {"ply\nformat ascii 1.0\nelement vertex -1\nend_header\n", "no count"},
        {"ply\nformat ascii 1.0\nelement vertex 3\n", "no end_header"},
        {"ply\nelement vertex 0\nend_header\n", "no format"},
    };
    for (const auto& c : cases) {
        std::optional<Error> e = test::caught<Error>([&] { importBytes(bytesOf(c.file)); });
        ASSERT_TRUE(e) << c.says << ": no error";
        EXPECT_EQ(e->domain(), "ModelIO");
        EXPECT_NE(e->localizedDescription().find(c.says), std::string::npos) << e->localizedDescription();
    }
}

TEST(PLYImporter, lyingCountsBadIndicesAndEveryTruncationEndCleanly) {
    // Declared counts far beyond the bytes, a face past the vertices, one with a negative
    // index, and one with fewer than three corners.
    test::Bytes huge = bytesOf(
        "ply\nformat binary_little_endian 1.0\nelement empty 4000000000000\nelement vertex "
        "4000000000\n"
        "property float x\nproperty float y\nproperty float z\nelement face 4000000000\n"
        "property list uint int vertex_indices\nend_header\n");
    for (float c : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f})
        put(huge, c, false);
    ModelAsset points = importBytes(huge);
    EXPECT_EQ(geometryOf(points).pointCount(), 3) << "the body ends inside the vertices";

    test::Bytes square = binarySquare(false);
    // Every prefix of the body: whole vertices and faces read, never more.
    for (size_t n = square.size() - 80; n <= square.size(); ++n) {
        std::unique_ptr<std::uint8_t[]> prefix(new std::uint8_t[n]);
        std::memcpy(prefix.get(), square.data(), n);
        ModelAsset asset = importPLY(ByteSpan(prefix.get(), n), "/nonexistent/m.ply");
        test::expectConsistent(asset);
    }
    ModelAsset bad = importBytes(bytesOf(
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty "
        "float z\n"
        "element face 5\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n"
        "3 0 1 3\n3 0 -1 2\n2 0 1\n3 0 1 2\n3 0 1 x\n3 0 1 2\n"));
    EXPECT_EQ(geometryOf(bad).triangleCount(), 1) << "text that is not a number ends the reading";
}

}  // namespace
}  // namespace kelvo
