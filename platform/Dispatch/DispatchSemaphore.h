// A counting semaphore: signal() adds one, wait() takes one, blocking while there is none.
// The usual use is to block a thread until work running elsewhere has finished: start at 0,
// signal once from the work, wait once in the waiting thread.
//
// Thread safety: every operation may be called from any thread at any time. A thread whose
// wait() returned may destroy the semaphore even while the signalling thread is still inside
// signal().
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kelvo {

class DispatchSemaphore {
public:
    // `value` (not negative) is the number of waits that succeed without a signal.
    explicit DispatchSemaphore(long value = 0) : value_(value) {}
    DispatchSemaphore(const DispatchSemaphore&) = delete;
    DispatchSemaphore& operator=(const DispatchSemaphore&) = delete;

    // Adds one and wakes one waiting thread, if any.
    void signal();
    // Takes one, waiting as long as it takes.
    void wait();
    // Takes one if that is possible before `timeout` has passed (measured on the steady
    // clock); false when the time ran out.
    bool waitFor(std::chrono::nanoseconds timeout);

private:
    // A mutex and a condition variable rather than std::counting_semaphore: libstdc++ 12's
    // semaphore can miss a wake-up and sleep on (GCC bug 104928, fixed in 13), which would
    // turn a finished request into a hang.
    std::mutex mutex_;
    std::condition_variable available_;
    long value_;
};

}  // namespace kelvo
