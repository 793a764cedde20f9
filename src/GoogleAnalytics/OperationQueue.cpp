#include "GoogleAnalytics/OperationQueue.h"

#include "GoogleAnalytics/AnalyticsLog.h"

#include <string>

OperationQueue::OperationQueue(std::size_t maxWaitingOperations)
    : maxWaiting_(maxWaitingOperations) {}

OperationQueue::~OperationQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        waiting_.clear();
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
    if (!operation) {
        return;
    }
    std::shared_ptr<Operation> dropped; // released outside the lock
    bool firstDrop = false;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        if (maxWaiting_ != 0 && waiting_.size() >= maxWaiting_) {
            dropped = std::move(waiting_.front());
            waiting_.pop_front();
            ++dropped_;
            firstDrop = !overflowing_;
            overflowing_ = true;
        }
        waiting_.push_back(std::move(operation));
        if (!worker_.joinable()) {
            worker_ = std::thread(&OperationQueue::run, this);
        }
    }
    wake_.notify_one();
    if (firstDrop) {
        GA_LOG_WARN("Analytics queue full (%@ waiting): dropping the oldest until it drains",
                    std::to_string(maxWaiting_));
    }
}

std::uint64_t OperationQueue::droppedOperationCount() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return waiting_.empty() && !running_; });
}

std::size_t OperationQueue::operationCount() const {
    std::lock_guard lock(mutex_);
    return waiting_.size() + (running_ ? 1 : 0);
}

void OperationQueue::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) {
            break;
        }
        std::shared_ptr<Operation> operation = std::move(waiting_.front());
        waiting_.pop_front();
        running_ = true;
        lock.unlock();
        try {
            operation->main();
        } catch (...) {
            // An operation's failure must not stop the ones behind it.
        }
        operation.reset(); // dropped once it has run
        lock.lock();
        running_ = false;
        if (waiting_.empty()) {
            overflowing_ = false;
            idle_.notify_all();
        }
    }
    running_ = false;
    idle_.notify_all();
}
