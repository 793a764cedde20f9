// The serial queue: order, and the bound that drops the oldest waiting operation.

#include "GoogleAnalytics/CapturingLogger.h"
#include "GoogleAnalytics/Holder.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

// Records its number when it runs.
class Numbered : public Operation {
public:
    Numbered(int number, std::vector<int>& ran) : number_(number), ran_(ran) {}
    void main() override { ran_.push_back(number_); }

private:
    int number_;
    std::vector<int>& ran_;
};

// While a holder keeps the worker busy, operations 1 to `added` - 1 are queued.
TEST(OperationQueue, ABoundedQueueDropsTheOldestWaitingOperations) {
    struct Case {
        std::size_t bound;
        int added;
        std::vector<int> ran;
        std::size_t logLines;
    };
    std::vector<int> all(19);
    std::iota(all.begin(), all.end(), 1);
    const Case cases[] = {
        {0, 20, all, 0},      // unbounded
        {3, 4, {1, 2, 3}, 0}, // the running one does not count
        {3, 10, {7, 8, 9}, 1},
        {1, 5, {4}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("bound " + std::to_string(c.bound) + ", " + std::to_string(c.added) +
                     " added");
        std::vector<int> ran;
        OperationQueue queue(c.bound);
        EXPECT_EQ(queue.maxWaitingOperations(), c.bound);
        std::size_t countWhileHeld = 0;
        const auto lines = loggedBy([&] {
            const auto holder = Holder::start(queue);
            for (int i = 1; i < c.added; ++i) {
                queue.addOperation(std::make_shared<Numbered>(i, ran));
            }
            countWhileHeld = queue.operationCount();
            holder->letGo();
            queue.waitUntilAllOperationsAreFinished();
        });
        EXPECT_EQ(ran, c.ran);
        EXPECT_EQ(countWhileHeld, c.ran.size() + 1);
        EXPECT_EQ(queue.droppedOperationCount(), c.added - 1 - ran.size());
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
    std::vector<int> ran;
    OperationQueue queue(2);
    const auto lines = loggedBy([&] {
        for (int round = 0; round < 2; ++round) {
            const auto holder = Holder::start(queue);
            for (int i = 0; i < 50; ++i) {
                queue.addOperation(std::make_shared<Numbered>(i, ran));
            }
            holder->letGo();
            queue.waitUntilAllOperationsAreFinished();
        }
    });
    EXPECT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
    EXPECT_EQ(ran, (std::vector<int>{48, 49, 48, 49}));
}

} // namespace
