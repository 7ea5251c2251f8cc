// ThumbnailProvider as a host drives it: one handler call per request, on a queue thread,
// with a reply that draws at maximum size x scale or with the load's error unchanged.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "extensions/KelvoThumbnail/ThumbnailProvider.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "platform/Dispatch/DispatchSemaphore.h"
#include "platform/Imaging/GraphicsContext.h"
#include "tests/thumbnail/Models.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;

struct Answer {
    std::optional<ThumbnailReply> reply;
    std::optional<Error> error;
    std::thread::id thread;
    int calls = 0;
};

// Runs one request and waits for its handler; then waits a little more so that a second,
// wrong call of the handler would be seen.
Answer request(const ThumbnailProvider& provider, ThumbnailRequest req) {
    auto answer = std::make_shared<Answer>();
    auto done = std::make_shared<DispatchSemaphore>();
    provider.provideThumbnail(
        req, [answer, done](std::optional<ThumbnailReply> reply, std::optional<Error> error) {
            answer->reply = std::move(reply);
            answer->error = std::move(error);
            answer->thread = std::this_thread::get_id();
            ++answer->calls;
            done->signal();
        });
    EXPECT_TRUE(done->waitFor(30s));
    EXPECT_FALSE(done->waitFor(20ms)) << "handler called twice";
    return *answer;
}

std::int64_t countNodes(const Node& node, bool (*wanted)(const Node&)) {
    std::int64_t n = wanted(node) ? 1 : 0;
    for (const auto& child : node.childNodes())
        n += countNodes(*child, wanted);
    return n;
}

class ThumbnailProviderTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::filesystem::path cube = dir.write("cube.stl", test::cubeSTL());
    ThumbnailProvider provider;
};

TEST_F(ThumbnailProviderTest, handlerIsCalledOnceOffTheCallingThreadWithAReplyOfTheMaximumSize) {
    Answer answer = request(provider, {cube, {128, 96}, 1});
    EXPECT_EQ(answer.calls, 1);
    EXPECT_NE(answer.thread, std::this_thread::get_id());
    ASSERT_TRUE(answer.reply);
    EXPECT_FALSE(answer.error);
    EXPECT_EQ(answer.reply->contextSize, (Size{128, 96}));
}

TEST_F(ThumbnailProviderTest, loadErrorsReachTheHandlerUnchangedWithNoReply) {
    Answer unsupported = request(provider, {dir.write("part.OBJ", "v 0 0 0\n"), {128, 128}, 1});
    EXPECT_FALSE(unsupported.reply);
    ASSERT_TRUE(unsupported.error);
    EXPECT_EQ(*unsupported.error, makeError("SceneLoader", -3, "Unsupported format: OBJ"));
    EXPECT_NE(unsupported.thread, std::this_thread::get_id());

    Answer missing = request(provider, {dir.path() / "missing.stl", {128, 128}, 1});
    EXPECT_FALSE(missing.reply);
    ASSERT_TRUE(missing.error);
    EXPECT_EQ(missing.error->domain(), "POSIX");
    EXPECT_EQ(missing.error->code(), ENOENT);
}

TEST_F(ThumbnailProviderTest, replyDrawsAtMaximumSizeTimesScale) {
    Answer square = request(provider, {cube, {128, 128}, 2});
    ASSERT_TRUE(square.reply);
    std::optional<RGBAImage> image = drawThumbnailReply(*square.reply, 2);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 256);
    EXPECT_EQ(image->height, 256);

    // Not square: the reply keeps the requested proportions, in points and in pixels.
    Answer wide = request(provider, {cube, {200, 100}, 1.5});
    ASSERT_TRUE(wide.reply);
    EXPECT_EQ(wide.reply->contextSize, (Size{200, 100}));
    image = drawThumbnailReply(*wide.reply, 1.5);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 300);
    EXPECT_EQ(image->height, 150);
}

TEST_F(ThumbnailProviderTest, drawingBlockReturnsFalseWithoutAContextOrAnImage) {
    Answer answer = request(provider, {cube, {64, 64}, 1});
    ASSERT_TRUE(answer.reply);
    ASSERT_EQ(GraphicsContext::current(), nullptr);
    EXPECT_FALSE(answer.reply->drawingBlock());

    // A size the renderer cannot make an image of: the reply still comes, and says no.
    Answer huge = request(provider, {cube, {100000, 100000}, 1});
    ASSERT_TRUE(huge.reply);
    GraphicsContext small({8, 8}, 1);
    CurrentGraphicsContext current(&small);
    EXPECT_FALSE(huge.reply->drawingBlock());
}

TEST_F(ThumbnailProviderTest, eachRunOfTheDrawingBlockStagesTheSceneAgain) {
    std::atomic<Scene*> captured{nullptr};
    ThumbnailProvider watching([&](Scene& scene) { captured = &scene; });
    Answer answer = request(watching, {cube, {64, 64}, 1});
    ASSERT_TRUE(answer.reply);
    Scene* scene = captured.load();
    ASSERT_NE(scene, nullptr);
    auto cameras = [&] {
        return countNodes(*scene->rootNode, [](const Node& n) { return !!n.camera; });
    };
    auto lights = [&] {
        return countNodes(*scene->rootNode, [](const Node& n) { return !!n.light; });
    };
    EXPECT_EQ(cameras(), 0);
    ASSERT_TRUE(drawThumbnailReply(*answer.reply, 1));
    EXPECT_EQ(cameras(), 1);
    EXPECT_EQ(lights(), 3);
    ASSERT_TRUE(drawThumbnailReply(*answer.reply, 1));
    EXPECT_EQ(cameras(), 2);
    EXPECT_EQ(lights(), 6);
}

TEST_F(ThumbnailProviderTest, preparationFailuresAndProviderLifetime) {
    // A failing preparation step ends the request like a load error.
    ThumbnailProvider refusing([](Scene&) { throw makeError("Test", 7, "refused"); });
    Answer refused = request(refusing, {cube, {64, 64}, 1});
    EXPECT_FALSE(refused.reply);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(*refused.error, makeError("Test", 7, "refused"));

    // The request keeps what it needs: the provider may go away while it loads.
    auto answer = std::make_shared<Answer>();
    DispatchSemaphore done;
    {
        ThumbnailProvider shortLived;
        shortLived.provideThumbnail({cube, {32, 32}, 1},
                                    [&](std::optional<ThumbnailReply> reply, std::optional<Error>) {
                                        answer->reply = std::move(reply);
                                        done.signal();
                                    });
    }
    ASSERT_TRUE(done.waitFor(30s));
    ASSERT_TRUE(answer->reply);
    EXPECT_TRUE(drawThumbnailReply(*answer->reply, 1));
}

TEST_F(ThumbnailProviderTest, manyRequestsAtOnceFromSeveralThreads) {
    const std::filesystem::path bad = dir.write("bad.xyz", "nothing");
    constexpr int threads = 4, perThread = 25;
    std::atomic<int> replies{0}, errors{0}, onCallers{0};
    std::mutex mutex;
    std::set<std::thread::id> callers;
    std::vector<std::atomic<int>> calls(threads * perThread);
    DispatchSemaphore finished;

    std::vector<std::thread> submitters;
    for (int t = 0; t < threads; ++t) {
        submitters.emplace_back([&, t] {
            {
                std::lock_guard lock(mutex);
                callers.insert(std::this_thread::get_id());
            }
            for (int i = 0; i < perThread; ++i) {
                const int id = t * perThread + i;
                provider.provideThumbnail(
                    {id % 3 == 0 ? bad : cube, {16, 16}, 1},
                    [&, id](std::optional<ThumbnailReply> reply, std::optional<Error> error) {
                        {
                            std::lock_guard lock(mutex);
                            if (callers.count(std::this_thread::get_id())) ++onCallers;
                        }
                        ++calls[id];
                        if (reply && !error && drawThumbnailReply(*reply, 1)) ++replies;
                        if (error && !reply) ++errors;
                        finished.signal();
                    });
            }
        });
    }
    for (auto& s : submitters)
        s.join();
    for (int i = 0; i < threads * perThread; ++i)
        ASSERT_TRUE(finished.waitFor(60s));
    EXPECT_FALSE(finished.waitFor(20ms));
    EXPECT_EQ(errors, 34);  // ids divisible by 3 in 0..99
    EXPECT_EQ(replies, 66);
    EXPECT_EQ(onCallers, 0);
    for (auto& c : calls)
        EXPECT_EQ(c, 1);
}

}  // namespace
}  // namespace kelvo
