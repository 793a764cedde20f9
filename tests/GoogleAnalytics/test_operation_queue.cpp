#include "OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class FunctionOperation : public Operation {
public:
    explicit FunctionOperation(std::function<void()> work) : work_(std::move(work)) {}
    void main() override { work_(); }

private:
    std::function<void()> work_;
};

std::shared_ptr<Operation> op(std::function<void()> work) {
    return std::make_shared<FunctionOperation>(std::move(work));
}

TEST(OperationQueue, RunsInOrderOneAtATimeOnOneBackgroundThread) {
    OperationQueue queue;
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 20; ++i) {
        queue.addOperation(op([&, i] {
            int now = ++running;
            int seen = maxRunning.load();
            while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(1ms);
            {
                std::lock_guard lock(mutex);
                order.push_back(i);
                threads.push_back(std::this_thread::get_id());
            }
            --running;
        }));
    }
    queue.waitUntilAllOperationsAreFinished();
    std::vector<int> expected(20);
    for (int i = 0; i < 20; ++i) {
        expected[i] = i;
    }
    EXPECT_EQ(order, expected);
    EXPECT_EQ(maxRunning.load(), 1);
    for (const auto& id : threads) {
        EXPECT_EQ(id, threads.front());
        EXPECT_NE(id, std::this_thread::get_id());
    }
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, AThrowingOperationDoesNotStopTheOnesBehindIt) {
    OperationQueue queue;
    std::atomic<int> ran{0};
    queue.addOperation(op([] { throw std::runtime_error("boom"); }));
    queue.addOperation(op([] { throw 42; }));
    queue.addOperation(op([&] { ++ran; }));
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 1);
}

TEST(OperationQueue, DestructionDropsWaitingOperationsAndWaitsForTheRunningOne) {
    std::atomic<bool> firstFinished{false};
    std::atomic<int> laterRan{0};
    std::atomic<bool> started{false};
    {
        OperationQueue queue;
        queue.addOperation(op([&] {
            started = true;
            std::this_thread::sleep_for(50ms);
            firstFinished = true;
        }));
        for (int i = 0; i < 5; ++i) {
            queue.addOperation(op([&] { ++laterRan; }));
        }
        while (!started) {
            std::this_thread::yield();
        }
    }
    EXPECT_TRUE(firstFinished.load());
    EXPECT_EQ(laterRan.load(), 0);
}

TEST(OperationQueue, OperationsAreReleasedOnceRun) {
    OperationQueue queue;
    auto operation = op([] {});
    std::weak_ptr<Operation> watch = operation;
    queue.addOperation(std::move(operation));
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(watch.expired());
}

TEST(OperationQueue, WaitingOnAnIdleQueueReturnsAndNullIsIgnored) {
    OperationQueue queue;
    queue.addOperation(nullptr);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0u);
}

} // namespace
