// OBJ and MTL: the statements and forms the importer promises, and bad input that must give
// a clear error or the readable part.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "platform/ModelIO/OBJImporter.h"
#include "tests/support/ImportedGeometry.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

using test::floats;
using test::geometryOf;
using test::indices;

ModelAsset importText(const std::string& text,
                      const std::filesystem::path& url = "/nonexistent/model.obj") {
    return importOBJ(ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                     url);
}

TEST(OBJImporter, statementsAndLineFormsGiveTheirGeometry) {
    struct {
        const char* name;
        std::string text;
        std::int64_t vertices, triangles, points;
    } cases[] = {
        {"CR LF, no final line end", "v 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nf 1 2 3", 3, 1, 0},
        {"CR alone", "v 0 0 0\rv 1 0 0\rv 0 1 0\rf 1 2 3\r", 3, 1, 0},
        {"negative indices", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf -4 -3 -2 -1\n", 4, 2, 0},
        {"continued line", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 \\\n 3\n", 3, 1, 0},
        {"forward reference", "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\n", 3, 1, 0},
        {"hexagon", "v 0 0 0\nv 2 0 0\nv 3 1 0\nv 2 2 0\nv 0 2 0\nv -1 1 0\nf 1 2 3 4 5 6\n", 6, 4,
         0},
        {"vertices alone are a point cloud", "v 0 0 0\nv 1 0 0\n# no faces\n", 2, 0, 2},
        {"points and a face", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 5 5 5\nf 1 2 3\np 4 1\n", 4, 1, 2},
        {"index 0 and past the end leave the face out",
         "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 0\nf 1 2 4\nf -1 -2 -4\nf 1 2 3\n", 3, 1, 0},
        {"lines, groups and unknown statements are skipped",
         "o a\ng b\ns 1\nvp 0 0\nl 1 2\nv 0 0 0\nv 1 0 0\nv 0 1 0\ncstype bezier\nf 1 2 3 junk\n",
         3, 1, 0},
        {"UTF-8 byte order mark", "\xEF\xBB\xBFv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", 3, 1, 0},
    };
    for (const auto& c : cases) {
        ModelAsset asset = importText(c.text);
        test::expectConsistent(asset);
        ASSERT_EQ(asset.objects.size(), 1u) << c.name;
        const Geometry& g = geometryOf(asset);
        EXPECT_EQ(g.vertexCount(), c.vertices) << c.name;
        EXPECT_EQ(g.triangleCount(), c.triangles) << c.name;
        EXPECT_EQ(g.pointCount(), c.points) << c.name;
    }
}

TEST(OBJImporter, cornersShareVerticesOnlyWhenTheyAgree) {
    // A quad of two triangles; the shared edge's corners agree in v/vt/vn, and vertex 1 is
    // used once more with another texture coordinate.
    ModelAsset asset = importText(
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0.5 0.25\nvn 0 0 "
        "1\n"
        "f 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 4/4/1\nf 1/5/1 3/3/1 4/4/1\n");
    const Geometry& g = geometryOf(asset);
    EXPECT_EQ(g.vertexCount(), 5);
    const std::vector<std::uint32_t> t = indices(g.elements.at(0));
    EXPECT_EQ(t, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3, 4, 2, 3}));
    // v grows downwards in the image: vt 0.5 0.25 becomes (0.5, 0.75).
    const std::vector<float> uv = floats(g.source(GeometrySemantic::texcoord));
    EXPECT_EQ(uv[8], 0.5f);
    EXPECT_EQ(uv[9], 0.75f);
    EXPECT_EQ(floats(g.source(GeometrySemantic::normal))[2], 1.0f);
    // Without vt and vn, every position is a vertex as it stands.
    ModelAsset plain = importText("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 9 9 9\nf 1 2 3\n");
    EXPECT_EQ(geometryOf(plain).vertexCount(), 4);
    EXPECT_EQ(geometryOf(plain).source(GeometrySemantic::texcoord), nullptr);
}

TEST(OBJImporter, normalsOnlyWhenEveryCornerHasOne) {
    ModelAsset asset = importText("v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3\n");
    EXPECT_EQ(geometryOf(asset).source(GeometrySemantic::normal), nullptr);
    // In a point cloud, normals pair with vertices by number when there are as many.
    ModelAsset cloud = importText("vn 0 0 1\nv 0 0 0\nvn 0 1 0\nv 1 0 0\n");
    EXPECT_EQ(floats(geometryOf(cloud).source(GeometrySemantic::normal)),
              (std::vector<float>{0, 0, 1, 0, 1, 0}));
}

TEST(OBJImporter, vertexColoursAreKeptAndVerticesWithoutOneAreWhite) {
    ModelAsset asset = importText("v 0 0 0\nv 1 0 0 1 0 0\nv 0 1 0 0 0.5 1\nf 1 2 3\n");
    EXPECT_EQ(floats(geometryOf(asset).source(GeometrySemantic::color)),
              (std::vector<float>{1, 1, 1, 1, 0, 0, 0, 0.5f, 1}));
    // Four numbers are x y z w: no colour.
    EXPECT_EQ(geometryOf(importText("v 0 0 0 1\nv 1 0 0 1\nv 0 1 0 1\nf 1 2 3\n"))
                  .source(GeometrySemantic::color),
              nullptr);
}

TEST(OBJImporter, numbersAreReadAsTheCLibraryReadsThemInTheCLocale) {
    const char* numbers[] = {"0.1",   "-1e-45",       "+2.5",  "1.5e40",
                             "0x1p3", "3.4028235e38", "1e-38", "007.50"};
    std::string text;
    for (const char* n : numbers)
        text += std::string("v ") + n + " 0 0\n";
    // Whatever the process's locale says about decimal commas.
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    ModelAsset asset = importText(text);
    const std::vector<float> p = floats(geometryOf(asset).source(GeometrySemantic::vertex));
    for (size_t i = 0; i < std::size(numbers); ++i) {
        std::setlocale(LC_NUMERIC, "C");
        EXPECT_EQ(p.at(3 * i), std::strtof(numbers[i], nullptr)) << numbers[i];
    }
}

TEST(OBJImporter, utf16IsAClearError) {
    for (std::string bom : {std::string("\xFF\xFE"), std::string("\xFE\xFF")}) {
        std::optional<Error> e = test::caught<Error>([&] { importText(bom + std::string("v\0 \0", 4)); });
        ASSERT_TRUE(e) << "no error";
        EXPECT_EQ(e->domain(), "ModelIO");
        EXPECT_NE(e->localizedDescription().find("UTF-16"), std::string::npos);
    }
}

TEST(OBJImporter, materialsGiveOneElementEachInTheOrderOfFirstUse) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "lib");
    dir.write("lib/my materials.mtl",
              "newmtl red\nKd 1 0 0\nillum 1\n"
              "newmtl  glass pane \nKd 0 0 1\nd 0.25\nTr 0.5\nKs 1 1 1\nNs 50\n"
              "newmtl solid\nTr 1\nillum 0\n"
              "newmtl metal\nPm 1\nPr 0.3\n"
              "newmtl textured\nmap_Kd -s 2 2 -clamp on -bm 0.5 tex\\wood grain.png\n"
              "newmtl red\nKd 0 1 0\n");
    const std::filesystem::path url =
        dir.write("m.obj",
                  "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
                  "usemtl glass pane\nf 1 2 3\nusemtl red\nf 1 2 3\nusemtl glass pane\nf 1 2 3\n"
                  "usemtl solid\nf 1 2 3\nusemtl metal\nf 1 2 3\nusemtl textured\nf 1 2 3\nusemtl "
                  "unknown\nf 1 2 3\n"
                  "mtllib lib/my materials.mtl\n");
    ModelAsset asset = importOBJFile(url);
    const Geometry& g = geometryOf(asset);
    ASSERT_EQ(g.elements.size(), 6u);
    EXPECT_EQ(g.elements[0].primitiveCount, 2);  // both glass pane faces
    const Material& glass = *g.materials[0];
    EXPECT_EQ(glass.name, "glass pane");
    EXPECT_EQ(glass.diffuse, MaterialContents(Color{0, 0, 1, 0.25}));  // d wins over Tr
    EXPECT_EQ(glass.alphaMode, AlphaMode::blend);
    EXPECT_EQ(glass.lightingModelName, LightingModel::blinn);
    EXPECT_EQ(glass.specular, (Color{1, 1, 1, 1}));
    EXPECT_EQ(glass.shininess, 50);
    const Material& red = *g.materials[1];  // the first definition of a name wins
    EXPECT_EQ(red.diffuse, MaterialContents(Color{1, 0, 0, 1}));
    EXPECT_EQ(red.lightingModelName, LightingModel::lambert);
    const Material& solid = *g.materials[2];  // Tr 1 from a common exporter means opaque
    EXPECT_EQ(solid.alphaMode, AlphaMode::opaque);
    EXPECT_EQ(solid.lightingModelName, LightingModel::constant);
    const Material& metal = *g.materials[3];
    EXPECT_EQ(metal.lightingModelName, LightingModel::physicallyBased);
    EXPECT_EQ(metal.metalness, MaterialContents(1.0));
    EXPECT_EQ(metal.roughness, MaterialContents(0.30000001192092896));
    const Material& textured = *g.materials[4];
    ASSERT_TRUE(textured.diffuseTexture);
    EXPECT_EQ(textured.diffuse, MaterialContents(Color::white(1, 1)));
    EXPECT_EQ(textured.diffuseTexture.wrapS, TextureWrap::clampToEdge);
    EXPECT_EQ(textured.diffuseTexture.scale[1], 2);
    EXPECT_EQ(textured.diffuseTexture.offset[1], -1);  // v turned: 1 - 0 - 2
    ASSERT_EQ(asset.textures.size(), 1u);
    EXPECT_EQ(asset.textures[0].reference, "tex\\wood grain.png");
    EXPECT_EQ(asset.textures[0].referringFile, dir.path() / "lib/my materials.mtl");
    EXPECT_EQ(asset.textures[0].texture.get(), textured.diffuseTexture.texture.get());
    EXPECT_EQ(g.materials[5]->name, "");  // a name no library defines: the neutral material
}

TEST(OBJImporter, hostileInputEndsInBoundedWork) {
    // Huge indices, a face of a hundred thousand corners, a megabyte line of digits, a
    // position used with thousands of texture coordinates: each is read in one pass.
    std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nf 99999999999999999999 1 2\nf 1 2";
    for (int i = 0; i < 100000; ++i)
        text += i % 2 ? " 2" : " 3";
    text += "\nv " + std::string(1 << 20, '7') + " 0 0\n";
    for (int i = 0; i < 5000; ++i)
        text += "vt 0 " + std::to_string(i) + "\nf 1/" + std::to_string(i + 2) + " 2/1 3/1\n";
    ModelAsset asset = importText(text);
    test::expectConsistent(asset);
    EXPECT_EQ(geometryOf(asset).triangleCount(), 100000 + 5000);
}

}  // namespace
}  // namespace kelvo
