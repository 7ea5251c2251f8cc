// kelvo-cache against the freedesktop thumbnail cache as file managers read it: names, text
// chunks, modes, validity, failures remembered, a hostile file failing alone, and GNOME's
// own lookup accepting what it wrote.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "extensions/KelvoCache/CacheLayout.h"
#include "extensions/KelvoCache/PNGText.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Imaging/PNG.h"
#include "tests/support/TestFiles.h"
#include "tests/thumbnail/Models.h"

namespace kelvo {
namespace {

TEST(ThumbnailCacheLayout, namesAreTheMD5OfGLibEscapedURIs) {
    // Escapes as GLib writes them; a file manager's lookup compares these bytes.
    EXPECT_EQ(fileURI("/tmp/a b#%\xc3\xa9.stl"), "file:///tmp/a%20b%23%25%C3%A9.stl");
    EXPECT_EQ(fileURI("/tmp/x/../y/./z.stl"), "file:///tmp/y/z.stl");
    EXPECT_EQ(thumbnailFileName("file:///tmp/a%20b%23%25%C3%A9.stl"),
              "96423fae986fc7acccb3d15352a6799b.png");
    EXPECT_EQ(flavourNamed("x-large")->pixels, 512);
    EXPECT_FALSE(flavourNamed("huge"));
}

TEST(PNGText, chunksGoInAfterTheHeaderAndHostileLengthsEndTheWalk) {
    const std::vector<std::uint8_t> png = encodePNG(RGBAImage(2, 2));
    auto tagged = withPNGText(png, {{"Thumb::URI", "file:///a"}, {"Thumb::MTime", "12"}});
    ASSERT_TRUE(tagged);
    EXPECT_TRUE(decodePNG(*tagged)) << "still a PNG libpng reads (CRCs right)";
    auto text = readPNGText(*tagged);
    EXPECT_EQ(text["Thumb::URI"], "file:///a");
    EXPECT_EQ(text["Thumb::MTime"], "12");
    EXPECT_FALSE(withPNGText(ByteSpan(png.data(), 20), {}));
    // A chunk whose length runs past the end, at every cut: no read beyond the bytes.
    for (size_t cut = 0; cut < tagged->size(); ++cut)
        readPNGText(ByteSpan(tagged->data(), cut));
    std::vector<std::uint8_t> lying = *tagged;
    lying[33] = 0x7f;  // the first tEXt chunk's length, now about 2 GB
    EXPECT_TRUE(readPNGText(lying).empty());
}

struct ToolRun {
    int status;
    std::string err;
};

class KelvoCacheTool : public ::testing::Test {
protected:
    test::TempDir tree, cache;

    ToolRun kelvoCache(const std::string& arguments, const std::string& environment = "") {
        const std::string command = environment + "XDG_CACHE_HOME='" + cache.path().string() +
                                    "' " + KELVO_CACHE_PATH + " " + arguments + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string out;
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            out += static_cast<char>(c);
        const int status = ::pclose(pipe);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
    }
    std::filesystem::path thumbnails() const { return cache.path() / "thumbnails"; }
    std::filesystem::path thumbnailOf(const std::filesystem::path& file,
                                      const char* flavour = "large") const {
        return thumbnails() / flavour / thumbnailFileName(*fileURI(file));
    }
};

TEST_F(KelvoCacheTool, fillsResumesAndRemembersFailuresWhileAHangingFileFailsAlone) {
    const std::vector<std::filesystem::path> good = {
        tree.write("strip.stl", test::stripSTL()),
        tree.write("sub/a b#%\xc3\xa9.STL", test::stripSTL(5)),
        tree.write("sub/deeper/square.stl", test::squareSTL(50)),
    };
    const std::filesystem::path broken = tree.write("sub/notes.stl", "not a model\n");
    tree.write("sub/readme.txt", "ignored: not a model type\n");
    // Files that make their worker stall or crash (a test hook does what a parser bug would):
    // the worker is killed or lost and replaced, and the other files go on.
    const std::filesystem::path slow = tree.write("slow.stl", test::stripSTL());
    tree.write("crash.stl", test::stripSTL());

    ToolRun first = kelvoCache("--time-limit 2 -j 2 '" + tree.path().string() + "'",
                               "KELVO_TEST_STALL_ON=slow.stl KELVO_TEST_CRASH_ON=crash.stl ");
    EXPECT_EQ(first.status, 1) << first.err;
    EXPECT_NE(first.err.find("notes.stl: KelvoThumbnail 1: "), std::string::npos) << first.err;
    EXPECT_NE(first.err.find("slow.stl: KelvoThumbnail 3: Time limit"), std::string::npos)
        << first.err;
    EXPECT_NE(first.err.find("crash.stl: KelvoThumbnail 5: "), std::string::npos) << first.err;
    EXPECT_NE(first.err.find("3 made"), std::string::npos) << first.err;
    for (const auto& file : good) {
        const std::filesystem::path thumbnail = thumbnailOf(file);
        ByteBuffer bytes = readFileContents(thumbnail);
        auto image = decodePNG(bytes);
        ASSERT_TRUE(image) << file;
        EXPECT_EQ(image->width, 256);
        auto text = readPNGText(bytes);
        struct stat info;
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(text["Thumb::URI"], *fileURI(file));
        EXPECT_EQ(text["Thumb::MTime"], std::to_string(info.st_mtime));
        EXPECT_EQ(text["Thumb::Size"], std::to_string(info.st_size));
        EXPECT_EQ(text["Thumb::Mimetype"], "model/stl");
        ASSERT_EQ(::stat(thumbnail.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    struct stat folder;
    ASSERT_EQ(::stat((thumbnails() / "large").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_TRUE(
        std::filesystem::exists(thumbnails() / "fail" / (std::string("kelvo-") + KELVO_VERSION) /
                                thumbnailFileName(*fileURI(broken))));

    // Nothing changed: nothing to make, failures not tried again.
    ToolRun second = kelvoCache("'" + tree.path().string() + "'");
    EXPECT_NE(second.err.find("0 made, 3 already valid, 0 failed, 3 failed in earlier runs"),
              std::string::npos)
        << second.err;
    // A changed file and a lost thumbnail are made again, as after an interrupted run.
    std::filesystem::remove(thumbnailOf(good[0]));
    std::filesystem::last_write_time(
        good[1], std::filesystem::last_write_time(good[1]) + std::chrono::seconds(5));
    ToolRun third = kelvoCache("-q '" + tree.path().string() + "'");
    EXPECT_EQ(third.status, 1);
    ToolRun fourth =
        kelvoCache("--retry-failed --size normal,large '" + tree.path().string() + "'");
    EXPECT_NE(fourth.err.find("7 made, 3 already valid, 2 failed, 0 failed in earlier runs"),
              std::string::npos)
        << fourth.err;
    EXPECT_TRUE(std::filesystem::exists(thumbnailOf(good[2], "normal")));

    // GNOME Files asks its factory first: it must take these as valid and not redo them.
    if (std::string factory = KELVO_FACTORY_TEST_PATH; !factory.empty()) {
        std::string command =
            "XDG_CACHE_HOME='" + cache.path().string() + "' " + factory + " --lookup large";
        for (const auto& file : good)
            command += " '" + file.string() + "'";
        EXPECT_EQ(std::system((command + " >/dev/null").c_str()), 0) << command;
    }
}

TEST_F(KelvoCacheTool, commandLineMistakes) {
    EXPECT_EQ(kelvoCache("--help").status, 0);
    for (const char* bad : {"", "--size huge x", "-j 0 x", "--bogus x", "--time-limit -1 x"})
        EXPECT_EQ(kelvoCache(bad).status, 2) << bad;
    ToolRun dry = kelvoCache("--dry-run '" + tree.write("a.stl", test::stripSTL()).string() + "'");
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.err.find("1 to make"), std::string::npos) << dry.err;
    EXPECT_FALSE(std::filesystem::exists(thumbnails() / "large"));
}

}  // namespace
}  // namespace kelvo
