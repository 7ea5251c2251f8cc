// kelvo-inspect as a user runs it: JSON on success; one line on stderr, nothing on stdout and
// exit status 1 on failure.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/Foundation/FileReading.h"
#include "platform/Imaging/PNG.h"
#include "tests/support/TestFiles.h"
#include "tools/kelvo-inspect/SceneJSON.h"

namespace kelvo {
namespace {

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun inspect(const std::string& args) {
    test::TempDir dir;
    std::string errFile = (dir.path() / "err").string();
    std::string command = std::string(KELVO_INSPECT_PATH) + " " + args + " 2>" + errFile;
    ToolRun run{};
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    run.err.assign(std::istreambuf_iterator<char>(err), {});
    return run;
}

const std::string knot = "'" KELVO_SOURCE_DIR "/examples/torus-knot.stl'";

TEST(InspectTool, printsTheSceneOfTheBundledExample) {
    ToolRun run = inspect(knot);
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.out.find('\n'), run.out.size() - 1) << "one line";
    const auto scene = nlohmann::ordered_json::parse(run.out);
    EXPECT_EQ(scene["totals"].dump(),
              R"({"nodes":2,"geometryNodes":1,"vertices":23040,"triangles":7680,"points":0})");
    const auto& geometry = scene["root"]["children"][0]["geometry"];
    EXPECT_EQ(geometry["sources"].dump(), R"(["vertex","normal"])");
    EXPECT_EQ(geometry["materials"][0],
              nlohmann::ordered_json::parse(R"({"lightingModel":"physicallyBased",
                  "diffuse":[0.7,0.7,0.7,1],"metalness":0.1,"roughness":0.6,"name":"",
                  "emission":[0,0,0,1],"emissionIntensity":1,"alphaMode":"opaque",
                  "alphaCutoff":0.5,"doubleSided":false,"textures":{}})"));
}

// A glTF file's texture references and its own cameras, as loaded.
TEST(InspectTool, reportsTextureReferencesAndTheFilesCameras) {
    KELVO_REQUIRE_CORPUS();
    const auto gltf = test::corpusDir() / "gltf";
    ToolRun run = inspect("'" + (gltf / "BoxTextured-glTF/BoxTextured.gltf").string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    auto scene = nlohmann::ordered_json::parse(run.out);
    const auto& texture = scene["root"]["children"][0]["children"][0]["geometry"]["materials"][0]
                               ["textures"]["diffuse"];
    EXPECT_EQ(std::filesystem::path(texture["path"].get<std::string>()).filename(),
              "CesiumLogoFlat.png");
    EXPECT_EQ(texture["found"], true);
    EXPECT_EQ(texture["encodedBytes"],
              std::filesystem::file_size(gltf / "BoxTextured-glTF/CesiumLogoFlat.png"));
    EXPECT_EQ(texture["width"], 211);  // decoded at the default limit, 2048: its own size
    EXPECT_EQ(texture["height"], 211);

    run = inspect("'" + (gltf / "cameras/Cameras.gltf").string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    scene = nlohmann::ordered_json::parse(run.out);
    std::vector<nlohmann::ordered_json> cameras;
    for (const auto& child : scene["root"]["children"]) {
        if (!child["camera"].is_null()) cameras.push_back(child["camera"]);
    }
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0]["orthographic"], false);
    EXPECT_EQ(cameras[1]["orthographic"], true);
}

// A file that does not load, or a package that is not a 3MF one: the ZIP reader's case and
// payload under this tool's name.
TEST(InspectTool, failuresPrintOneLineAndNothingOnStdout) {
    test::TempDir dir;
    const std::string notZIP = dir.write("broken.3mf", std::string(100, 'x')).string();
    // An empty package: a 23-byte file holding only an end record.
    const std::string noModel =
        dir.write("empty.3mf", std::string(1, '\0') + "PK\x05\x06" + std::string(18, '\0'))
            .string();
    struct {
        std::string file, error;
    } cases[] = {
        {"x.TXT", "SceneLoader -3: Unsupported format: TXT"},
        {"/nonexistent-kelvo/m.stl", "POSIX 2: No such file or directory"},
        {notZIP, "KelvoInspect.ZIPReader.ZIPError 2: invalidArchive"},
        {noModel, "KelvoInspect.ZIPReader.ZIPError 0: entryNotFound(\"3D/3dmodel.model\")"},
    };
    for (const auto& c : cases) {
        ToolRun run = inspect("'" + c.file + "'");
        EXPECT_EQ(run.status, 1) << c.file;
        EXPECT_EQ(run.out, "") << c.file;
        EXPECT_EQ(run.err, "kelvo-inspect: " + c.file + ": " + c.error + "\n");
    }
}

TEST(InspectTool, rendersAPNGOfTheRequestedSize) {
    test::TempDir dir;
    std::string out = (dir.path() / "knot.png").string();
    ToolRun run = inspect(knot + " --render '" + out + "' --size 96 64");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    ByteBuffer bytes = readFileContents(out);
    auto image = decodePNG(ByteSpan(bytes.data(), bytes.size()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 96);
    EXPECT_EQ(image->height, 64);
    EXPECT_EQ(image->pixel(48, 32)[3], 255);
    EXPECT_EQ(image->pixel(95, 63)[3], 0);
    run = inspect(knot + " --render /nonexistent-kelvo/x.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("POSIX 2"), std::string::npos) << run.err;
}

// Status 2 for every command-line mistake, sizes it cannot render included.
TEST(InspectTool, commandLineHelpAndMistakes) {
    ToolRun help = inspect("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: kelvo-inspect"), std::string::npos);
    EXPECT_NE(help.out.find("--render OUT.png"), std::string::npos);
    ToolRun run = inspect(knot + " --render /tmp/unused.png --size 8193 100");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("too large: at most 8192 pixels on a side"), std::string::npos)
        << run.err;
    const std::string render = knot + " --render /tmp/unused.png";
    for (const std::string& bad :
         {std::string(), std::string("--bogus x.stl"), render + " --size 0 10",
          render + " --size 12x 10", render + " --size 10", render + " --size -4 4",
          knot + " --render"}) {
        EXPECT_EQ(inspect(bad).status, 2) << bad;
    }
}

TEST(SceneJSON, escapesTextAndWritesNonNumbersAsNull) {
    Scene scene;
    auto node = Node::make();
    node->name = "a\"b\\c\n\x01\xff";
    node->setPosition({NAN, INFINITY, 1.5});
    scene.rootNode->addChildNode(node);
    const auto json = nlohmann::json::parse(sceneToJSON(scene, "f.stl"));
    const auto& child = json["root"]["children"][0];
    EXPECT_EQ(child["name"], "a\"b\\c\n\x01\uFFFD");
    EXPECT_EQ(child["position"].dump(), "[null,null,1.5]");
    EXPECT_TRUE(json["boundingBox"].is_null());
}

}  // namespace
}  // namespace kelvo
