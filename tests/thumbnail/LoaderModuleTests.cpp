// The loader module (extensions/Shared/FormatModule.h) as the shipped thumbnailer uses it:
// the format libraries stay out of its start-up, a glTF file drawn through the module comes
// out exactly as drawn in this process (texture size setting included), and without the
// module only the formats that need it fail, cleanly.
#include <gtest/gtest.h>

#include <string>

#include "extensions/KelvoThumbnail/Thumbnailer.h"
#include "platform/Foundation/FileReading.h"
#include "tests/thumbnail/Models.h"
#include "tests/thumbnail/Tool.h"

namespace kelvo {
namespace {

TEST(LoaderModule, formatLibrariesAreNotLoadedAtStart) {
    // The dynamic loader lists what the program needs at start without running it.
    test::ToolRun run =
        test::runTool({}, "LD_TRACE_LOADED_OBJECTS=1 " KELVO_THUMBNAILER_PATH, true);
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_NE(run.output.find("libstdc++"), std::string::npos) << run.output;
    for (const char* library :
         {"libassimp", "libdraco", "libsimdjson", "libturbojpeg", "libwebp", "libmeshoptimizer"}) {
        EXPECT_EQ(run.output.find(library), std::string::npos) << library << "\n" << run.output;
    }
}

TEST(LoaderModule, glTFThroughTheModuleDrawsAsInThisProcess) {
    KELVO_REQUIRE_CORPUS();
    // Textured: the module must decode at the size the program set.
    const std::filesystem::path model = test::corpusDir() / "gltf" / "DamagedHelmet.glb";
    test::TempDir out;
    test::ToolRun run = test::runTool({"-s", "48", model, out.path() / "module.png"});
    ASSERT_EQ(run.status, 0) << run.output;

    // Drawn in this process: makeThumbnail's worker may not be forked from a test that has
    // started the dispatch queues' threads.
    ThumbnailerOptions options;
    options.size = 48;
    options.memoryBudgetBytes = 0;
    std::variant<std::vector<std::uint8_t>, Error> made = drawThumbnailPNG(model, options);
    ASSERT_EQ(made.index(), 0u);
    const ByteBuffer fromModule = readFileContents(out.path() / "module.png");
    EXPECT_TRUE(std::equal(fromModule.begin(), fromModule.end(), std::get<0>(made).begin(),
                           std::get<0>(made).end()));
}

TEST(LoaderModule, withoutTheModuleOnlyItsFormatsFail) {
    KELVO_REQUIRE_CORPUS();
    if (std::filesystem::exists(std::filesystem::path(KELVO_INSTALL_MODULEDIR) /
                                "kelvo-loaders.so")) {
        GTEST_SKIP() << "an installed module would be found";
    }
    // The program alone, with its resources but not the module beside it.
    test::TempDir bin, out;
    const std::filesystem::path program = bin.path() / "kelvo-thumbnailer";
    const std::filesystem::path built = KELVO_THUMBNAILER_PATH;
    std::filesystem::copy_file(built, program);
    std::filesystem::copy_file(built.parent_path() / "watermark-icon.png",
                               bin.path() / "watermark-icon.png");

    const std::filesystem::path stl = out.path() / "strip.stl";
    out.write("strip.stl", test::stripSTL());
    test::ToolRun ok = test::runTool({"-s", "64", stl, out.path() / "a.png"}, program);
    EXPECT_EQ(ok.status, 0) << ok.output;

    const std::filesystem::path glb = test::corpusDir() / "gltf" / "DamagedHelmet.glb";
    test::ToolRun failed = test::runTool({"-s", "64", glb, out.path() / "b.png"}, program);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.output.find(": SceneLoader -4: The loader module for this format cannot be"),
              std::string::npos)
        << failed.output;
    EXPECT_FALSE(std::filesystem::exists(out.path() / "b.png"));
}

}  // namespace
}  // namespace kelvo
