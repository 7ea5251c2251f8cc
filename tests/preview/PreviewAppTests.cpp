// kelvo-preview as a user meets it, on a private X server with Mesa's software OpenGL: the
// window shows the model and the brand label, dragging turns the model, R brings it back,
// Escape closes; failures are told in the window and on stderr.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
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

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string display() {
    return std::getenv("DISPLAY");
}

int xdotool(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {"xdotool"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return test::runCommand(command);
}

// The window's part of the screen.
RGBAImage windowShot() {
    std::optional<RGBAImage> screen = test::screenshot(display());
    EXPECT_TRUE(screen);
    RGBAImage window(windowWidth, windowHeight);
    if (!screen) return window;
    for (int y = 0; y < windowHeight; ++y) {
        std::memcpy(window.pixel(0, y), screen->pixel(0, y), windowWidth * 4);
    }
    return window;
}

int differingPixels(const RGBAImage& a, const RGBAImage& b) {
    int n = 0;
    for (size_t i = 0; i < a.pixels.size(); i += 4) {
        int d = 0;
        for (int k = 0; k < 3; ++k)
            d = std::max(d, std::abs(a.pixels[i + k] - b.pixels[i + k]));
        n += d > 24;
    }
    return n;
}

// Pixels in the rectangle that stand out from the window's background.
int pixelsUnlikeBackground(const RGBAImage& shot, int x0, int y0, int x1, int y1) {
    const std::uint8_t* bg = shot.pixel(windowWidth - 5, windowHeight - 5);
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const std::uint8_t* p = shot.pixel(x, y);
            n += std::abs(p[0] - bg[0]) + std::abs(p[1] - bg[1]) + std::abs(p[2] - bg[2]) > 45;
        }
    }
    return n;
}

// Near-white pixels: the brand label's text.
int brightPixels(const RGBAImage& shot, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const std::uint8_t* p = shot.pixel(x, y);
            n += p[0] > 170 && p[1] > 170 && p[2] > 170;
        }
    }
    return n;
}

// Takes screenshots until two in a row agree and differ from `before` (when given).
RGBAImage settledShot(const RGBAImage* before = nullptr) {
    RGBAImage last = windowShot();
    for (auto end = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < end;) {
        std::this_thread::sleep_for(150ms);
        RGBAImage next = windowShot();
        bool moved = !before || differingPixels(next, *before) > 0;
        if (moved && differingPixels(next, last) == 0) return next;
        last = std::move(next);
    }
    return last;
}

void keep(const RGBAImage& shot, const std::string& name) {
    // Kept for a person to look at when a test fails.
    writePNG(shot, std::filesystem::path(KELVO_BINARY_DIR) / ("preview-" + name + ".png"));
}

// kelvo-preview on `file`, running in the background.
class LivePreview {
public:
    explicit LivePreview(const std::filesystem::path& file)
        : stderr_(dir_.path() / "stderr"),
          process_({KELVO_PREVIEW_PATH, "--timings", file.string()}, {}, "/dev/null",
                   stderr_.string()) {}

    bool waitFor(const std::string& text) {
        for (auto end = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < end;) {
            if (errors().find(text) != std::string::npos) return true;
            if (process_.wait(0ms)) return false;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    std::string errors() const { return readText(stderr_); }
    test::ChildProcess& process() { return process_; }

private:
    test::TempDir dir_;
    std::filesystem::path stderr_;
    test::ChildProcess process_;
};

TEST(PreviewApp, showsTheModelAndTheBrandLabelInAWindowTitledWithTheFile) {
    KELVO_REQUIRE_CORPUS();
    LivePreview preview(test::corpusDir() / "stl" / "torus.STL");
    ASSERT_TRUE(preview.waitFor("first frame")) << preview.errors();
    EXPECT_EQ(xdotool({"search", "--sync", "--name", "^torus\\.STL$"}), 0)
        << "no window titled with the file's name";
    RGBAImage shot = settledShot();
    keep(shot, "torus");
    // The model fills much of the middle; the label's text sits in the top-left corner and
    // nothing else is drawn there.
    EXPECT_GT(pixelsUnlikeBackground(shot, 300, 200, 500, 400), 200 * 200 / 2);
    EXPECT_GT(brightPixels(shot, 30, 6, 130, 30), 30) << "no brand label";
    EXPECT_EQ(pixelsUnlikeBackground(shot, 0, 35, 200, 100), 0);
    EXPECT_EQ(pixelsUnlikeBackground(shot, 150, 0, 300, 35), 0);
}

TEST(PreviewApp, draggingTurnsTheModelRBringsItBackEscapeCloses) {
    KELVO_REQUIRE_CORPUS();
    LivePreview preview(test::corpusDir() / "stl" / "torus.STL");
    ASSERT_TRUE(preview.waitFor("first frame")) << preview.errors();
    RGBAImage start = settledShot();

    ASSERT_EQ(
        xdotool({"mousemove", "400", "300", "mousedown", "1", "sleep", "0.1", "mousemove", "440",
                 "320", "sleep", "0.1", "mousemove", "520", "360", "sleep", "0.1", "mouseup", "1"}),
        0);
    RGBAImage turned = settledShot(&start);
    keep(turned, "torus-dragged");
    EXPECT_GT(differingPixels(start, turned), 5000) << "the drag did not change the view";
    // The brand label stays where it was.
    EXPECT_GT(brightPixels(turned, 30, 6, 130, 30), 30);

    ASSERT_EQ(xdotool({"key", "r"}), 0);
    RGBAImage reset = settledShot(&turned);
    EXPECT_LT(differingPixels(start, reset), 50) << "R did not return to the starting view";

    ASSERT_EQ(xdotool({"key", "Escape"}), 0);
    EXPECT_EQ(preview.process().wait(10s), 0) << preview.errors();
}

TEST(PreviewApp, aFileThatCannotBeShownIsToldInTheWindowAndOnStderr) {
    test::TempDir dir;
    std::filesystem::path missing = dir.path() / "missing.stl";
    LivePreview preview(missing);
    ASSERT_TRUE(preview.waitFor("No such file")) << preview.errors();
    EXPECT_EQ(preview.errors(),
              "kelvo-preview: " + missing.string() + ": POSIX 2: No such file or directory\n");
    RGBAImage shot = settledShot();
    keep(shot, "missing");
    // The message is centred in the window; no model, no brand label.
    EXPECT_GT(brightPixels(shot, 200, 250, 600, 350), 50);
    EXPECT_EQ(brightPixels(shot, 30, 6, 130, 30), 0);
    ASSERT_EQ(xdotool({"mousemove", "400", "300", "key", "Escape"}), 0);
    EXPECT_EQ(preview.process().wait(10s), 1);
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome run(const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& environment = {}) {
    test::TempDir dir;
    std::vector<std::string> command = {KELVO_PREVIEW_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    test::ChildProcess child(command, environment, (dir.path() / "out").string(),
                             (dir.path() / "err").string());
    Outcome result;
    result.status = child.wait(60s).value_or(-1);
    result.out = readText(dir.path() / "out");
    result.err = readText(dir.path() / "err");
    return result;
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
    int covered = 0;
    for (size_t i = 3; i < frame->pixels.size(); i += 4)
        covered += frame->pixels[i] > 0;
    EXPECT_GT(covered, 1000);
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

TEST(PreviewApp, noDisplayOrTooOldAnOpenGLEndsWithAClearMessage) {
    std::string model = std::string(KELVO_SOURCE_DIR) + "/examples/torus-knot.stl";
    Outcome headless = run({model}, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
    EXPECT_EQ(headless.status, 1);
    EXPECT_NE(headless.err.find("kelvo-preview: cannot open a display"), std::string::npos)
        << headless.err;

    test::TempDir dir;
    Outcome old = run({"--screenshot=" + (dir.path() / "x.png").string(), model},
                      {{"MESA_GL_VERSION_OVERRIDE", "3.1"}});
    EXPECT_EQ(old.status, 1);
    EXPECT_NE(old.err.find("OpenGL 3.3 or later is needed"), std::string::npos) << old.err;
}

TEST(PreviewApp, commandLine) {
    Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: kelvo-preview [OPTION]... FILE...", 0), 0u);
    EXPECT_NE(help.out.find("Escape, Space, Ctrl+W"), std::string::npos);
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({"--screenshot=x.png", "a.stl", "b.stl"}).status, 2);
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
