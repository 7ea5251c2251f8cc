// Every 3MF of the shared corpus loads, or fails with the error the reader's rules give it;
// and no prefix of a real package or model part can make the reader or the scanner misbehave.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/ThreeMF/Fast3MFParser.h"
#include "extensions/Shared/ThreeMF/ThreeMFLoader.h"
#include "extensions/Shared/ZIP/ZIPReader.h"
#include "platform/Foundation/FileReading.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

using ZIPError = ZIPReader::ZIPError;

// "12/1": triangles and geometry nodes; otherwise the error. `inPieces`: read as a package
// too large to hold is (its bounds follow the counts then, to compare with a load's).
std::string outcome(const std::filesystem::path& file, bool inPieces = false) {
    try {
        std::int64_t triangles = 0, nodes = 0;
        std::shared_ptr<Scene> scene =
            inPieces ? load3MFSceneInPieces(readFileContents(file), 1) : SceneLoader().load(file);
        if (!scene) return "not read in pieces";
        std::string bounds;
        if (inPieces) {
            const BoundingBox box = scene->rootNode->boundingBox();
            for (double v : {box.min.x, box.min.y, box.min.z, box.max.x, box.max.y, box.max.z})
                bounds += " " + std::to_string(v);
        }
        scene->rootNode->enumerateChildNodes([&](Node& node, bool&) {
            triangles += node.geometry ? node.geometry->triangleCount() : 0;
            nodes += node.geometry ? 1 : 0;
        });
        return std::to_string(triangles) + "/" + std::to_string(nodes) + bounds;
    } catch (const ZIPError& e) {
        return e.what();
    } catch (const Error& e) {
        return e.domain() + " " + std::to_string(e.code());
    }
}

TEST(ThreeMFCorpus, everyPackageLoadsOrFailsByTheRules) {
    KELVO_REQUIRE_CORPUS();
    // Box_OverrideCustom: the root part is named only by the package relationships, which
    // are not read. SphereInACage, WagonWithWheels, keystore_encrypted: ZIP64 directory
    // offset and entry fields; pyramids: ZIP64 entry sizes. keystore_encrypted: the root
    // part's components name an encrypted part, which scans to nothing. counterXP: two
    // meshes, each drawn through its component; the assemblies above them add nothing.
    // cube_gears_prod_req: build items that name other parts are not followed; the root part
    // has no mesh. pyramid: a beam lattice, whose mesh has vertices and no triangle.
    // Package:outcome, split at '|'; the outcome is "triangles/geometry nodes" or the error.
    std::map<std::string, std::string> expected;
    std::stringstream table(
        "8_extruders.3mf:96/8|Box_OverrideCustom.3mf:entryNotFound(\"3D/3dmodel.model\")|"
        "Box_ȣ𧜡𣎃.3mf:48/1|HierarchicalComponent.3mf:12/1|"
        "SphereInACage.3mf:10/1|Texture_093.3mf:5072/1|"
        "WagonWithWheels.3mf:320/5|box.3mf:12/1|"
        "box_prod.3mf:12/1|box_sliced.3mf:12/1|cam_51476_test.3mf:130614/1|"
        "counterXP.3MF:23214/2|cube_gears.3mf:25692/17|"
        "cube_gears_prod_req.3mf:SceneLoader -12|detachedmodel.3mf:1296/27|"
        "empty_file.3mf:invalidArchive|featuretype.3MF:2208/1|heartgears.3mf:30636/1|"
        "keystore_encrypted.3mf:SceneLoader -12|"
        "multiple_cylinders.3mf:88/1|multipletextures.3mf:96692/1|"
        "multiprop-metallic.3mf:12/1|multiprop-opaque.3mf:12/1|production_components.3mf:8/2|"
        "pyramid.3mf:SceneLoader -12|pyramid_vertexcolor.3mf:4/1|pyramids.3mf:3172/6|"
        "random_bits.3mf:invalidArchive|rhombicuboctahedron_color.3mf:44/1|"
        "seam_test_object.3mf:225154/1|smiley_nested_group.3mf:96/8|sphere_logo.3mf:3032/1|"
        "spinal implant.3mf:5672/1|texturecube_with_EscapeCharacters.3mf:12/1|"
        "unit_meters.3mf:12/1|Geräte/Büchse.3mf:12/1");
    for (std::string row; std::getline(table, row, '|');)
        expected[row.substr(0, row.find(':'))] = row.substr(row.find(':') + 1);
    const std::filesystem::path dir = test::corpusDir() / "3mf";
    std::map<std::string, std::string> seen;
    for (const auto& item : std::filesystem::recursive_directory_iterator(dir)) {
        std::string ext = item.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (ext == ".3mf") seen[std::filesystem::relative(item.path(), dir)] = outcome(item.path());
    }
    EXPECT_EQ(seen, expected);
}

// Read in pieces, every package gives the scene (its counts and bounds) or the error a
// load gives.
TEST(ThreeMFCorpus, everyPackageReadInPiecesGivesWhatALoadGives) {
    KELVO_REQUIRE_CORPUS();
    const std::filesystem::path dir = test::corpusDir() / "3mf";
    for (const auto& item : std::filesystem::recursive_directory_iterator(dir)) {
        std::string ext = item.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (ext != ".3mf") continue;
        std::string whole = outcome(item.path());
        if (std::isdigit(static_cast<unsigned char>(whole.front()))) {
            const BoundingBox box = SceneLoader().load(item.path())->rootNode->boundingBox();
            for (double v : {box.min.x, box.min.y, box.min.z, box.max.x, box.max.y, box.max.z})
                whole += " " + std::to_string(v);
        }
        EXPECT_EQ(outcome(item.path(), true), whole) << item.path();
    }
}

// Every prefix of a real package, in a buffer of exactly that size so a sanitizer sees any
// read past it, fails to list; every prefix of a real model part scans to buffers that
// agree with their counts.
TEST(ThreeMFCorpus, everyPrefixFailsOrScansCleanly) {
    KELVO_REQUIRE_CORPUS();
    for (const char* file : {"box.3mf", "production_components.3mf", "detachedmodel.3mf"}) {
        const ByteBuffer whole = readFileContents(test::corpusDir() / "3mf" / file);
        for (size_t n = 0; n < whole.size(); ++n) {
            const ByteBuffer prefix(whole.begin(), whole.begin() + n);
            EXPECT_THROW(ZIPReader::readCentralDirectory(prefix), ZIPError) << file << " " << n;
        }
        ZIPReader::Archive archive{whole, ZIPReader::readCentralDirectory(whole)};
        const ByteBuffer xml = ZIPReader::extractModelFile(archive);
        for (size_t n = 0; n <= xml.size(); ++n) {
            for (const auto& [id, meshes] :
                 Fast3MFParser::parse(ByteBuffer(xml.begin(), xml.begin() + n)).meshes) {
                for (const ThreeMFMesh& m : meshes)
                    ASSERT_EQ(std::pair(m.positionData.size(), m.indexData.size()),
                              std::pair(12 * size_t(m.vertexCount), 12 * size_t(m.triangleCount)))
                        << file << " " << n;
            }
        }
    }
}

}  // namespace
}  // namespace kelvo
