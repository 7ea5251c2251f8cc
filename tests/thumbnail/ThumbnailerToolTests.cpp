// kelvo-thumbnailer as file managers run it: a square PNG with alpha at exactly the asked
// size and exit status 0; on every failure one line on stderr, status 1 and nothing at
// OUTPUT; status 2 for a wrong command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>

#include "platform/Foundation/FileReading.h"
#include "platform/Imaging/PNG.h"
#include "tests/thumbnail/Models.h"

extern char** environ;

namespace kelvo {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool memoryLimitApplies = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool memoryLimitApplies = false;
#else
constexpr bool memoryLimitApplies = true;
#endif
#else
constexpr bool memoryLimitApplies = true;
#endif

struct ToolRun {
    int status = -1;
    std::string err;
};

ToolRun thumbnailer(const test::TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), KELVO_THUMBNAILER_PATH);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string errPath = (dir.path() / "stderr.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    ToolRun run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream err(errPath);
    run.err.assign(std::istreambuf_iterator<char>(err), {});
    std::filesystem::remove(errPath);
    return run;
}

// Only OUTPUT-like files: the stderr capture is removed after each run.
size_t filesIn(const std::filesystem::path& dir) {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        n += entry.is_regular_file();
    return n;
}

class ThumbnailerTool : public ::testing::Test {
protected:
    test::TempDir dir, out;
    std::filesystem::path cube = dir.write("cube.stl", test::cubeSTL());
    std::string output = (out.path() / "thumb.png").string();

    void expectFailure(std::vector<std::string> args, const std::string& input,
                       const std::string& error) {
        ToolRun run = thumbnailer(out, args);
        EXPECT_EQ(run.status, 1) << input << ": " << run.err;
        EXPECT_EQ(run.err.rfind("kelvo-thumbnailer: " + input + ": " + error, 0), 0u)
            << "got: " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(filesIn(out.path()), 0u) << input;
    }
};

TEST_F(ThumbnailerTool, writesASquarePNGWithAlphaOfSizeTimesScale) {
    struct {
        std::vector<std::string> args;
        int pixels;
    } cases[] = {{{"-s", "256"}, 256},
                 {{"-s", "128", "--scale", "2"}, 256},
                 {{"--size=100", "--scale=1.5"}, 150}};
    for (auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(cube.string());
        args.push_back(output);
        ToolRun run = thumbnailer(out, args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        std::optional<RGBAImage> png = decodePNG(readFileContents(output));
        ASSERT_TRUE(png);
        EXPECT_EQ(png->width, c.pixels);
        EXPECT_EQ(png->height, c.pixels);
        ByteBuffer bytes = readFileContents(output);
        EXPECT_EQ(bytes[25], 6) << "colour type RGBA";
        EXPECT_EQ(filesIn(out.path()), 1u) << "no temporary file left";
        std::filesystem::remove(output);
    }
}

TEST_F(ThumbnailerTool, inputMayBeAFileURIWithEscapes) {
    std::filesystem::path spaced = dir.write("a b%é.stl", test::cubeSTL());
    ToolRun run = thumbnailer(
        out, {"-s", "64", "file://" + (dir.path() / "a%20b%25%C3%A9.stl").string(), output});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(output));
    std::filesystem::remove(output);
    expectFailure({"-s", "64", "file://elsewhere/x.stl", output}, "file://elsewhere/x.stl",
                  "KelvoThumbnail 4: ");
}

TEST_F(ThumbnailerTool, badInputsFailCleanly) {
    const std::string truncated =
        dir.write("truncated.stl",
                  std::string("solid t\n facet normal 0 0 1\n  outer loop\n   vertex 0 0"))
            .string();
    const std::string text =
        dir.write("notes.stl", std::string("This is not a model at all.\n")).string();
    const std::string empty = dir.write("empty.stl", std::string()).string();
    const std::string unsupported = dir.write("part.xyz", std::string("1 2 3\n")).string();
    const std::string broken3mf =
        dir.write("broken.3mf", std::string("PK\x03\x04 not really")).string();
    std::filesystem::create_directory(dir.path() / "folder.stl");
    const std::string folder = (dir.path() / "folder.stl").string();
    const std::string missing = (dir.path() / "missing.stl").string();
    struct {
        std::string input, error;
    } cases[] = {
        {unsupported, "SceneLoader -3: Unsupported format: xyz"},
        {truncated, "KelvoThumbnail 1: "},
        {text, "KelvoThumbnail 1: "},
        {empty, "KelvoThumbnail 1: "},
        {folder, "POSIX 21: "},
        {missing, "POSIX 2: "},
        {broken3mf, ""},  // the 3MF reader's own error, whichever it is
    };
    for (const auto& c : cases)
        expectFailure({"-s", "128", c.input, output}, c.input, c.error);

    if (::geteuid() != 0) {  // root reads anything
        const std::string locked = dir.write("locked.stl", test::cubeSTL()).string();
        ::chmod(locked.c_str(), 0);
        expectFailure({"-s", "128", locked, output}, locked, "POSIX 13: ");
    }
}

TEST_F(ThumbnailerTool, failureLeavesAnExistingOutputAlone) {
    { std::ofstream(output) << "old"; }
    ToolRun run = thumbnailer(out, {"-s", "128", (dir.path() / "missing.stl").string(), output});
    EXPECT_EQ(run.status, 1);
    std::ifstream in(output);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
    // An OUTPUT that cannot be written is an error too, and leaves no temporary file.
    std::filesystem::create_directory(out.path() / "taken.png");
    run = thumbnailer(out, {"-s", "128", cube.string(), (out.path() / "taken.png").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(": POSIX 21: "), std::string::npos) << run.err;
    EXPECT_EQ(filesIn(out.path()), 1u);
}

TEST_F(ThumbnailerTool, limitsEndHugeWorkWithAClearError) {
    // 400,000 triangles: 20 MB that take far longer than a millisecond to load.
    const std::string big = dir.write("big.stl", test::stripSTL(400000)).string();
    expectFailure({"-s", "128", "--time-limit", "0.001", big, output}, big,
                  "KelvoThumbnail 3: Time limit of 0.001 s exceeded");
    if (memoryLimitApplies) {
        expectFailure({"-s", "128", "--memory-limit", "48", big, output}, big,
                      "POSIX 12: Cannot allocate memory: the model needs more than the memory "
                      "budget of 48 MiB");
    }
    // Over the triangle budget the model is still drawn.
    ToolRun run = thumbnailer(out, {"-s", "128", "--max-triangles", "1000", big, output});
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(ThumbnailerTool, commandLineMistakesExitWithStatus2) {
    EXPECT_EQ(thumbnailer(out, {"--help"}).status, 0);
    EXPECT_EQ(thumbnailer(out, {"--version"}).status, 0);
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {cube.string(), output},
        {"-s", "0", cube.string(), output},
        {"-s", "4097", cube.string(), output},
        {"-s", "2048", "--scale", "3", cube.string(), output},
        {"-s", "12x", cube.string(), output},
        {"-s", "128", cube.string()},
        {"-s", "128", "--bogus", cube.string(), output},
        {"-s", "128", cube.string(), output, "extra"},
        {"-s"}};
    for (const auto& args : wrong) {
        ToolRun run = thumbnailer(out, args);
        EXPECT_EQ(run.status, 2) << (args.empty() ? "(none)" : args[0]) << " " << args.size();
        EXPECT_NE(run.err.find("--help"), std::string::npos);
    }
    EXPECT_EQ(filesIn(out.path()), 0u);
}

}  // namespace
}  // namespace kelvo
