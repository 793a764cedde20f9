#include "dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace std::chrono_literals;

// Serial, in-order running is checked through the logging core by
// tests/logging/test_ddlog.cpp (EveryLoggerFinishesMessageNBeforeAnyLoggerGetsNPlusOne) and
// tests/logging/test_logging_load.cpp.
TEST(DispatchQueue, SpecificDataFollowsTheInnermostQueueOfNestedSyncCalls) {
    auto outer = dispatch::queue_create("outer"), inner = dispatch::queue_create("inner");
    int outerKey = 0, innerKey = 0;
    dispatch::queue_set_specific(outer, &outerKey, &outerKey);
    dispatch::queue_set_specific(inner, &innerKey, &innerKey);
    std::vector<void*> seen;
    dispatch::sync(outer, [&] {
        seen = {dispatch::get_specific(&outerKey), dispatch::get_specific(&innerKey)};
        dispatch::sync(inner, [&] {
            seen.push_back(dispatch::get_specific(&outerKey));
            seen.push_back(dispatch::get_specific(&innerKey));
        });
        seen.push_back(dispatch::get_specific(&outerKey));
    });
    EXPECT_EQ(seen, (std::vector<void*>{&outerKey, nullptr, nullptr, &innerKey, &outerKey}));
    EXPECT_EQ(dispatch::get_specific(&outerKey), nullptr);
}

TEST(DispatchQueueDeathTest, SyncOnAQueueTheCallerRunsOnFailsLoudly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto a = dispatch::queue_create("a");
            auto b = dispatch::queue_create("b");
            dispatch::sync(a, [&] { dispatch::sync(b, [&] { dispatch::sync(a, [] {}); }); });
        },
        "synchronous call on queue 'a'");
}

TEST(DispatchTimer, FiresOnItsQueueOnlyWhileResumedAndStopsAtCancel) {
    auto q = dispatch::queue_create("timer.queue");
    auto timer = dispatch::timer_create(q);
    std::atomic<int> fires{0};
    std::atomic<bool> onQueue{true};
    dispatch::timer_set_event_handler(timer, [&] {
        const char* label = dispatch::current_queue_label();
        onQueue = onQueue && label != nullptr && std::string(label) == "timer.queue";
        fires.fetch_add(1);
    });
    dispatch::timer_set(timer, dispatch::clock::now(), 2ms, 0ms);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(fires.load(), 0); // created suspended
    dispatch::timer_resume(timer);
    while (fires.load() < 3) {
        std::this_thread::sleep_for(1ms);
    }
    dispatch::timer_cancel(timer);
    dispatch::sync(q, [] {});
    const int atCancel = fires.load();
    std::this_thread::sleep_for(10ms);
    dispatch::sync(q, [] {});
    EXPECT_EQ(fires.load(), atCancel);
    EXPECT_TRUE(onQueue);
}

TEST(DispatchQueue, LabelsNameTheMainThreadAndTheSharedQueues) {
    EXPECT_EQ(dispatch::current_queue_label(), dispatch::MAIN_QUEUE_LABEL);
    const char* other = "unset";
    std::thread([&] { other = dispatch::current_queue_label(); }).join();
    EXPECT_EQ(other, nullptr);

    const std::tuple<long, unsigned long, const char*> cases[] = {
        {dispatch::QUEUE_PRIORITY_LOW, 0, "dispatch.root.low-priority"},
        {dispatch::QUEUE_PRIORITY_DEFAULT, 0, "dispatch.root.default-priority"},
        {7, 0, "dispatch.root.default-priority"},
        {dispatch::QUEUE_PRIORITY_HIGH, 0, "dispatch.root.high-priority"},
        {dispatch::QUEUE_PRIORITY_LOW, dispatch::QUEUE_OVERCOMMIT,
         "dispatch.root.low-overcommit-priority"},
        {dispatch::QUEUE_PRIORITY_HIGH, dispatch::QUEUE_OVERCOMMIT,
         "dispatch.root.high-overcommit-priority"},
    };
    for (const auto& [priority, flags, label] : cases) {
        auto queue = dispatch::get_global_queue(priority, flags);
        EXPECT_EQ(queue, dispatch::get_global_queue(priority, flags)) << label; // one each
        std::string seen;
        dispatch::sync(queue, [&] { seen = dispatch::current_queue_label(); });
        EXPECT_EQ(seen, label);
    }
}
