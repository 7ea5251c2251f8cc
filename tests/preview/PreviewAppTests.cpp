// kelvo-preview as a user meets it, on a private X server with Mesa's software OpenGL: the
// window shows the model and the brand label, dragging turns the model, R brings it back,
// Escape closes; failures are told in the window and on stderr.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/Foundation/FileReading.h"
#include "platform/Imaging/PNG.h"
#include "tests/support/DisplayTestMain.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;

// The window's size when nothing else decides it; with no window manager it sits at (0, 0).
constexpr int windowWidth = 800, windowHeight = 600;
const std::string torus = KELVO_SOURCE_DIR "/examples/torus-knot.stl";

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

int xdotool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "xdotool");
    return test::runCommand(arguments);
}

// The window's part of the screen.
RGBAImage windowShot() {
    std::optional<RGBAImage> screen = test::screenshot(std::getenv("DISPLAY"));
    EXPECT_TRUE(screen);
    RGBAImage window(windowWidth, windowHeight);
    for (int y = 0; screen && y < windowHeight; ++y)
        std::memcpy(window.pixel(0, y), screen->pixel(0, y), windowWidth * 4);
    return window;
}

// Pixels of the rectangle [x0, x1) x [y0, y1) that `is` picks.
int count(const RGBAImage& shot, int x0, int y0, int x1, int y1,
          const std::function<bool(const std::uint8_t*)>& is) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x)
            n += is(shot.pixel(x, y));
    }
    return n;
}
// Pixels that stand out from the window's background.
int unlikeBackground(const RGBAImage& shot, int x0, int y0, int x1, int y1) {
    const std::uint8_t* bg = shot.pixel(windowWidth - 5, windowHeight - 5);
    return count(shot, x0, y0, x1, y1, [&](auto p) {
        return std::abs(p[0] - bg[0]) + std::abs(p[1] - bg[1]) + std::abs(p[2] - bg[2]) > 45;
    });
}
// Near-white pixels: the brand label's text, or a message.
int bright(const RGBAImage& shot, int x0, int y0, int x1, int y1) {
    return count(shot, x0, y0, x1, y1, [](auto p) { return std::min({p[0], p[1], p[2]}) > 170; });
}
int differingPixels(const RGBAImage& a, const RGBAImage& b) {
    return count(a, 0, 0, windowWidth, windowHeight, [&](const std::uint8_t* p) {
        const std::uint8_t* q = b.pixels.data() + (p - a.pixels.data());
        return std::max({std::abs(p[0] - q[0]), std::abs(p[1] - q[1]), std::abs(p[2] - q[2])}) > 24;
    });
}

// Takes screenshots until two in a row agree and differ from `before` (when given); keeps
// the last one beside the build for a person to look at when a test fails.
RGBAImage settledShot(const std::string& name, const RGBAImage* before = nullptr) {
    RGBAImage last = windowShot();
    for (auto end = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < end;) {
        std::this_thread::sleep_for(150ms);
        RGBAImage next = windowShot();
        bool moved = !before || differingPixels(next, *before) > 0;
        bool same = differingPixels(next, last) == 0;
        last = std::move(next);
        if (moved && same) break;
    }
    writePNG(last, std::filesystem::path(KELVO_BINARY_DIR) / ("preview-" + name + ".png"));
    return last;
}

// kelvo-preview on `file`, running in the background.
class LivePreview {
public:
    explicit LivePreview(const std::filesystem::path& file, const std::string& option = "")
        : process_(option.empty()
                       ? std::vector<std::string>{KELVO_PREVIEW_PATH, "--timings", file.string()}
                       : std::vector<std::string>{KELVO_PREVIEW_PATH, "--timings", option,
                                                  file.string()},
                   {}, "/dev/null", (dir_.path() / "stderr").string()) {}
    bool waitFor(const std::string& text) {
        for (auto end = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < end && !process_.wait(0ms);) {
            if (errors().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(50ms);
        }
        return errors().find(text) != std::string::npos;
    }
    std::string errors() const { return readText(dir_.path() / "stderr"); }
    std::optional<int> exitStatus() { return process_.wait(10s); }

private:
    test::TempDir dir_;
    test::ChildProcess process_;
};

TEST(PreviewApp, showsTheModelDraggingTurnsItRBringsItBackEscapeCloses) {
    KELVO_REQUIRE_CORPUS();
    LivePreview preview(test::corpusDir() / "stl" / "torus.STL");
    ASSERT_TRUE(preview.waitFor("first frame")) << preview.errors();
    EXPECT_EQ(xdotool({"search", "--sync", "--name", "^torus\\.STL$"}), 0)
        << "no window titled with the file's name";
    RGBAImage start = settledShot("torus-start");
    // The model fills much of the middle; the label's text sits in the top-left corner and
    // nothing else is drawn there.
    EXPECT_GT(unlikeBackground(start, 300, 200, 500, 400), 200 * 200 / 2);
    EXPECT_GT(bright(start, 30, 6, 130, 30), 30) << "no brand label";
    EXPECT_EQ(unlikeBackground(start, 0, 35, 200, 100), 0);
    EXPECT_EQ(unlikeBackground(start, 150, 0, 300, 35), 0);
    ASSERT_EQ(
        xdotool({"mousemove", "400", "300", "mousedown", "1", "sleep", "0.1", "mousemove", "440",
                 "320", "sleep", "0.1", "mousemove", "520", "360", "sleep", "0.1", "mouseup", "1"}),
        0);
    RGBAImage turned = settledShot("torus-dragged", &start);
    EXPECT_GT(differingPixels(start, turned), 5000) << "the drag did not change the view";
    EXPECT_GT(bright(turned, 30, 6, 130, 30), 30) << "the brand label moved";
    ASSERT_EQ(xdotool({"key", "r"}), 0);
    RGBAImage reset = settledShot("torus-reset", &turned);
    EXPECT_LT(differingPixels(start, reset), 50) << "R did not return to the starting view";
    ASSERT_EQ(xdotool({"key", "Escape"}), 0);
    EXPECT_EQ(preview.exitStatus(), 0) << preview.errors();
}

// Over the triangle limit (lowered here) the model is drawn thinned, and a note at the
// bottom of the window and a line on stderr say from how many to how many triangles.
TEST(PreviewApp, aModelOverTheTriangleLimitIsDrawnThinnedAndTheWindowSaysSo) {
    LivePreview preview(torus, "--max-triangles=1000");
    ASSERT_TRUE(preview.waitFor("first frame")) << preview.errors();
    const std::string errors = preview.errors();
    const size_t at = errors.find(": drawn thinned, ");
    ASSERT_NE(at, std::string::npos) << errors;
    long kept = 0, all = 0;
    ASSERT_EQ(std::sscanf(errors.c_str() + at, ": drawn thinned, %ld of %ld triangles", &kept, &all),
              2);
    EXPECT_LE(kept, 1000);
    EXPECT_GT(kept, 990);
    EXPECT_GT(all, 1000);
    RGBAImage shot = settledShot("torus-thinned");
    // The note's light text sits at the bottom, centred; the model still fills the middle
    // and the brand label its corner.
    EXPECT_GT(bright(shot, 100, 550, 700, 590), 200) << "no note";
    EXPECT_GT(unlikeBackground(shot, 300, 200, 500, 400), 1000);
    EXPECT_GT(bright(shot, 30, 6, 130, 30), 30) << "no brand label";
    ASSERT_EQ(xdotool({"mousemove", "400", "300", "key", "Escape"}), 0);
    EXPECT_EQ(preview.exitStatus(), 0) << preview.errors();
}

TEST(PreviewApp, aFileThatCannotBeShownIsToldInTheWindowAndOnStderr) {
    test::TempDir dir;
    std::filesystem::path missing = dir.path() / "missing.stl";
    LivePreview preview(missing);
    ASSERT_TRUE(preview.waitFor("No such file")) << preview.errors();
    EXPECT_EQ(preview.errors(),
              "kelvo-preview: " + missing.string() + ": POSIX 2: No such file or directory\n");
    RGBAImage shot = settledShot("missing");
    // The message is centred in the window; no model, no brand label.
    EXPECT_GT(bright(shot, 200, 250, 600, 350), 50);
    EXPECT_EQ(bright(shot, 30, 6, 130, 30), 0);
    ASSERT_EQ(xdotool({"mousemove", "400", "300", "key", "Escape"}), 0);
    EXPECT_EQ(preview.exitStatus(), 1);
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome run(std::vector<std::string> arguments,
            const std::map<std::string, std::string>& environment = {}) {
    test::TempDir dir;
    arguments.insert(arguments.begin(), KELVO_PREVIEW_PATH);
    test::ChildProcess child(arguments, environment, (dir.path() / "out").string(),
                             (dir.path() / "err").string());
    int status = child.wait(60s).value_or(-1);
    return {status, readText(dir.path() / "out"), readText(dir.path() / "err")};
}

TEST(PreviewApp, screenshotWritesTheFirstFrameWithATransparentBackground) {
    KELVO_REQUIRE_CORPUS();
    test::TempDir dir;
    std::filesystem::path png = dir.path() / "frame.png";
    Outcome result = run({"--screenshot=" + png.string(),
                          (test::corpusDir() / "stl" / "prusa3d_xl_gantry.stl").string()});
    ASSERT_EQ(result.status, 0) << result.err;
    ByteBuffer bytes = readFileContents(png);
    std::optional<RGBAImage> frame = decodePNG(ByteSpan(bytes.data(), bytes.size()));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, windowWidth);
    EXPECT_EQ(frame->height, windowHeight);
    EXPECT_GT(count(*frame, 0, 0, windowWidth, windowHeight, [](auto p) { return p[3] > 0; }),
              1000);
    EXPECT_EQ(frame->pixel(0, 0)[3], 0);
    EXPECT_EQ(frame->pixel(windowWidth - 1, windowHeight - 1)[3], 0);
    // A file that cannot be shown writes nothing and fails at once.
    Outcome failed = run(
        {"--screenshot=" + (dir.path() / "no.png").string(), (dir.path() / "model.xyz").string()});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find(": SceneLoader -3: Unsupported format: xyz\n"), std::string::npos)
        << failed.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "no.png"));
}

// Help, mistakes (status 2), and no display or too old an OpenGL: a clear message.
TEST(PreviewApp, commandLineAndWhatItNeeds) {
    Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: kelvo-preview [OPTION]... FILE...", 0), 0u);
    EXPECT_NE(help.out.find("Escape, Space, Ctrl+W"), std::string::npos);
    EXPECT_NE(help.out.find("--max-triangles=N  draw at most N triangles (default 20000000;"),
              std::string::npos);
    EXPECT_EQ(run({}).status, 2);
    for (const char* wrong : {"--max-triangles=", "--max-triangles=-1", "--max-triangles=1e6",
                              "--max-triangles=4000000001", "--max-triangles=99999999999999999999",
                              "--max-triangles=12 "}) {
        Outcome mistake = run({wrong, torus});
        EXPECT_EQ(mistake.status, 2) << wrong;
        EXPECT_NE(mistake.err.find("--max-triangles must be a whole number"), std::string::npos)
            << wrong << ": " << mistake.err;
    }
    EXPECT_EQ(run({"--screenshot=x.png", "a.stl", "b.stl"}).status, 2);
    Outcome headless = run({torus}, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
    EXPECT_EQ(headless.status, 1);
    EXPECT_NE(headless.err.find("kelvo-preview: cannot open a display"), std::string::npos)
        << headless.err;
    test::TempDir dir;
    Outcome old = run({"--screenshot=" + (dir.path() / "x.png").string(), torus},
                      {{"MESA_GL_VERSION_OVERRIDE", "3.1"}});
    EXPECT_EQ(old.status, 1);
    EXPECT_NE(old.err.find("OpenGL 3.3 or later is needed"), std::string::npos) << old.err;
}

}  // namespace
}  // namespace kelvo

int main(int argc, char** argv) {
    return kelvo::test::runOnVirtualDisplay(argc, argv, [] {
        if (kelvo::test::programExists("xdotool") && kelvo::test::programExists("xwd")) return true;
        std::fprintf(stderr, "xdotool and xwd are needed (tools/dev test installs them)\n");
        return false;
    });
}
