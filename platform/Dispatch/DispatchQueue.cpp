#include "platform/Dispatch/DispatchQueue.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace kelvo {

struct DispatchQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<WorkItem> pending;
    std::vector<std::thread> workers;
    std::size_t idle = 0;     // workers waiting for work
    std::size_t blocked = 0;  // workers inside a work item that waits for other work
    bool stopping = false;
};

namespace {

// Nice values by class: only ever lowered, so no privilege is needed.
int niceIncrement(QoSClass qos) {
    switch (qos) {
        case QoSClass::utility:
            return 4;
        case QoSClass::background:
            return 10;
        default:
            return 0;
    }
}

// Read once: each query reads /sys, and every queue asks.
std::size_t machineWidth() {
    static const std::size_t width = std::max(1u, std::thread::hardware_concurrency());
    return width;
}

// The pool whose worker this thread is, if any.
thread_local DispatchQueue* currentQueue = nullptr;

}  // namespace

DispatchQueue& DispatchQueue::global(QoSClass qos) {
    // One function-local static per class: created on first use, thread-safe by the
    // language, destroyed at exit in reverse order of creation.
    static DispatchQueue userInteractive(QoSClass::userInteractive, machineWidth());
    static DispatchQueue userInitiated(QoSClass::userInitiated, machineWidth());
    static DispatchQueue defaultClass(QoSClass::defaultClass, machineWidth());
    static DispatchQueue utility(QoSClass::utility, machineWidth());
    static DispatchQueue background(QoSClass::background, machineWidth());
    switch (qos) {
        case QoSClass::userInteractive:
            return userInteractive;
        case QoSClass::userInitiated:
            return userInitiated;
        case QoSClass::defaultClass:
            return defaultClass;
        case QoSClass::utility:
            return utility;
        case QoSClass::background:
            return background;
    }
    return defaultClass;
}

DispatchQueue::DispatchQueue(QoSClass qos, std::size_t width)
    : qos_(qos), width_(width), state_(new State) {}

DispatchQueue::~DispatchQueue() {
    std::deque<WorkItem> discarded;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        discarded.swap(state_->pending);
    }
    state_->wake.notify_all();
    // Destroyed outside the lock: a work item's captures may run arbitrary code.
    discarded.clear();
    for (std::thread& worker : state_->workers)
        worker.join();
    delete state_;
}

void DispatchQueue::async(WorkItem work) {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    if (s.stopping) return;
    s.pending.push_back(std::move(work));
    // Every waiting item is matched with an idle worker (a notified worker stays counted as
    // idle until it has taken an item), so start one more only when items outnumber them.
    if (s.pending.size() <= s.idle || s.workers.size() - s.blocked >= width_ ||
        s.workers.size() >= maxWorkers) {
        lock.unlock();
        s.wake.notify_one();
        return;
    }
    if (!startWorker(lock)) {
        // With no worker at all the item would never run, so the caller learns of it.
        s.pending.pop_back();
        throw std::system_error(EAGAIN, std::generic_category(), "no worker thread");
    }
}

bool DispatchQueue::startWorker(std::unique_lock<std::mutex>& lock) {
    State& s = *state_;
    const int nice = niceIncrement(qos_);
    try {
        s.workers.emplace_back([this, &s, nice] {
            currentQueue = this;
            if (nice != 0) {
                // On Linux the nice value is per thread; a failure just keeps the priority.
                (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), nice);
            }
            std::unique_lock workerLock(s.mutex);
            for (;;) {
                while (s.pending.empty() && !s.stopping) {
                    ++s.idle;
                    s.wake.wait(workerLock);
                    --s.idle;
                }
                if (s.stopping) return;
                WorkItem item = std::move(s.pending.front());
                s.pending.pop_front();
                workerLock.unlock();
                item();
                item = nullptr;  // captures are released before the next wait
                workerLock.lock();
            }
        });
    } catch (...) {
        // Out of threads: the workers already running will take the work, if there are any.
        return !s.workers.empty();
    }
    (void)lock;  // held by the caller all along: the new worker waits for it
    return true;
}

void DispatchQueue::workerWillWait() {
    DispatchQueue* queue = currentQueue;
    if (!queue) return;
    State& s = *queue->state_;
    std::unique_lock lock(s.mutex);
    ++s.blocked;
    // The work this worker waits for may be queued behind it, with every other worker
    // waiting too: as the system's queues do, run one more worker than are blocked.
    if (!s.stopping && s.pending.size() > s.idle && s.workers.size() - s.blocked < queue->width_ &&
        s.workers.size() < maxWorkers) {
        queue->startWorker(lock);
    }
}

void DispatchQueue::workerDidWait() {
    DispatchQueue* queue = currentQueue;
    if (!queue) return;
    std::lock_guard lock(queue->state_->mutex);
    --queue->state_->blocked;
}

}  // namespace kelvo
