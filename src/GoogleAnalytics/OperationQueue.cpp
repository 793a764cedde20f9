#include "OperationQueue.h"

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
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        waiting_.push_back(std::move(operation));
        if (!worker_.joinable()) {
            worker_ = std::thread(&OperationQueue::run, this);
        }
    }
    wake_.notify_one();
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
            idle_.notify_all();
        }
    }
    running_ = false;
    idle_.notify_all();
}
