#include "logging/DDLogCore.h"

#include "logging/detail/DDLoggerNode.h"
#include "platform/core/dispatch_group.h"
#include "platform/core/dispatch_semaphore.h"
#include "platform/core/thread_info.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {

constexpr std::ptrdiff_t kMaxPendingMessages = 1000;
// Delivered asynchronous messages are handed back to logging threads this many at a time.
constexpr std::size_t kRecycleBatch = 64;

// Its address marks the global logging queue.
const char globalQueueKey = 0;

struct State {
    std::vector<DDLoggerNode> loggers;           // touched only on the global logging queue
    std::vector<dispatch::queue_t> loggerQueues; // the nodes' queues, in registry order
    dispatch::queue_t loggingQueue;
    dispatch::group_t loggingGroup;
    std::unique_ptr<dispatch::semaphore_t> queueSemaphore;
    int numProcessors = 1;

    // Releasing a message frees memory that the logging thread allocated. Done on the global
    // logging queue, the one thread all messages pass through would pay for a free into another
    // thread's allocator arena per block. So delivered messages are collected here and released
    // by later log calls instead, most likely in the thread that allocated them.
    std::vector<DDLogMessagePtr> delivered; // touched only on the global logging queue
    std::mutex recycleMutex;
    std::vector<DDLogMessagePtr> recycled; // guarded by recycleMutex
    std::atomic<bool> recycleReady{false}; // recycled is non-empty
};

void flushAtExit();

// Created on first use and never destroyed: loggers may still run while the process ends.
State& state() {
    static State* const s = [] {
        auto* st = new State;
        st->loggers.reserve(4);
        st->loggingQueue = dispatch::queue_create("cocoa.lumberjack");
        st->loggingGroup = dispatch::group_create();
        dispatch::queue_set_specific(st->loggingQueue, &globalQueueKey,
                                     const_cast<char*>(&globalQueueKey));
        st->queueSemaphore = dispatch::semaphore_create(kMaxPendingMessages);
        st->numProcessors = std::max(1, thread_info::processorCount());
        // Stands in for the will-terminate notification when the process simply returns.
        std::atexit(flushAtExit);
        return st;
    }();
    return *s;
}

void flushAtExit() {
    // exit() called from a block of some queue could wait for that very queue; skip then.
    if (!dispatch::running_on_queue()) {
        DDLog::flushLog();
    }
}

void lt_addLogger(const DDLoggerPtr& logger) {
    dispatch::queue_t queue;
    if (logger->implements(DDLoggerOperation::loggerQueue)) {
        queue = logger->loggerQueue();
    }
    if (!queue) {
        if (logger->implements(DDLoggerOperation::loggerName)) {
            const std::string name = logger->loggerName();
            queue = dispatch::queue_create(name.c_str());
        } else {
            queue = dispatch::queue_create(nullptr);
        }
    }
    state().loggers.emplace_back(logger, queue);
    state().loggerQueues.push_back(queue);
    if (logger->implements(DDLoggerOperation::didAddLogger)) {
        dispatch::async(queue, [logger] { logger->didAddLogger(); });
    }
}

void lt_removeLogger(const DDLoggerPtr& logger) {
    auto& loggers = state().loggers;
    auto it = std::find_if(loggers.begin(), loggers.end(),
                           [&](const DDLoggerNode& node) { return node.logger == logger; });
    if (it == loggers.end()) {
        return;
    }
    if (logger->implements(DDLoggerOperation::willRemoveLogger)) {
        dispatch::async(it->loggerQueue, [logger] { logger->willRemoveLogger(); });
    }
    state().loggerQueues.erase(state().loggerQueues.begin() + (it - loggers.begin()));
    loggers.erase(it);
}

void lt_removeAllLoggers() {
    auto& loggers = state().loggers;
    for (const auto& node : loggers) {
        if (node.logger->implements(DDLoggerOperation::willRemoveLogger)) {
            dispatch::async(node.loggerQueue,
                            [logger = node.logger] { logger->willRemoveLogger(); });
        }
    }
    loggers.clear();
    state().loggerQueues.clear();
}

void lt_log(const DDLogMessagePtr& message) {
    State& st = state();
    if (st.numProcessors < 2) {
        for (const auto& node : st.loggers) {
            DDLogger* logger = node.logger.get();
            dispatch::sync(node.loggerQueue, [logger, &message] { logger->logMessage(message); });
        }
    } else {
        // All loggers of one message at once; returns when every one has finished.
        dispatch::sync_each(st.loggerQueues,
                            [&](std::size_t i) { st.loggers[i].logger->logMessage(message); });
    }
    st.queueSemaphore->release();
}

// Keeps a delivered message for a logging thread to release.
void lt_retire(DDLogMessagePtr message) {
    State& st = state();
    st.delivered.push_back(std::move(message));
    if (st.delivered.size() < kRecycleBatch) {
        return;
    }
    {
        std::unique_lock lock(st.recycleMutex, std::try_to_lock);
        if (lock.owns_lock() && st.recycled.empty()) {
            st.recycled.swap(st.delivered);
            st.recycleReady.store(true, std::memory_order_relaxed);
        }
    }
    // Either handed over (delivered is the empty vector now) or the last batch is still
    // uncollected, in which case these are released here.
    st.delivered.clear();
    st.delivered.reserve(kRecycleBatch);
}

// Takes the messages the logging queue has handed back. The caller releases them after the lock.
std::vector<DDLogMessagePtr> takeRecycled(State& st, bool wait) {
    std::vector<DDLogMessagePtr> batch;
    if (!st.recycleReady.load(std::memory_order_relaxed)) {
        return batch;
    }
    std::unique_lock lock(st.recycleMutex, std::defer_lock);
    if (wait) {
        lock.lock();
    } else if (!lock.try_lock()) {
        return batch; // someone else is at it; the next call will collect
    }
    batch.swap(st.recycled);
    st.recycleReady.store(false, std::memory_order_relaxed);
    return batch;
}

void lt_flush() {
    State& st = state();
    // Nothing delivered stays alive past a flush.
    {
        std::vector<DDLogMessagePtr> done;
        done.swap(st.delivered);
    }
    takeRecycled(st, true);
    for (const auto& node : st.loggers) {
        if (node.logger->implements(DDLoggerOperation::flush)) {
            DDLogger* logger = node.logger.get();
            dispatch::group_async_for_waiter(st.loggingGroup, node.loggerQueue,
                                             [logger] { logger->flush(); });
        }
    }
    dispatch::group_wait(st.loggingGroup);
}

} // namespace

dispatch::queue_t DDLog::loggingQueue() {
    return state().loggingQueue;
}

const void* DDLog::globalLoggingQueueKey() {
    return &globalQueueKey;
}

int DDLog::processorCount() {
    int count = 1;
    dispatch::sync(state().loggingQueue, [&] { count = state().numProcessors; });
    return count;
}

void DDLog::overrideProcessorCount(int count) {
    dispatch::async(state().loggingQueue, [count] { state().numProcessors = std::max(1, count); });
}

void DDLog::addLogger(const DDLoggerPtr& logger) {
    if (!logger) {
        return;
    }
    dispatch::async(state().loggingQueue, [logger] { lt_addLogger(logger); });
}

void DDLog::removeLogger(const DDLoggerPtr& logger) {
    if (!logger) {
        return;
    }
    dispatch::async(state().loggingQueue, [logger] { lt_removeLogger(logger); });
}

void DDLog::removeAllLoggers() {
    dispatch::async(state().loggingQueue, [] { lt_removeAllLoggers(); });
}

void DDLog::log(bool asynchronous, std::int32_t level, std::int32_t flag, std::int32_t context,
                const char* file, const char* function, std::int32_t line, const DDLogTag& tag,
                const char* format, ddlog::FormatArgList args) {
    if (format == nullptr) {
        return;
    }
    std::string text;
    ddlog::formatInto(text, format, args);
    logText(asynchronous, level, flag, context, file, function, line, tag, std::move(text));
}

void DDLog::logText(bool asynchronous, std::int32_t level, std::int32_t flag, std::int32_t context,
                    const char* file, const char* function, std::int32_t line, const DDLogTag& tag,
                    std::string text) {
    auto message =
        std::make_shared<const DDLogMessage>(std::make_shared<const std::string>(std::move(text)),
                                             level, flag, context, file, function, line, tag, 0);
    queueLogMessage(std::move(message), asynchronous);
}

void DDLog::queueLogMessage(DDLogMessagePtr message, bool asynchronously) {
    if (!message) {
        return;
    }
    State& st = state();
    // Messages delivered earlier are released here, in a thread that logs, before the wait.
    takeRecycled(st, false); // the returned batch is released at the end of this statement
    // Back-pressure in the caller's thread: at most this many messages wait for delivery.
    st.queueSemaphore->acquire();
    if (asynchronously) {
        dispatch::async_f(
            st.loggingQueue, std::move(message), [](std::shared_ptr<const void>& object) {
                auto m = std::static_pointer_cast<const DDLogMessage>(std::move(object));
                lt_log(m);
                lt_retire(std::move(m));
            });
    } else {
        dispatch::sync(st.loggingQueue, [&message] { lt_log(message); });
    }
}

void DDLog::flushLog() {
    dispatch::sync(state().loggingQueue, [] { lt_flush(); });
}

void DDLog::applicationWillTerminate(const void* /*notification*/) {
    flushLog();
}
