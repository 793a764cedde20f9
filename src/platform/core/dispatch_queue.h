#pragma once
// Serial dispatch queues and the data stored on them.
//
// Every serial queue owns one worker thread. A synchronous submission to an idle queue runs on
// the caller's thread while the queue is held, as libdispatch does, so nested synchronous calls
// cost no thread switch. Queue-specific data and the current label follow the innermost queue the
// calling thread runs on.

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <type_traits>

namespace dispatch {

class Queue;
using queue_t = std::shared_ptr<Queue>;
using block_t = std::function<void()>;

// The main thread's label; the same pointer every time, so callers may keep it without a copy.
inline constexpr const char MAIN_QUEUE_LABEL[] = "dispatch.main-thread";

// Shared queues, one per priority and overcommit flag, for work that belongs to nobody in
// particular; a label of one of them therefore says nothing about who submitted the work.
// Unlike libdispatch's they are serial: one worker each.
inline constexpr long QUEUE_PRIORITY_LOW = -2;
inline constexpr long QUEUE_PRIORITY_DEFAULT = 0;
inline constexpr long QUEUE_PRIORITY_HIGH = 2;
inline constexpr unsigned long QUEUE_OVERCOMMIT = 0x2;
// Low, default, high, then the same three with overcommit.
inline constexpr const char* GLOBAL_QUEUE_LABELS[6] = {"dispatch.root.low-priority",
                                                       "dispatch.root.default-priority",
                                                       "dispatch.root.high-priority",
                                                       "dispatch.root.low-overcommit-priority",
                                                       "dispatch.root.default-overcommit-priority",
                                                       "dispatch.root.high-overcommit-priority"};
// An unknown priority counts as the default one.
queue_t get_global_queue(long priority, unsigned long flags);

// A new serial queue; label may be null (unlabelled). Dropping the last reference runs what is
// still queued and ends the worker.
queue_t queue_create(const char* label);
// The queue's label, or null when it has none.
const char* queue_get_label(const queue_t& queue);
// The label of the queue the caller runs on: MAIN_QUEUE_LABEL on the process's main thread
// outside any queue, null on any other thread that runs no queue.
const char* current_queue_label();
// Whether the calling thread runs a block of any queue right now.
bool running_on_queue();

void async(const queue_t& queue, block_t block);
// Like async, for a plain function that is handed a shared object. A block that captures a
// shared pointer does not fit a block_t's inline storage and would cost an allocation per call;
// this costs none. The function gets the queue's reference to the object and may take it over.
using object_fn = void (*)(std::shared_ptr<const void>& object);
void async_f(const queue_t& queue, std::shared_ptr<const void> object, object_fn fn);
// Runs the block on the queue and returns when it has finished. Calling it on the queue the
// caller already runs on (directly or through nested synchronous calls) would wait forever, so it
// aborts with a message instead.
void sync(const queue_t& queue, const block_t& block);

// Runs block(i) on queues[i] for every i and returns when all have finished. Idle queues run on
// the caller's thread (held, like sync), one after another; busy ones get the block queued and
// run on their workers in parallel.
// Like sync, it aborts when the caller already runs on one of the queues.
namespace detail {
using each_fn = void (*)(void* context, std::size_t index);
void sync_each(std::span<const queue_t> queues, each_fn fn, void* context);
} // namespace detail
// Takes the block by reference and calls it in place: nothing is copied or allocated per call.
template <class Block>
void sync_each(std::span<const queue_t> queues, Block&& block) {
    using Target = std::remove_reference_t<Block>;
    detail::sync_each(
        queues, [](void* context, std::size_t i) { (*static_cast<Target*>(context))(i); },
        const_cast<void*>(static_cast<const void*>(std::addressof(block))));
}

// Data stored on a queue under a key; get_specific reads it for the caller's current queue.
void queue_set_specific(const queue_t& queue, const void* key, void* context);
void* queue_get_specific(const queue_t& queue, const void* key);
void* get_specific(const void* key);

} // namespace dispatch
