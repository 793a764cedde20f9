#pragma once
// A serial operation queue: one worker thread runs the operations one at a time, in the
// order they were added. The thread is started by the first operation. A bounded queue drops
// its oldest waiting operation to make room for a new one.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class Operation {
public:
    virtual ~Operation() = default;
    // Runs on the queue's worker thread.
    virtual void main() = 0;
};

class OperationQueue {
public:
    // 0: no bound on the waiting operations.
    explicit OperationQueue(std::size_t maxWaitingOperations = 0);
    // Drops the operations that have not started and waits for the running one.
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void addOperation(std::shared_ptr<Operation> operation);
    // Blocks until the queue is empty and nothing is running.
    void waitUntilAllOperationsAreFinished();
    // Waiting plus running operations.
    std::size_t operationCount() const;
    std::size_t maxWaitingOperations() const { return maxWaiting_; }
    // Waiting operations dropped so far to make room.
    std::uint64_t droppedOperationCount() const;

private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::shared_ptr<Operation>> waiting_;
    const std::size_t maxWaiting_;
    std::uint64_t dropped_ = 0;
    // Set by the first drop, cleared once the queue has drained: one log line per overflow.
    bool overflowing_ = false;
    bool running_ = false;
    bool stopping_ = false;
    std::thread worker_;
};
