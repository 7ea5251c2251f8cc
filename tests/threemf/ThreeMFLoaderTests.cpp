// load3MF on generated packages: the node tree, where meshes land, what components draw,
// which failures are errors, and the limits that keep a small hostile package from
// multiplying work. (Broken packages failing with the ZIP reader's error: the corpus test.)
#include <gtest/gtest.h>

#include <cmath>

#include "extensions/Shared/SceneLoader.h"
#include "tests/support/ZIPWriter.h"

namespace kelvo {
namespace {

using test::Bytes;

// A mesh object of one triangle whose first vertex is at (x, 0, 0).
std::string triangleObject(int id, int x = 0) {
    return "<object id=\"" + std::to_string(id) + "\"><mesh><vertex x=\"" + std::to_string(x) +
           R"(" y="0" z="0"/><vertex x="1" y="0" z="0"/><vertex x="0" y="1" z="0"/>)"
           R"(<triangle v1="0" v2="1" v3="2"/></mesh></object>)";
}
std::string component(int objectId, const std::string& attributes = "") {
    return "<component objectid=\"" + std::to_string(objectId) + "\" " + attributes + "/>";
}
std::string assembly(int id, const std::string& components) {
    return "<object id=\"" + std::to_string(id) + "\"><components>" + components +
           "</components></object>";
}

std::shared_ptr<Scene> load(const Bytes& package) {
    static const test::TempDir dir;
    return SceneLoader().load(dir.write("model.3mf", package));
}
std::shared_ptr<Scene> loadRoot(const std::string& root) {
    return load(test::threeMFPackage({{"3D/3dmodel.model", root}}));
}
const Node& buildNode(const Scene& s) {
    return *s.rootNode->childNodes().at(0)->childNodes().at(0);
}
// Where the first vertex of each geometry node lands in the scene (to 1e-4), in tree order.
std::vector<Vec3> firstVertices(const Scene& scene) {
    std::vector<Vec3> out;
    scene.rootNode->enumerateChildNodes([&](Node& node, bool&) {
        if (!node.geometry) return;
        float p[3];
        node.geometry->sources.at(0).readFloat3(0, p);
        const Vec3 w = transformPoint(node.worldTransform(), {p[0], p[1], p[2]});
        auto round = [](double v) { return std::round(v * 1e4) / 1e4; };
        out.push_back({round(w.x), round(w.y), round(w.z)});
    });
    return out;
}

TEST(ThreeMFLoader, oneMeshMakesTheFixedNodeTreeWithTheGreyMaterial) {
    auto scene =
        loadRoot(triangleObject(1) + R"(<item objectid="1" transform="2 0 0 0 2 0 0 0 2 0 0 0"/>)");
    auto only = [](const Node& n) -> const Node& {
        EXPECT_EQ(n.childNodes().size(), 1u);
        return *n.childNodes().at(0);
    };
    const Node &container = only(*scene->rootNode), &build = only(container), &pair = only(build);
    EXPECT_EQ(container.eulerAngles(), (Vec3{-1.5707963267948966, 0, 0}));
    EXPECT_EQ(build.transform().m[0][0], 2);
    EXPECT_EQ(pair.transform(), Mat4::identity());
    const Geometry& g = *only(pair).geometry;
    ASSERT_EQ(g.sources.size() * g.elements.size() * g.materials.size(), 1u);
    EXPECT_EQ(g.sources[0].semantic, GeometrySemantic::vertex);
    EXPECT_EQ(std::pair(g.sources[0].vectorCount, g.sources[0].dataStride), std::pair(3l, 12l));
    EXPECT_EQ(std::pair(g.elements[0].primitiveCount, g.elements[0].bytesPerIndex),
              std::pair(1l, 4l));
    const Material& m = *g.materials[0];
    EXPECT_EQ(m.lightingModelName, LightingModel::physicallyBased);
    EXPECT_EQ(std::get<Color>(m.diffuse), Color::white(0.7, 1.0));
    EXPECT_EQ(std::get<double>(m.metalness), 0.1);
    EXPECT_EQ(std::get<double>(m.roughness), 0.6);
}

TEST(ThreeMFLoader, theFirstBuildItemPlacesEverythingTurnedYUp) {
    // (10, 20, 30) in the package shows as (10, 30, -20); the second item changes nothing.
    const std::string objects = triangleObject(1) + triangleObject(2, 5);
    auto scene = loadRoot(objects + R"(<item objectid="2" transform="1 0 0 0 1 0 0 0 1 10 20 30"/>)"
                                    R"(<item objectid="1" transform="1 0 0 0 1 0 0 0 1 9 9 9"/>)");
    EXPECT_EQ(firstVertices(*scene), (std::vector<Vec3>{{10, 30, -20}, {15, 30, -20}}));
    // No build item: all, unmoved.
    EXPECT_EQ(firstVertices(*loadRoot(objects)), (std::vector<Vec3>{{0, 0, 0}, {5, 0, 0}}));
}

TEST(ThreeMFLoader, componentsDrawTheirMeshOncePerUseAndOneLevelDeep) {
    // Object 5 stands alone; object 1 shows only through its components: shifted, and turned
    // a quarter about z in the row-vector layout ((5, 0, 0) -> (0, 5, 0) + (1, 2, 3)).
    auto scene =
        loadRoot(triangleObject(1, 5) + triangleObject(5, 50) +
                 assembly(2, component(1, R"(transform="1 0 0 0 1 0 0 0 1 10 0 0")") +
                                 component(1, R"(transform="0 1 0 -1 0 0 0 0 1 1 2 3")")) +
                 assembly(3, component(2) + component(7)));  // an assembly, a missing object
    EXPECT_EQ(firstVertices(*scene), (std::vector<Vec3>{{50, 0, 0}, {15, 0, 0}, {1, 3, -7}}));
    EXPECT_EQ(buildNode(*scene).childNodes().size(), 3u);
}

TEST(ThreeMFLoader, componentPartsAreFoundByTheirPathLessOneLeadingSlash) {
    std::string uses = component(9, R"(p:path="/3D/part.model")");
    for (const char* path :
         {R"(p:path="/3D/part.model")", R"(path="3D/part.model")", R"(p:path="//3D/part.model")",
          R"(p:path="/3D/Part.model")", R"(p:path="/3D/3dmodel.model")"})
        uses += component(4, path);
    auto scene =
        load(test::threeMFPackage({{"3D/3dmodel.model", triangleObject(4, 3) + assembly(2, uses)},
                                   {"3D/part.model", triangleObject(4, 40)}}));
    // Object 4 of the root stands alone (only local components hide an object), then the
    // part's object 4 twice, then the root part read again as a component part.
    EXPECT_EQ(firstVertices(*scene),
              (std::vector<Vec3>{{3, 0, 0}, {40, 0, 0}, {40, 0, 0}, {3, 0, 0}}));
}

TEST(ThreeMFLoader, unreadablePartsAreSkippedAndNothingToDrawIsAnError) {
    std::vector<test::ZIPTestEntry> entries = {
        {"3D/3dmodel.model",
         test::bytesOf(assembly(2, component(1, R"(p:path="/a.model")") +
                                       component(1, R"(p:path="/b.model")") +
                                       component(1, R"(p:path="/empty.model")")))},
        {"a.model", test::bytesOf(triangleObject(1, 1))},
        {"b.model", test::bytesOf(triangleObject(1, 2)), 12},  // unsupported method
        {"empty.model", test::bytesOf("<model/>")},
    };
    EXPECT_EQ(firstVertices(*load(test::writeZIP(entries).bytes)), (std::vector<Vec3>{{1, 0, 0}}));
    entries[1].method = 12;
    for (const Bytes& package :
         {test::writeZIP(entries).bytes,
          test::threeMFPackage(
              {{"3D/3dmodel.model",
                R"(<object id="1"><mesh><vertex x="1" y="1" z="1"/></mesh></object>)"}}),
          test::threeMFPackage({{"3D/3dmodel.model", "not xml"}})}) {
        EXPECT_EQ(test::thrown<Error>([&] { load(package); }),
                  makeError("SceneLoader", -12, "No mesh data found in 3MF model"));
    }
}

TEST(ThreeMFLoader, overlappingEntriesCannotMultiplyTheDecodingWork) {
    // Two directory records share one deflated part and declare a huge size, so each asks
    // for the most its stream could fill; together more than a package of this size could
    // hold without overlap. The second is skipped.
    std::string junk;
    for (int k = 0; k < 3000; ++k)
        junk += std::to_string(k * 7919 % 100003) + " ";
    test::ZIPTestPackage p = test::writeZIP({
        {"3D/3dmodel.model", test::bytesOf(assembly(2, component(1, R"(p:path="/a.model")") +
                                                           component(1, R"(p:path="/b.model")")))},
        {"a.model", test::bytesOf(triangleObject(1, 1) + "<!--" + junk + "-->")},
        {"b.model", test::bytesOf(triangleObject(1, 2))},
    });
    for (size_t k : {1u, 2u})
        test::poke(p.bytes, p.centralRecords[k] + test::zipField::centralSize, 0xFFFFFFFF);
    EXPECT_EQ(firstVertices(*load(p.bytes)).size(), 2u);
    // b's record now names a's bytes.
    std::copy_n(p.bytes.begin() + p.centralRecords[1] + 20, 4,
                p.bytes.begin() + p.centralRecords[2] + 20);
    test::poke(p.bytes, p.centralRecords[2] + test::zipField::centralLocalOffset,
               static_cast<std::uint32_t>(p.localHeaders[1]));
    EXPECT_EQ(firstVertices(*load(p.bytes)), (std::vector<Vec3>{{1, 0, 0}}));
}

TEST(ThreeMFLoader, manyComponentsOfManyMeshesStayWithinTheGeometryNodeLimit) {
    // 300 meshes filed under one id and 300 components using it would make 90,000 geometry
    // nodes from 30 KB; a part this small may make 4096. Every pair node is still made.
    std::string meshes, components;
    for (int k = 0; k < 300; ++k) {
        meshes += R"(<mesh><vertex x="0" y="0" z="0"/><triangle v1="0" v2="0" v3="0"/></mesh>)";
        components += component(1);
    }
    auto scene = loadRoot("<object id=\"1\">" + meshes + "</object>" + assembly(2, components));
    EXPECT_EQ(buildNode(*scene).childNodes().size(), 300u);
    EXPECT_EQ(firstVertices(*scene).size(), 4096u);
}

}  // namespace
}  // namespace kelvo
