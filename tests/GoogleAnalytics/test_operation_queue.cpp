// The serial queue: order, and the bound that drops the oldest waiting operation.

#include "GoogleAnalytics/CapturingLogger.h"
#include "GoogleAnalytics/OperationQueue.h"

#include <gtest/gtest.h>

#include <future>
#include <numeric>

namespace {

// Records its number when it runs. A holder says when it has started and then waits to be
// let go, keeping the worker busy.
class Numbered : public Operation {
public:
    Numbered(int number, std::vector<int>& ran, std::mutex& mutex)
        : number_(number), ran_(ran), mutex_(mutex) {}
    void main() override {
        if (holding_) {
            started_.set_value();
            release_.get_future().wait();
        }
        std::lock_guard lock(mutex_);
        ran_.push_back(number_);
    }
    // Makes this a holder; returns once it runs on the worker.
    static std::shared_ptr<Numbered> addHolder(OperationQueue& queue, int number,
                                               std::vector<int>& ran, std::mutex& mutex) {
        auto holder = std::make_shared<Numbered>(number, ran, mutex);
        holder->holding_ = true;
        auto started = holder->started_.get_future();
        queue.addOperation(holder);
        started.wait();
        return holder;
    }
    void letGo() { release_.set_value(); }

private:
    int number_;
    std::vector<int>& ran_;
    std::mutex& mutex_;
    bool holding_ = false;
    std::promise<void> started_, release_;
};

// While the first operation holds the worker, `added` operations in all are queued.
TEST(OperationQueue, ABoundedQueueDropsTheOldestWaitingOperations) {
    struct Case {
        std::size_t bound;
        int added;
        std::vector<int> ran;
        std::size_t logLines;
    };
    std::vector<int> all(20);
    std::iota(all.begin(), all.end(), 0);
    const Case cases[] = {
        {0, 20, all, 0},         // unbounded
        {3, 4, {0, 1, 2, 3}, 0}, // the running one does not count
        {3, 10, {0, 7, 8, 9}, 1},
        {1, 5, {0, 4}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("bound " + std::to_string(c.bound) + ", " + std::to_string(c.added) +
                     " added");
        std::mutex mutex;
        std::vector<int> ran;
        OperationQueue queue(c.bound);
        EXPECT_EQ(queue.maxWaitingOperations(), c.bound);
        std::size_t countWhileHeld = 0;
        const auto lines = loggedBy([&] {
            const auto holder = Numbered::addHolder(queue, 0, ran, mutex);
            for (int i = 1; i < c.added; ++i) {
                queue.addOperation(std::make_shared<Numbered>(i, ran, mutex));
            }
            countWhileHeld = queue.operationCount();
            holder->letGo();
            queue.waitUntilAllOperationsAreFinished();
        });
        EXPECT_EQ(ran, c.ran);
        EXPECT_EQ(countWhileHeld, c.ran.size());
        EXPECT_EQ(queue.droppedOperationCount(), static_cast<std::uint64_t>(c.added) - ran.size());
        ASSERT_EQ(lines.size(), c.logLines) << testing::PrintToString(lines);
        for (const auto& line : lines) {
            const std::string expected = std::to_string(LogFlagWarn) + " Analytics queue full (" +
                                         std::to_string(c.bound) +
                                         " waiting): dropping the oldest until it drains";
            EXPECT_EQ(line.rfind(expected, 0), 0u) << line;
        }
    }
}

// One line per overflow: a queue that drains and overflows again says so again.
TEST(OperationQueue, EachOverflowIsLoggedOnce) {
    std::mutex mutex;
    std::vector<int> ran;
    OperationQueue queue(2);
    const auto lines = loggedBy([&] {
        for (int round = 0; round < 2; ++round) {
            const auto holder = Numbered::addHolder(queue, 100, ran, mutex);
            for (int i = 0; i < 50; ++i) {
                queue.addOperation(std::make_shared<Numbered>(i, ran, mutex));
            }
            holder->letGo();
            queue.waitUntilAllOperationsAreFinished();
        }
    });
    EXPECT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
    EXPECT_EQ(ran, (std::vector<int>{100, 48, 49, 100, 48, 49}));
}

} // namespace
