// The Dispatch layer: process-wide concurrent queues that run every item exactly once off
// the caller's thread, several at once; a semaphore that times out; exit that never hangs.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/DispatchSemaphore.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;

constexpr QoSClass allClasses[] = {QoSClass::userInteractive, QoSClass::userInitiated,
                                   QoSClass::defaultClass, QoSClass::utility, QoSClass::background};

// One queue per class, sized to the machine, each running every item exactly once off the
// calling thread.
TEST(DispatchQueue, globalQueuesRunEveryItemExactlyOnceOffTheCallingThread) {
    constexpr int perClass = 200;
    std::set<DispatchQueue*> queues;
    std::atomic<int> runs{0}, onCaller{0};
    DispatchSemaphore done;
    for (QoSClass qos : allClasses) {
        DispatchQueue& queue = DispatchQueue::global(qos);
        queues.insert(&queue);
        EXPECT_EQ(&queue, &DispatchQueue::global(qos));
        EXPECT_EQ(queue.width(), std::max(1u, std::thread::hardware_concurrency()));
        for (int i = 0; i < perClass; ++i) {
            queue.async([&, caller = std::this_thread::get_id()] {
                onCaller += std::this_thread::get_id() == caller;
                ++runs;
                done.signal();
            });
        }
    }
    EXPECT_EQ(queues.size(), std::size(allClasses));
    for (int i = 0; i < perClass * 5; ++i)
        ASSERT_TRUE(done.waitFor(30s));
    EXPECT_FALSE(done.waitFor(10ms));
    EXPECT_EQ(runs, perClass * 5);
    EXPECT_EQ(onCaller, 0);
}

TEST(DispatchQueue, runsItemsAtTheSameTime) {
    DispatchQueue& queue = DispatchQueue::global(QoSClass::userInitiated);
    if (queue.width() < 2) GTEST_SKIP() << "one hardware thread";
    // Each item waits for the other: they finish only if both run at once.
    DispatchSemaphore first, second, done;
    auto item = [&](DispatchSemaphore& mine, DispatchSemaphore& other) {
        return [&] {
            mine.signal();
            if (other.waitFor(10s)) done.signal();
        };
    };
    queue.async(item(first, second));
    queue.async(item(second, first));
    EXPECT_TRUE(done.waitFor(20s) && done.waitFor(20s));
}

// Loaders wait on a queue's worker for work they queued on the same queue (the glTF load
// does): more such loads at once than the queue has workers must still all finish.
TEST(DispatchQueue, workThatWaitsForWorkOnItsOwnQueueDoesNotStarveIt) {
    DispatchQueue& queue = DispatchQueue::global(QoSClass::utility);
    const int loads = static_cast<int>(queue.width()) * 2 + 2;
    std::atomic<int> finished{0};
    DispatchSemaphore allDone;
    for (int i = 0; i < loads; ++i) {
        queue.async([&] {
            DispatchSemaphore inner;
            queue.async([&inner] { inner.signal(); });
            inner.wait();
            if (++finished == loads) allDone.signal();
        });
    }
    ASSERT_TRUE(allDone.waitFor(std::chrono::seconds(20))) << finished << " of " << loads;
}

TEST(DispatchSemaphore, countsSignalsAndTimesOut) {
    DispatchSemaphore twice(2);
    EXPECT_TRUE(twice.waitFor(0ms) && twice.waitFor(0ms));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(twice.waitFor(30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    DispatchQueue::global(QoSClass::utility).async([&] { twice.signal(); });
    twice.wait();
}

TEST(DispatchQueueDeathTest, exitWithWorkRunningAndQueuedDoesNotHang) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto nap = [] { std::this_thread::sleep_for(5ms); };
    EXPECT_EXIT(
        {
            for (int i = 0; i < 1000; ++i)
                DispatchQueue::global(QoSClass::background).async(nap);
            std::exit(3);
        },
        ::testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace kelvo
