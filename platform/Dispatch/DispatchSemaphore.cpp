#include "platform/Dispatch/DispatchSemaphore.h"

#include "platform/Dispatch/DispatchQueue.h"

namespace kelvo {

void DispatchSemaphore::signal() {
    // Notified under the lock: a waiter that wakes may destroy the semaphore at once, so it
    // must not be touched after the lock is released.
    std::lock_guard lock(mutex_);
    ++value_;
    available_.notify_one();
}

void DispatchSemaphore::wait() {
    {
        std::lock_guard lock(mutex_);
        if (value_ > 0) {
            --value_;
            return;
        }
    }
    DispatchQueue::workerWillWait();
    {
        std::unique_lock lock(mutex_);
        available_.wait(lock, [this] { return value_ > 0; });
        --value_;
    }
    DispatchQueue::workerDidWait();
}

bool DispatchSemaphore::waitFor(std::chrono::nanoseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    DispatchQueue::workerWillWait();
    bool taken;
    {
        std::unique_lock lock(mutex_);
        taken = available_.wait_until(lock, deadline, [this] { return value_ > 0; });
        if (taken) --value_;
    }
    DispatchQueue::workerDidWait();
    return taken;
}

}  // namespace kelvo
