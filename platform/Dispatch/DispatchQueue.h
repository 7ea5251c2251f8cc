// Global concurrent queues by quality of service: process-wide pools of worker threads that
// run submitted work items in no particular order, several at once.
//
// Each class has its own pool, created on first use and sized to the machine (one worker
// per hardware thread). Workers are started only when work is waiting and none is idle, so
// a process that submits one item starts one thread. Workers of the utility and background
// classes run at a lower scheduling priority (a higher nice value); the other classes run at
// the process's own priority, since raising it needs privileges a thumbnailer never has.
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
    // The most workers that may run at once.
    std::size_t width() const { return width_; }

    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;
    ~DispatchQueue();

private:
    struct State;
    DispatchQueue(QoSClass qos, std::size_t width);

    QoSClass qos_;
    std::size_t width_;
    State* state_;
};

}  // namespace kelvo
