#pragma once
// Shared by the dispatch sources only: the queue's work items, the queue object groups reach
// into, and the shutdown every worker thread goes through.

#include "platform/core/dispatch_queue.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace dispatch {

class Group;

namespace detail {

struct QueueState;

struct Item {
    block_t block;
    Group* group = nullptr; // set for group members so a waiter can find them
    // Instead of block: a function and the object it is handed (see async_f).
    object_fn function = nullptr;
    std::shared_ptr<const void> object{};

    void run() {
        if (function != nullptr) {
            function(object);
        } else {
            block();
        }
    }
};

// Ends a worker thread that sleeps on wake under mutex: raises its stop flag under the lock,
// wakes it and waits until it has finished what it still has to do. When the last reference
// goes away on the worker itself, it cannot join itself; it owns what it still needs and ends
// on its own.
template <class Flag>
void stopWorker(std::mutex& mutex, std::condition_variable& wake, Flag& stop, std::thread& worker) {
    {
        std::lock_guard lock(mutex);
        stop = true;
        wake.notify_all();
    }
    if (std::this_thread::get_id() == worker.get_id()) {
        worker.detach();
    } else {
        worker.join();
    }
}

} // namespace detail

class Queue {
public:
    explicit Queue(const char* label);
    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    detail::QueueState& state() { return *state_; }

    void push(detail::Item item, bool wake);
    // Runs the front item on the caller's thread when it belongs to the group and the queue is
    // idle. Returns whether it did.
    bool runFrontMemberInline(Group* group);
    // Runs the block on the caller's thread when the queue is idle; returns false otherwise.
    // Defined where the queues are: only they use it.
    template <class Block>
    bool tryRunInline(Block&& block);

private:
    std::shared_ptr<detail::QueueState> state_;
    std::thread worker_;
};

} // namespace dispatch
