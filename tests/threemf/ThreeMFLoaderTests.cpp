// load3MF end to end on generated packages: the node tree, where meshes land, which
// components draw what, which failures are errors, and the limits that keep a small hostile
// package from multiplying work.
#include <gtest/gtest.h>

#include <cmath>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/ZIPReader.h"
#include "tests/support/ZIPWriter.h"

namespace kelvo {

inline void PrintTo(const ZIPReader::ZIPError& e, std::ostream* os) {
    *os << e.what();
}

namespace {

using test::Bytes;
using ZIPError = ZIPReader::ZIPError;

// A mesh object with one triangle whose first vertex is at (x, 0, 0).
std::string triangleObject(int id, float x = 0) {
    std::string v = std::to_string(x);
    return "<object id=\"" + std::to_string(id) + "\" type=\"model\"><mesh><vertices><vertex x=\"" +
           v +
           "\" y=\"0\" z=\"0\"/><vertex x=\"1\" y=\"0\" z=\"0\"/><vertex x=\"0\" y=\"1\" "
           "z=\"0\"/></vertices>"
           "<triangles><triangle v1=\"0\" v2=\"1\" v3=\"2\"/></triangles></mesh></object>";
}
std::string component(int objectId, const std::string& more = "") {
    return "<component objectid=\"" + std::to_string(objectId) + "\"" + more + "/>";
}
std::string assembly(int id, const std::string& components) {
    return "<object id=\"" + std::to_string(id) + "\"><components>" + components +
           "</components></object>";
}
std::string model(const std::string& resources, const std::string& build = "") {
    return "<?xml version=\"1.0\"?><model unit=\"millimeter\" "
           "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">"
           "<resources>" +
           resources + "</resources><build>" + build + "</build></model>";
}

class ThreeMFLoader : public ::testing::Test {
protected:
    std::shared_ptr<Scene> load(const Bytes& package) {
        return SceneLoader().load(dir_.write("model.3mf", package));
    }
    std::shared_ptr<Scene> loadParts(
        const std::vector<std::pair<std::string, std::string>>& parts) {
        return load(test::threeMFPackage(parts));
    }
    // The build node's children: one per draw-list pair.
    static const std::vector<std::shared_ptr<Node>>& pairs(const Scene& scene) {
        return scene.rootNode->childNodes().at(0)->childNodes().at(0)->childNodes();
    }
    // Where the first vertex of each geometry node lands in the scene, in tree order.
    static std::vector<Vec3> firstVertices(const Scene& scene) {
        std::vector<Vec3> out;
        scene.rootNode->enumerateChildNodes([&](Node& node, bool&) {
            if (!node.geometry) return;
            float p[3];
            node.geometry->sources.at(0).readFloat3(0, p);
            Vec3 world = transformPoint(node.worldTransform(), {p[0], p[1], p[2]});
            out.push_back({std::round(world.x * 1e4) / 1e4, std::round(world.y * 1e4) / 1e4,
                           std::round(world.z * 1e4) / 1e4});
        });
        return out;
    }
    template <class F>
    static Error sceneLoaderErrorOf(F&& f) {
        try {
            f();
        } catch (const Error& e) {
            return e;
        }
        ADD_FAILURE() << "no error";
        return Error("", 0);
    }
    test::TempDir dir_;
};

TEST_F(ThreeMFLoader, oneMeshMakesTheFixedNodeTree) {
    auto scene =
        loadParts({{"3D/3dmodel.model",
                    model(triangleObject(1),
                          R"(<item objectid="1" transform="2 0 0 0 2 0 0 0 2 0 0 0"/>)")}});
    ASSERT_EQ(scene->rootNode->childNodes().size(), 1u);
    const Node& container = *scene->rootNode->childNodes()[0];
    EXPECT_EQ(container.eulerAngles().x, -1.5707963267948966);
    EXPECT_EQ(container.eulerAngles().y, 0);
    ASSERT_EQ(container.childNodes().size(), 1u);
    const Node& build = *container.childNodes()[0];
    EXPECT_EQ(build.transform().m[0][0], 2);
    ASSERT_EQ(build.childNodes().size(), 1u);
    const Node& pair = *build.childNodes()[0];
    EXPECT_EQ(pair.transform(), Mat4::identity());
    ASSERT_EQ(pair.childNodes().size(), 1u);
    const Geometry& g = *pair.childNodes()[0]->geometry;
    ASSERT_EQ(g.sources.size(), 1u);
    EXPECT_EQ(g.sources[0].semantic, GeometrySemantic::vertex);
    EXPECT_EQ(g.sources[0].vectorCount, 3);
    EXPECT_EQ(g.sources[0].dataStride, 12);
    ASSERT_EQ(g.elements.size(), 1u);
    EXPECT_EQ(g.elements[0].primitiveCount, 1);
    EXPECT_EQ(g.elements[0].bytesPerIndex, 4);
    ASSERT_EQ(g.materials.size(), 1u);
    const Material& m = *g.materials[0];
    EXPECT_EQ(m.lightingModelName, LightingModel::physicallyBased);
    EXPECT_EQ(std::get<Color>(m.diffuse), Color::white(0.7, 1.0));
    EXPECT_EQ(std::get<double>(m.metalness), 0.1);
    EXPECT_EQ(std::get<double>(m.roughness), 0.6);
    EXPECT_FALSE(m.isDoubleSided);
}

TEST_F(ThreeMFLoader, theFirstBuildItemPlacesEverythingAndTurnsZUpToYUp) {
    // A translation of (10, 20, 30) in the package shows as (10, 30, -20) in the scene; the
    // second item's transform and its choice of object are ignored.
    auto scene =
        loadParts({{"3D/3dmodel.model",
                    model(triangleObject(1) + triangleObject(2, 5),
                          R"(<item objectid="2" transform="1 0 0 0 1 0 0 0 1 10 20 30"/>)"
                          R"(<item objectid="1" transform="1 0 0 0 1 0 0 0 1 99 99 99"/>)")}});
    EXPECT_EQ(firstVertices(*scene), (std::vector<Vec3>{{10, 30, -20}, {15, 30, -20}}));
    // No build item: every mesh object still shows, unmoved.
    scene = loadParts({{"3D/3dmodel.model", model(triangleObject(1) + triangleObject(2, 5))}});
    EXPECT_EQ(firstVertices(*scene), (std::vector<Vec3>{{0, 0, 0}, {5, 0, 0}}));
    EXPECT_EQ(scene->rootNode->childNodes()[0]->childNodes()[0]->transform(), Mat4::identity());
}

TEST_F(ThreeMFLoader, transformsUseTheRowVectorLayout) {
    // A quarter turn about z (x -> y) then a shift: (5, 0, 0) -> (0, 5, 0) + (1, 2, 3).
    auto scene =
        loadParts({{"3D/3dmodel.model",
                    model(triangleObject(1, 5) +
                          assembly(2, component(1, R"( transform="0 1 0 -1 0 0 0 0 1 1 2 3")")))}});
    EXPECT_EQ(firstVertices(*scene), (std::vector<Vec3>{{1, 3, -7}}));
}

TEST_F(ThreeMFLoader, componentsDrawTheirMeshOncePerUseAndOneLevelDeep) {
    auto scene = loadParts(
        {{"3D/3dmodel.model",
          model(triangleObject(1) + triangleObject(5, 50) +
                    assembly(2, component(1, R"( transform="1 0 0 0 1 0 0 0 1 10 0 0")") +
                                    component(1, R"( transform="1 0 0 0 1 0 0 0 1 20 0 0")")) +
                    assembly(3, component(2) + component(7)),  // an assembly, a missing object
                R"(<item objectid="3"/>)")}});
    // Object 5 standalone; object 1 only through its two components, never at its own place.
    EXPECT_EQ(firstVertices(*scene), (std::vector<Vec3>{{50, 0, 0}, {10, 0, 0}, {20, 0, 0}}));
    EXPECT_EQ(pairs(*scene).size(), 3u);
}

TEST_F(ThreeMFLoader, componentPartsAreFoundByPathWithOneLeadingSlash) {
    const std::string part = model(triangleObject(4, 40) + triangleObject(1, 77));
    auto scene = loadParts({
        {"3D/3dmodel.model",
         model(triangleObject(1) + assembly(2, component(4, R"( p:path="/3D/part.model")") +
                                                   component(4, R"( path="3D/part.model")") +
                                                   component(4, R"( p:path="//3D/part.model")") +
                                                   component(4, R"( p:path="/3D/Part.model")") +
                                                   component(4, R"( p:path="/3D/missing.model")") +
                                                   component(9, R"( p:path="/3D/part.model")")))},
        {"3D/part.model", part},
    });
    // Object 1 of the root part stands alone: only local components hide an object.
    EXPECT_EQ(firstVertices(*scene), (std::vector<Vec3>{{0, 0, 0}, {40, 0, 0}, {40, 0, 0}}));
}

TEST_F(ThreeMFLoader, aComponentMayNameTheRootPartItself) {
    auto scene = loadParts(
        {{"3D/3dmodel.model", model(triangleObject(1, 3) +
                                    assembly(2, component(1, R"( p:path="/3D/3dmodel.model")")))}});
    // Standalone from the root part, and again through the part read a second time.
    EXPECT_EQ(firstVertices(*scene), (std::vector<Vec3>{{3, 0, 0}, {3, 0, 0}}));
}

TEST_F(ThreeMFLoader, partsThatCannotBeReadAreSkippedAndNothingToDrawIsAnError) {
    std::vector<test::ZIPTestEntry> entries = {
        {"3D/3dmodel.model",
         test::bytesOf(model(assembly(2, component(1, R"( p:path="/3D/a.model")") +
                                             component(1, R"( p:path="/3D/b.model")") +
                                             component(1, R"( p:path="/3D/empty.model")"))))},
        {"3D/a.model", test::bytesOf(model(triangleObject(1, 1)))},
        {"3D/b.model", test::bytesOf(model(triangleObject(1, 2))), 12},  // unsupported method
        {"3D/empty.model", test::bytesOf(model(""))},
    };
    EXPECT_EQ(firstVertices(*load(test::writeZIP(entries).bytes)), (std::vector<Vec3>{{1, 0, 0}}));
    entries[1].method = 12;
    Error e = sceneLoaderErrorOf([&] { load(test::writeZIP(entries).bytes); });
    EXPECT_EQ(e.domain(), "SceneLoader");
    EXPECT_EQ(e.code(), -12);
    EXPECT_EQ(e.localizedDescription(), "No mesh data found in 3MF model");

    const std::string noTriangles =
        "<object id=\"1\"><mesh><vertices><vertex x=\"1\" y=\"1\" "
        "z=\"1\"/></vertices></mesh></object>";
    for (const std::string& root :
         {model(noTriangles), model(assembly(2, component(1))), std::string("not xml")}) {
        EXPECT_EQ(sceneLoaderErrorOf([&] {
                      loadParts({{"3D/3dmodel.model", root}});
                  }).code(),
                  -12)
            << root;
    }
}

TEST_F(ThreeMFLoader, brokenPackagesFailWithTheZIPReadersError) {
    auto zipErrorOf = [&](const Bytes& package) {
        try {
            load(package);
        } catch (const ZIPError& e) {
            return e;
        }
        ADD_FAILURE() << "no ZIPError";
        return ZIPError::invalidArchive();
    };
    EXPECT_EQ(zipErrorOf(test::bytesOf("solid not a zip at all")), ZIPError::invalidArchive());
    EXPECT_EQ(zipErrorOf(test::threeMFPackage({{"3D/3dmodel.custom", model(triangleObject(1))}})),
              ZIPError::entryNotFound("3D/3dmodel.model"));
    std::vector<test::ZIPTestEntry> stored = {
        {"3D/3dmodel.model", test::bytesOf(model(triangleObject(1))), 9}};
    EXPECT_EQ(zipErrorOf(test::writeZIP(stored).bytes), ZIPError::unsupportedCompression(9));
    Error e = sceneLoaderErrorOf([&] { SceneLoader().load(dir_.path() / "missing.3mf"); });
    EXPECT_EQ(e.domain(), "POSIX");
    EXPECT_EQ(e.code(), ENOENT);
}

TEST_F(ThreeMFLoader, overlappingEntriesCannotMultiplyTheDecodingWork) {
    // Two directory records share one deflated part and both declare a huge size, so each
    // asks for the most the stream could fill. Together they would need more than the
    // package could ever hold without overlap: the second is skipped.
    std::string junk;
    for (int k = 0; k < 3000; ++k)
        junk += std::to_string(k * 7919 % 100003) + " ";
    std::vector<test::ZIPTestEntry> entries = {
        {"3D/3dmodel.model",
         test::bytesOf(model(assembly(
             2, component(1, R"( p:path="/a.model")") + component(1, R"( p:path="/b.model")"))))},
        {"a.model", test::bytesOf(model(triangleObject(1, 1)) + "<!--" + junk + "-->")},
        {"b.model", test::bytesOf(model(triangleObject(1, 2)))},
    };
    test::ZIPTestPackage p = test::writeZIP(entries);
    for (size_t k : {1u, 2u})
        test::poke32(p.bytes, p.centralRecords[k] + test::zipField::centralUncompressedSize,
                     0xFFFFFFFF);
    // Honest entries: both parts are drawn.
    EXPECT_EQ(firstVertices(*load(p.bytes)).size(), 2u);
    // b's record now points at a's bytes too.
    test::poke32(p.bytes, p.centralRecords[2] + test::zipField::centralLocalHeaderOffset,
                 static_cast<std::uint32_t>(p.localHeaders[1]));
    Bytes aSize(p.bytes.begin() + p.centralRecords[1] + 20,
                p.bytes.begin() + p.centralRecords[1] + 24);
    std::copy(aSize.begin(), aSize.end(), p.bytes.begin() + p.centralRecords[2] + 20);
    EXPECT_EQ(firstVertices(*load(p.bytes)), (std::vector<Vec3>{{1, 0, 0}}));
}

TEST_F(ThreeMFLoader, manyComponentsOfManyMeshesStayWithinTheGeometryNodeLimit) {
    // 300 meshes filed under one id, used by 300 components: 90,000 geometry nodes from a
    // 30 KB part. The load stops making geometry nodes at its limit (4096 for a part this
    // small); every pair node is still made.
    std::string meshes, components;
    for (int k = 0; k < 300; ++k) {
        meshes += R"(<mesh><vertex x="0" y="0" z="0"/><triangle v1="0" v2="0" v3="0"/></mesh>)";
        components += component(1);
    }
    auto scene = loadParts({{"3D/3dmodel.model", "<object id=\"1\">" + meshes + "</object>" +
                                                     assembly(2, components)}});
    EXPECT_EQ(pairs(*scene).size(), 300u);
    size_t geometryNodes = 0;
    scene->rootNode->enumerateChildNodes(
        [&](Node& n, bool&) { geometryNodes += n.geometry != nullptr; });
    EXPECT_EQ(geometryNodes, 4096u);
}

}  // namespace
}  // namespace kelvo
