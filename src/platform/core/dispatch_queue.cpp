#include "platform/core/dispatch_internal.h"

#include "platform/core/thread_info.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <semaphore>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

namespace dispatch {

using detail::Item;
using detail::QueueState;

struct detail::QueueState {
    std::optional<std::string> label;
    std::mutex mutex;
    std::condition_variable workerWake;
    std::deque<Item> items;
    std::atomic<std::size_t> queued{0}; // items.size(), readable without the lock
    // A block of this queue runs right now (worker or inline caller). Set under the lock; an
    // inline caller clears it without the lock (see releaseQueue).
    std::atomic<bool> held{false};
    std::atomic<bool> stop{false};
    std::vector<std::pair<const void*, void*>> specific;
    std::thread::id workerId;

    const char* labelOrNull() const { return label ? label->c_str() : nullptr; }
};

namespace {

// The queues the calling thread runs on, innermost last.
// Plain storage without a destructor: exit() destroys thread-locals before it runs atexit
// handlers, and those (a final log flush) still ask which queue they run on.
constexpr int kMaxQueueDepth = 64;
struct QueueStack {
    QueueState* entries[kMaxQueueDepth];
    int depth;
    bool empty() const { return depth == 0; }
    QueueState* back() const { return entries[depth - 1]; }
};
thread_local QueueStack tlsQueueStack{};

// Marks the calling thread as running on a queue for the lifetime of the object.
class OnQueue {
public:
    explicit OnQueue(QueueState* state) {
        if (tlsQueueStack.depth == kMaxQueueDepth) {
            std::fprintf(stderr, "dispatch: synchronous calls nested more than %d queues deep\n",
                         kMaxQueueDepth);
            std::abort();
        }
        tlsQueueStack.entries[tlsQueueStack.depth++] = state;
    }
    ~OnQueue() { --tlsQueueStack.depth; }
    OnQueue(const OnQueue&) = delete;
    OnQueue& operator=(const OnQueue&) = delete;
};

// A synchronous call on a queue the caller runs on would wait for itself forever.
void abortIfCallerRunsOn(const QueueState& state) {
    const auto* begin = tlsQueueStack.entries;
    if (std::find(begin, begin + tlsQueueStack.depth, &state) == begin + tlsQueueStack.depth) {
        return;
    }
    const char* label = state.labelOrNull();
    std::fprintf(stderr, "dispatch: synchronous call on queue '%s' from that same queue\n",
                 label ? label : "(unlabelled)");
    std::abort();
}

// Ends an inline caller's hold. A submitter that found the queue held left the wake-up to the
// holder: it stores queued and then reads held, while this stores held and then reads queued,
// all sequentially consistent, so at least one of the two sees the other and wakes the worker.
// The lock is taken only to wake it, so a hold with nothing queued behind it costs no lock.
void releaseQueue(QueueState& state) {
    state.held.store(false);
    if (state.queued.load() != 0 || state.stop.load()) {
        std::lock_guard lock(state.mutex);
        state.workerWake.notify_one();
    }
}

void workerLoop(const std::shared_ptr<QueueState>& state) {
    std::deque<Item> batch;
    std::unique_lock lock(state->mutex);
    for (;;) {
        if (state->items.empty() && !state->stop) {
            // Work tends to come in streams; a short poll spares a sleep and a wake-up call.
            lock.unlock();
            for (int spin = 0; spin < 2000 && state->queued.load(std::memory_order_relaxed) == 0;
                 ++spin) {
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            }
            lock.lock();
        }
        state->workerWake.wait(
            lock, [&] { return !state->held && (!state->items.empty() || state->stop); });
        if (state->items.empty()) {
            return; // stopped and drained
        }
        // Take everything queued so far in one go: fewer lock round trips with busy producers.
        // The queue stays held until the batch is done, so later submissions wait their turn.
        batch.swap(state->items);
        state->queued.store(0, std::memory_order_relaxed);
        state->held = true;
        lock.unlock();
        {
            OnQueue on(state.get());
            for (Item& item : batch) {
                item.run(); // an exception escaping an asynchronous block ends the process
                item.block = nullptr;
                item.object.reset();
            }
        }
        batch.clear();
        lock.lock();
        state->held = false;
    }
}

} // namespace

Queue::Queue(const char* label) : state_(std::make_shared<QueueState>()) {
    if (label != nullptr) {
        state_->label = label;
    }
    worker_ = std::thread([s = state_] {
        // Named after its queue so tools that list threads show what each one serves.
        if (s->label) {
            thread_info::setCurrentThreadName(*s->label);
        }
        workerLoop(s);
    });
    state_->workerId = worker_.get_id();
}

Queue::~Queue() {
    // The worker drains what is left first.
    detail::stopWorker(state_->mutex, state_->workerWake, state_->stop, worker_);
}

void Queue::push(Item item, bool wake) {
    std::lock_guard lock(state_->mutex);
    state_->items.push_back(std::move(item));
    state_->queued.store(state_->items.size());
    if (wake && !state_->held.load()) {
        state_->workerWake.notify_one();
    }
}

bool Queue::runFrontMemberInline(Group* group) {
    Item item;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->held || state_->items.empty() || state_->items.front().group != group) {
            if (!state_->held && !state_->items.empty()) {
                state_->workerWake.notify_one();
            }
            return false;
        }
        item = std::move(state_->items.front());
        state_->items.pop_front();
        state_->queued.store(state_->items.size());
        state_->held = true;
    }
    struct Release {
        QueueState& s;
        ~Release() { releaseQueue(s); }
    } release{*state_};
    OnQueue on(state_.get());
    item.run();
    return true;
}

template <class Block>
bool Queue::tryRunInline(Block&& block) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->held || !state_->items.empty()) {
            return false;
        }
        state_->held = true;
    }
    struct Release {
        QueueState& s;
        ~Release() { releaseQueue(s); }
    } release{*state_};
    OnQueue on(state_.get());
    block();
    return true;
}

queue_t queue_create(const char* label) {
    return std::make_shared<Queue>(label);
}

const char* queue_get_label(const queue_t& queue) {
    return queue ? queue->state().labelOrNull() : nullptr;
}

const char* current_queue_label() {
    if (!tlsQueueStack.empty()) {
        return tlsQueueStack.back()->labelOrNull();
    }
    // Asked once per thread: getpid is a system call and this runs for every log message.
    thread_local const bool mainThread =
        static_cast<pid_t>(thread_info::currentThreadID()) == ::getpid();
    return mainThread ? MAIN_QUEUE_LABEL : nullptr;
}

queue_t get_global_queue(long priority, unsigned long flags) {
    static std::once_flag once[6];
    static queue_t queues[6];
    const std::size_t level = priority == QUEUE_PRIORITY_LOW    ? 0
                              : priority == QUEUE_PRIORITY_HIGH ? 2
                                                                : 1;
    const std::size_t i = level + ((flags & QUEUE_OVERCOMMIT) != 0 ? 3 : 0);
    std::call_once(once[i], [i] { queues[i] = queue_create(GLOBAL_QUEUE_LABELS[i]); });
    return queues[i];
}

bool running_on_queue() {
    return !tlsQueueStack.empty();
}

void async(const queue_t& queue, block_t block) {
    if (!queue || !block) {
        return;
    }
    queue->push(Item{std::move(block), nullptr}, true);
}

void async_f(const queue_t& queue, std::shared_ptr<const void> object, object_fn fn) {
    if (!queue || fn == nullptr) {
        return;
    }
    Item item;
    item.function = fn;
    item.object = std::move(object);
    queue->push(std::move(item), true);
}

void sync(const queue_t& queue, const block_t& block) {
    if (!queue || !block) {
        return;
    }
    abortIfCallerRunsOn(queue->state());
    if (queue->tryRunInline(block)) {
        return;
    }
    // Busy: queue behind the earlier work and wait for our turn.
    std::binary_semaphore done{0};
    std::exception_ptr error;
    queue->push(Item{[&] {
                         try {
                             block();
                         } catch (...) {
                             error = std::current_exception();
                         }
                         done.release();
                     },
                     nullptr},
                true);
    done.acquire();
    if (error) {
        std::rethrow_exception(error);
    }
}

void queue_set_specific(const queue_t& queue, const void* key, void* context) {
    if (!queue || key == nullptr) {
        return;
    }
    QueueState& state = queue->state();
    std::lock_guard lock(state.mutex);
    auto it = std::find_if(state.specific.begin(), state.specific.end(),
                           [&](const auto& entry) { return entry.first == key; });
    if (it != state.specific.end()) {
        if (context == nullptr) {
            state.specific.erase(it);
        } else {
            it->second = context;
        }
    } else if (context != nullptr) {
        state.specific.emplace_back(key, context);
    }
}

namespace {
void* lookupSpecific(QueueState& state, const void* key) {
    std::lock_guard lock(state.mutex);
    for (const auto& [k, v] : state.specific) {
        if (k == key) {
            return v;
        }
    }
    return nullptr;
}
} // namespace

void* queue_get_specific(const queue_t& queue, const void* key) {
    return queue ? lookupSpecific(queue->state(), key) : nullptr;
}

void* get_specific(const void* key) {
    return tlsQueueStack.empty() ? nullptr : lookupSpecific(*tlsQueueStack.back(), key);
}

void detail::sync_each(std::span<const queue_t> queues, each_fn fn, void* context) {
    struct Latch {
        std::mutex mutex;
        std::condition_variable done;
        std::size_t pending = 0;
    } latch;
    bool anyQueued = false;
    std::exception_ptr error;
    // One queue at a time: an idle one runs its block here; a busy one gets it queued and runs
    // it on its worker, in parallel with the rest. Holding one queue at a time means a block
    // that waits for another of these queues cannot find it held by this very call.
    for (std::size_t i = 0; i < queues.size(); ++i) {
        const queue_t& queue = queues[i];
        abortIfCallerRunsOn(queue->state());
        try {
            if (queue->tryRunInline([fn, context, i] { fn(context, i); })) {
                continue;
            }
        } catch (...) {
            error = std::current_exception(); // the other queues still get their block
            continue;
        }
        {
            std::lock_guard lock(latch.mutex);
            ++latch.pending;
        }
        anyQueued = true;
        queue->push(Item{[&latch, fn, context, i] {
                             fn(context, i);
                             std::lock_guard lock(latch.mutex);
                             if (--latch.pending == 0) {
                                 latch.done.notify_all();
                             }
                         },
                         nullptr},
                    true);
    }
    // Only blocks handed to workers can still be running; when every queue was idle, all ran here.
    if (anyQueued) {
        std::unique_lock lock(latch.mutex);
        latch.done.wait(lock, [&] { return latch.pending == 0; });
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

} // namespace dispatch
