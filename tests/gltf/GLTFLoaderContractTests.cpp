// loadGLTFSync's contract with the glTF framework, with stand-ins for the framework: the
// first answer decides, errors pass unchanged, and an answer given inside the load call or on
// another thread both end the wait.
#include <gtest/gtest.h>

#include <thread>

#include "extensions/Shared/GLTFLoader.h"
#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

const std::filesystem::path anyURL = "/nowhere/model.glb";

// The error loadGLTFSync throws, or an error with code 0 when it returns.
Error loadError(const GLTFFramework& framework) {
    try {
        loadGLTFSync(anyURL, framework);
    } catch (const Error& e) {
        return e;
    }
    return Error("", 0);
}

std::shared_ptr<const GLTFAsset> someAsset() {
    return std::make_shared<const GLTFAsset>();
}

// A framework that answers once, inside the load call, with the given values.
GLTFFramework answeringInside(GLTFAssetStatus status, std::shared_ptr<const GLTFAsset> asset,
                              std::optional<Error> error, std::shared_ptr<Scene> scene) {
    return {[=](const std::filesystem::path&, const GLTFAssetLoadingOptions& options,
                GLTFAssetLoadHandler handler) {
                EXPECT_TRUE(options.empty());
                bool stop = false;
                handler(1, status, asset, error ? &*error : nullptr, &stop);
                EXPECT_FALSE(stop);
            },
            [scene](const GLTFAsset&) { return scene; }};
}

// Answered inside the load call: a complete asset's scene is returned unchanged; any other
// answer fails with its code, and the framework's own error passes unchanged whatever the
// status.
TEST(GLTFLoaderContract, theAnswerInsideTheCallDecides) {
    auto scene = std::make_shared<Scene>();
    EXPECT_EQ(loadGLTFSync(anyURL, answeringInside(GLTFAssetStatus::complete, someAsset(),
                                                   std::nullopt, scene)),
              scene);
    struct {
        GLTFAssetStatus status;
        bool asset;
        bool converts;
        long code;
        std::string_view message;
    } cases[] = {
        {GLTFAssetStatus::parsing, false, true, gltfLoadFailed, SceneLoaderMessage::gltfLoadFailed},
        {GLTFAssetStatus::processing, true, true, gltfLoadFailed,
         SceneLoaderMessage::gltfLoadFailed},
        {GLTFAssetStatus::complete, false, true, gltfLoadFailed,
         SceneLoaderMessage::gltfLoadFailed},
        {GLTFAssetStatus::complete, true, false, gltfNoSceneProduced,
         SceneLoaderMessage::gltfNoSceneProduced},
    };
    for (const auto& c : cases) {
        auto framework = answeringInside(c.status, c.asset ? someAsset() : nullptr, std::nullopt,
                                         c.converts ? std::make_shared<Scene>() : nullptr);
        Error e = loadError(framework);
        EXPECT_EQ(e, sceneLoaderError(static_cast<SceneLoaderErrorCode>(c.code), c.message))
            << static_cast<int>(c.status);
    }
    Error framework = makeError("GLTFKit", 4, "accessor 1 lies past its view");
    for (auto status : {GLTFAssetStatus::error, GLTFAssetStatus::complete}) {
        EXPECT_EQ(
            loadError(answeringInside(status, someAsset(), framework, std::make_shared<Scene>())),
            framework);
    }
}

// The framework reports progress first and the asset only later, from another thread: the
// first answer is the outcome, and the late one writes into slots nobody reads.
TEST(GLTFLoaderContract, anIntermediateFirstAnswerFailsEvenIfTheAssetFollows) {
    std::thread late;
    GLTFFramework framework{[&](const std::filesystem::path&, const GLTFAssetLoadingOptions&,
                                GLTFAssetLoadHandler handler) {
                                bool stop = false;
                                handler(0.5f, GLTFAssetStatus::parsing, nullptr, nullptr, &stop);
                                late = std::thread([handler] {
                                    bool stop = false;
                                    handler(1, GLTFAssetStatus::complete, someAsset(), nullptr,
                                            &stop);
                                });
                            },
                            [](const GLTFAsset&) { return std::make_shared<Scene>(); }};
    EXPECT_EQ(loadError(framework).code(), gltfLoadFailed);
    late.join();
}

TEST(GLTFLoaderContract, anAnswerFromAnotherThreadAfterTheCallReturnedEndsTheWait) {
    auto scene = std::make_shared<Scene>();
    std::thread worker;
    GLTFFramework framework{[&](const std::filesystem::path&, const GLTFAssetLoadingOptions&,
                                GLTFAssetLoadHandler handler) {
                                worker = std::thread([handler] {
                                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                    bool stop = false;
                                    handler(1, GLTFAssetStatus::complete, someAsset(), nullptr,
                                            &stop);
                                });
                            },
                            [scene](const GLTFAsset&) { return scene; }};
    EXPECT_EQ(loadGLTFSync(anyURL, framework), scene);
    worker.join();
}

// The real framework: a file it rejects fails with its own error, never with -1.
TEST(GLTFLoaderContract, aRejectedFileFailsWithTheFrameworksError) {
    test::TempDir dir;
    auto old = test::caught<Error>([&] {
        SceneLoader().load(dir.write("old.glb", test::Bytes{'g', 'l', 'T', 'F', 1, 0, 0, 0, 12, 0, 0, 0}));
    });
    ASSERT_TRUE(old) << "loaded";
    EXPECT_EQ(old->domain(), "GLTFKit");
    EXPECT_NE(old->localizedDescription().find("GLB version 1"), std::string::npos)
        << old->localizedDescription();
    auto missing = test::caught<Error>([&] { SceneLoader().load(dir.path() / "missing.gltf"); });
    ASSERT_TRUE(missing) << "loaded";
    EXPECT_EQ(missing->domain(), posixErrorDomain);
}

}  // namespace
}  // namespace kelvo
