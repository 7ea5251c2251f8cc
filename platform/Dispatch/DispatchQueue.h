// Global concurrent queues by quality of service: process-wide pools of worker threads that
// run submitted work items in no particular order, several at once.
//
// Each class has its own pool, created on first use and sized to the machine (one worker
// per hardware thread). Workers are started only when work is waiting and none is idle, so
// a process that submits one item starts one thread. Workers of the utility and background
// classes run at a lower scheduling priority (a higher nice value); the other classes run at
// the process's own priority, since raising it needs privileges a thumbnailer never has.
//
// A work item that waits (DispatchSemaphore::wait) for work it queued on its own pool does not
// starve it: while workers wait, as many more may start as are waiting (up to maxWorkers in
// all), so the waited-for work always finds a thread.
//
// Thread safety: global() and async() may be called from any thread, also from work items.
//
// Shutdown: the pools are destroyed with the other statics at exit(). A pool then discards
// the work that has not started, lets running items finish and joins its workers; an item
// that never returns therefore delays exit, as it would in any process. Work submitted
// after shutdown began is discarded. _exit() and quick_exit() end the workers with the
// process and run nothing.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>

namespace kelvo {

enum class QoSClass { userInteractive, userInitiated, defaultClass, utility, background };

class DispatchQueue {
public:
    using WorkItem = std::function<void()>;

    // The process-wide concurrent queue of `qos`, created on the first call.
    static DispatchQueue& global(QoSClass qos);

    // Runs `work` later on one of the queue's workers and returns at once. The item must not
    // throw: an exception escaping it ends the process (std::terminate). Throws
    // std::system_error only when no worker exists and none can be started.
    void async(WorkItem work);

    QoSClass qos() const { return qos_; }

    // Called by waits that may block the calling thread: when it is one of a pool's workers,
    // the pool counts it as blocked (and may start another worker) until the wait is over.
    static void workerWillWait();
    static void workerDidWait();

    // The most threads a pool starts, blocked ones included.
    static constexpr std::size_t maxWorkers = 256;
    // The most workers that may run at once.
    std::size_t width() const { return width_; }

    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;
    ~DispatchQueue();

private:
    struct State;
    DispatchQueue(QoSClass qos, std::size_t width);
    // Starts one worker; false when none can start. Called with the pool's lock held.
    bool startWorker(std::unique_lock<std::mutex>& lock);

    QoSClass qos_;
    std::size_t width_;
    State* state_;
};

}  // namespace kelvo
