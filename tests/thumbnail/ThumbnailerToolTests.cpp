// kelvo-thumbnailer as file managers run it: a square PNG with alpha at exactly the asked
// size and exit status 0; on every failure one line on stderr, status 1 and nothing at
// OUTPUT; status 2 for a wrong command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <limits>
#include <sstream>

#include "extensions/KelvoThumbnail/Confinement.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Imaging/PNG.h"
#include "tests/support/Sanitizers.h"
#include "tests/thumbnail/Models.h"
#include "tests/thumbnail/Tool.h"

namespace kelvo {
namespace {

using test::runTool;
using test::ToolRun;

size_t filesIn(const std::filesystem::path& dir) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

class ThumbnailerTool : public ::testing::Test {
protected:
    test::TempDir dir, out;
    std::string model = dir.write("strip.stl", test::stripSTL()).string();
    std::string output = (out.path() / "thumb.png").string();

    void expectFailure(const std::string& input, const std::string& error,
                       std::vector<std::string> options = {"-s", "128"}) {
        options.insert(options.end(), {input, output});
        ToolRun run = runTool(options);
        EXPECT_EQ(run.status, 1) << input << ": " << run.output;
        EXPECT_EQ(run.output.rfind("kelvo-thumbnailer: " + input + ": " + error, 0), 0u)
            << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
        EXPECT_EQ(filesIn(out.path()), 0u) << input;
    }
};

// INPUT may also be a file:// URI with escapes.
TEST_F(ThumbnailerTool, writesASquarePNGWithAlphaOfSizeTimesScale) {
    dir.write("a b%é.stl", test::stripSTL());
    const std::string uri = "file://" + (dir.path() / "a%20b%25%C3%A9.stl").string();
    struct {
        std::vector<std::string> args;
        int pixels;
    } cases[] = {{{"-s", "256", model}, 256},
                 {{"-s", "128", "--scale", "2", model}, 256},
                 {{"--size=100", "--scale=1.5", model}, 150},
                 {{"-s", "64", uri}, 64},
                 // SIZE x SCALE rounded down, at the smallest and the largest size.
                 {{"-s", "3", "--scale", "0.5", model}, 1},
                 {{"-s", "4096", "--scale", "1.0002", model}, 4096}};
    for (auto& c : cases) {
        c.args.push_back(output);
        ToolRun run = runTool(c.args);
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.output, "");
        ByteBuffer bytes = readFileContents(output);
        std::optional<RGBAImage> png = decodePNG(bytes);
        ASSERT_TRUE(png);
        EXPECT_EQ(png->width, c.pixels);
        EXPECT_EQ(png->height, c.pixels);
        EXPECT_EQ(bytes[25], 6) << "colour type RGBA";
        EXPECT_EQ(filesIn(out.path()), 1u) << "no temporary file left";
        std::filesystem::remove(output);
    }
}

TEST_F(ThumbnailerTool, badInputsFailCleanly) {
    struct {
        std::string name, content, error;
    } cases[] = {
        {"part.xyz", "1 2 3\n", "SceneLoader -3: Unsupported format: xyz"},
        {"truncated.stl", "solid t\n facet normal 0 0 1\n  outer loop\n   vertex 0 0",
         "KelvoThumbnail 1: "},
        {"notes.stl", "This is not a model at all.\n", "KelvoThumbnail 1: "},
        {"empty.stl", "", "KelvoThumbnail 1: "},
        {"broken.3mf", "PK\x03\x04 not really",
         "KelvoThumbnail.ZIPReader.ZIPError 2: invalidArchive\n"},
    };
    for (const auto& c : cases)
        expectFailure(dir.write(c.name, c.content).string(), c.error);
    expectFailure("file://elsewhere/x.stl", "KelvoThumbnail 4: ");
    std::filesystem::create_directory(dir.path() / "folder.stl");
    expectFailure((dir.path() / "folder.stl").string(), "POSIX 21: ");
    expectFailure((dir.path() / "missing.stl").string(), "POSIX 2: ");
    if (::geteuid() != 0) {  // root reads anything
        const std::string locked = dir.write("locked.stl", test::stripSTL()).string();
        ::chmod(locked.c_str(), 0);
        expectFailure(locked, "POSIX 13: ");
    }
}

// A square of the brand mark alone would hide the file's type icon: a model must cover some
// of the picture. One-sided faces seen from behind still count; nothing at all fails.
TEST_F(ThumbnailerTool, aPlateSeenFromBehindDrawsAndAnInvisibleModelFails) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // One square plate in the file's xy plane, its front up or down: the camera sees one
    // side from above, the other from below.
    auto plate = [](bool up) {
        std::vector<test::STLTriangle> t = {{{0, 0, 1}, {0, 0, 0, 10, 0, 0, 10, 10, 0}},
                                            {{0, 0, 1}, {0, 0, 0, 10, 10, 0, 0, 10, 0}}};
        if (!up)
            for (auto& tri : t)
                std::swap(tri.v[3], tri.v[6]), std::swap(tri.v[4], tri.v[7]);
        return test::binarySTL(t);
    };
    for (bool up : {true, false}) {
        const std::string input = dir.write(up ? "up.stl" : "down.stl", plate(up)).string();
        ToolRun run = runTool({"-s", "64", input, output});
        ASSERT_EQ(run.status, 0) << run.output;
        std::optional<RGBAImage> png = decodePNG(readFileContents(output));
        ASSERT_TRUE(png);
        EXPECT_GT(png->pixel(32, 32)[3], 0) << "the plate covers the centre, up " << up;
        std::filesystem::remove(output);
    }
    // Triangles on a line or at no place at all draw nothing from any side.
    expectFailure(dir.write("line.stl", test::binarySTL({{{0, 0, 1}, {0, 0, 0, 1, 1, 1, 2, 2, 2}},
                                                         {{0, 0, 1}, {0, 0, 0, 0, 0, 5, 0, 0, 9}}}))
                      .string(),
                  "KelvoThumbnail 1: ");
    expectFailure(
        dir.write("nan.stl", test::binarySTL({{{0, 0, 1}, {nan, 0, 0, 1, 0, 0, 0, 1, 0}}}))
            .string(),
        "KelvoThumbnail 1: ");
    if (!test::corpusDir().empty()) {
        for (const char* name : {"vertical_line.stl", "random_bits.stl"})
            expectFailure((test::corpusDir() / "stl" / name).string(), "KelvoThumbnail 1: ");
    }
}

TEST_F(ThumbnailerTool, anExistingOutputIsReplacedWholeOrLeftAlone) {
    const std::string old = dir.write("old.png", std::string("old")).string();
    EXPECT_EQ(runTool({"-s", "128", (dir.path() / "missing.stl").string(), old}).status, 1);
    EXPECT_EQ(readFileContents(old), ByteBuffer({'o', 'l', 'd'}));
    EXPECT_EQ(runTool({"-s", "16", model, old}).status, 0);
    EXPECT_TRUE(decodePNG(readFileContents(old)));
    // An empty file the host created and reads through a descriptor it keeps (tumbler does)
    // is filled in place.
    const int reader = ::open(dir.write("host.png", std::string()).c_str(), O_RDONLY);
    EXPECT_EQ(runTool({"-s", "16", model, (dir.path() / "host.png").string()}).status, 0);
    std::uint8_t got[4] = {};
    EXPECT_EQ(::read(reader, got, 4), 4);
    EXPECT_EQ(got[1], 'P');
    ::close(reader);
    // An OUTPUT that cannot be written is an error too, and leaves no temporary file.
    std::filesystem::create_directory(out.path() / "taken.png");
    ToolRun run = runTool({"-s", "128", model, (out.path() / "taken.png").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(": POSIX 21: "), std::string::npos) << run.output;
    EXPECT_EQ(filesIn(out.path()), 1u);
}

TEST_F(ThumbnailerTool, limitsEndHugeWorkWithAClearError) {
    // 400,000 triangles: 20 MB that take far longer than a millisecond to load.
    const std::string big = dir.write("big.stl", test::squareSTL(400000)).string();
    expectFailure(big, "KelvoThumbnail 3: Time limit of 0.001 s exceeded",
                  {"-s", "128", "--time-limit", "0.001"});
    if (!test::underAddressSanitizer) {
        expectFailure(big,
                      "POSIX 12: Cannot allocate memory: the model needs more than the memory "
                      "budget of 48 MiB",
                      {"-s", "128", "--memory-limit", "48"});
    }
    // Over the triangle budget the model is still drawn.
    EXPECT_EQ(runTool({"-s", "128", "--max-triangles", "1000", big, output}).status, 0);
}

// A worker that crashes (assimp does, on some FBX files) or hangs ends in the one error line,
// status 1 and no output; the hook makes it do so after it is confined.
TEST_F(ThumbnailerTool, aWorkerThatCrashesOrHangsIsACleanFailure) {
    expectFailure(model, "KelvoThumbnail 5: Reading or drawing the file crashed\n",
                  {"-s", "128", "--test-worker-crash"});
    expectFailure(model, "KelvoThumbnail 5: Reading or drawing the file crashed\n",
                  {"-s", "128", "--no-sandbox", "--test-worker-crash"});
    expectFailure(model, "KelvoThumbnail 3: Time limit of 0.2 s exceeded\n",
                  {"-s", "128", "--time-limit", "0.2", "--test-worker-hang"});
}

// Every model of the corpus gives the same image, or the same error, confined or not: the
// filter and Landlock refuse nothing that loading and drawing need, sibling files included.
TEST_F(ThumbnailerTool, theCorpusLooksTheSameConfinedAsWithout) {
    size_t drawn = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(KELVO_CORPUS_DIR)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
        const std::string input = entry.path().string();
        // Landlock keeps a confined worker inside the model's folder tree: a USD layer that
        // refers to one above it (the test assets' shared ../../../_common) is drawn without.
        const ByteBuffer text = readFileContents(entry.path());
        if (std::string_view(reinterpret_cast<const char*>(text.data()), text.size())
                .find("@../") != std::string_view::npos)
            continue;
        const std::string confinedPNG = (out.path() / "confined.png").string();
        const std::string openPNG = (out.path() / "open.png").string();
        ToolRun confined = runTool({"-s", "96", input, confinedPNG});
        ToolRun open = runTool({"-s", "96", "--no-sandbox", input, openPNG});
        EXPECT_EQ(confined.status, open.status) << input;
        EXPECT_EQ(confined.output, open.output) << input;
        if (confined.status == 0 && open.status == 0) {
            EXPECT_EQ(readFileContents(confinedPNG), readFileContents(openPNG)) << input;
            ++drawn;
        }
        std::filesystem::remove(confinedPNG);
        std::filesystem::remove(openPNG);
    }
    EXPECT_GT(drawn, 100u);
}

// Help and version succeed and say whether models are confined; a mistake exits with 2.
TEST_F(ThumbnailerTool, commandLine) {
    for (const char* option : {"--help", "--version"}) {
        ToolRun run = runTool({option}, KELVO_THUMBNAILER_PATH, true);
        EXPECT_EQ(run.status, 0) << option;
        EXPECT_NE(
            run.output.find("\nconfinement: " + describeConfinement(confinementSupport()) + "\n"),
            std::string::npos)
            << option << ": " << run.output;
    }
    // IN and OUT stand for a model and the output file.
    for (std::string line : {"", "IN OUT", "-s 0 IN OUT", "-s 4097 IN OUT",
                             "-s 2048 --scale 3 IN OUT", "-s 12x IN OUT", "-s 1 --scale 0.6 IN OUT",
                             "-s 128 IN", "-s 128 --bogus IN OUT", "-s 128 IN OUT extra", "-s"}) {
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string w; words >> w;)
            args.push_back(w == "IN" ? model : w == "OUT" ? output : w);
        ToolRun run = runTool(args);
        EXPECT_EQ(run.status, 2) << line;
        EXPECT_NE(run.output.find("--help"), std::string::npos);
    }
    EXPECT_EQ(filesIn(out.path()), 0u);
}

}  // namespace
}  // namespace kelvo
