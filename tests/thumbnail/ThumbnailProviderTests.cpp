// ThumbnailProvider as a host drives it: one handler call per request, on a queue thread,
// with a reply that draws at maximum size x scale or with the load's error unchanged.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "extensions/KelvoThumbnail/ThumbnailProvider.h"
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
    std::atomic<int> calls{0};
    DispatchSemaphore done;
};

std::shared_ptr<Answer> submit(const ThumbnailProvider& provider, ThumbnailRequest req) {
    auto answer = std::make_shared<Answer>();
    provider.provideThumbnail(req, [answer](auto reply, auto error) {
        answer->reply = std::move(reply);
        answer->error = std::move(error);
        answer->thread = std::this_thread::get_id();
        ++answer->calls;
        answer->done.signal();
    });
    return answer;
}

// Waits for the handler, then a little more so that a second, wrong call would be seen.
std::shared_ptr<Answer> wait(std::shared_ptr<Answer> answer) {
    EXPECT_TRUE(answer->done.waitFor(30s));
    EXPECT_FALSE(answer->done.waitFor(20ms)) << "handler called twice";
    EXPECT_NE(answer->thread, std::this_thread::get_id());
    EXPECT_NE(!answer->reply, !answer->error) << "a reply or an error, never both or neither";
    return answer;
}

std::shared_ptr<Answer> request(const ThumbnailProvider& provider, ThumbnailRequest req) {
    return wait(submit(provider, std::move(req)));
}

class ThumbnailProviderTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::filesystem::path model = dir.write("strip.stl", test::stripSTL());
    ThumbnailProvider provider;
};

TEST_F(ThumbnailProviderTest, replyHasTheMaximumSizeAndDrawsAtSizeTimesScale) {
    struct {
        Size size;
        double scale;
        int width, height;
    } cases[] = {{{128, 128}, 2, 256, 256}, {{200, 33}, 1.5, 300, 49}};  // 49.5 rounded down
    for (const auto& c : cases) {
        auto answer = request(provider, {model, c.size, c.scale});
        ASSERT_TRUE(answer->reply);
        EXPECT_EQ(answer->reply->contextSize, c.size);
        std::optional<RGBAImage> image = drawThumbnailReply(*answer->reply, c.scale);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, c.width);
        EXPECT_EQ(image->height, c.height);
    }
}

TEST_F(ThumbnailProviderTest, loadAndPreparationErrorsReachTheHandlerUnchanged) {
    auto unsupported = request(provider, {dir.write("part.TXT", "v 0 0 0\n"), {128, 128}, 1});
    EXPECT_EQ(unsupported->error, makeError("SceneLoader", -3, "Unsupported format: TXT"));
    ThumbnailProvider refusing([](Scene&) { throw makeError("Test", 7, "refused"); });
    EXPECT_EQ(request(refusing, {model, {64, 64}, 1})->error, makeError("Test", 7, "refused"));
}

TEST_F(ThumbnailProviderTest, drawingBlockReturnsFalseWithoutAContextOrAnImage) {
    // With no current context, or at a size the renderer cannot make an image of, the
    // reply still comes and says no.
    auto answer = request(provider, {model, {64, 64}, 1});
    auto huge = request(provider, {model, {100000, 100000}, 1});
    ASSERT_TRUE(answer->reply && huge->reply);
    ASSERT_EQ(GraphicsContext::current(), nullptr);
    EXPECT_FALSE(answer->reply->drawingBlock());
    GraphicsContext small({8, 8}, 1);
    CurrentGraphicsContext current(&small);
    EXPECT_FALSE(huge->reply->drawingBlock());
}

// The request outlives its provider, destroyed as soon as it is asked.
TEST_F(ThumbnailProviderTest, eachRunOfTheDrawingBlockStagesTheSceneAgain) {
    std::atomic<Scene*> captured{nullptr};
    auto answer = wait(
        submit(ThumbnailProvider([&](Scene& scene) { captured = &scene; }), {model, {64, 64}, 1}));
    ASSERT_TRUE(answer->reply && captured.load());
    auto count = [&](auto member) {
        int n = 0;
        captured.load()->rootNode->enumerateChildNodes(
            [&](Node& node, bool&) { n += !!(node.*member); });
        return n;
    };
    EXPECT_EQ(count(&Node::camera), 0);
    for (int run = 1; run <= 2; ++run) {
        ASSERT_TRUE(drawThumbnailReply(*answer->reply, 1));
        EXPECT_EQ(count(&Node::camera), run);
        EXPECT_EQ(count(&Node::light), 3 * run);
    }
}

TEST_F(ThumbnailProviderTest, manyRequestsAtOnceFromSeveralThreads) {
    const std::filesystem::path bad = dir.write("bad.xyz", "nothing");
    std::atomic<int> drawn{0};
    std::vector<std::thread> submitters;
    for (int t = 0; t < 4; ++t) {
        submitters.emplace_back([&] {
            std::vector<std::shared_ptr<Answer>> answers;
            for (int i = 0; i < 25; ++i)
                answers.push_back(submit(provider, {i % 3 == 0 ? bad : model, {16, 16}, 1}));
            for (int i = 0; i < 25; ++i) {
                EXPECT_EQ(!!wait(answers[i])->error, i % 3 == 0);
                if (answers[i]->reply)
                    drawn += drawThumbnailReply(*answers[i]->reply, 1).has_value();
            }
        });
    }
    for (auto& s : submitters)
        s.join();
    EXPECT_EQ(drawn, 4 * 16);
}

}  // namespace
}  // namespace kelvo
