#include "platform/core/dispatch.h"
#include "platform/core/syslog_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <numeric>
#include <thread>

using namespace std::chrono_literals;

namespace {

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

TEST(DispatchQueue, LabelsNameTheMainThreadAndTheSharedQueues) {
    EXPECT_EQ(dispatch::current_queue_label(), dispatch::MAIN_QUEUE_LABEL);
    const char* other = "unset";
    std::thread([&] { other = dispatch::current_queue_label(); }).join();
    EXPECT_EQ(other, nullptr);

    const std::tuple<long, unsigned long, const char*> cases[] = {
        {dispatch::QUEUE_PRIORITY_LOW, 0, "dispatch.root.low-priority"},
        {7, 0, "dispatch.root.default-priority"}, // one it does not know
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

// Runs work on a thread of its own and tells whether it finished within a bound: a shutdown
// that never wakes its worker hangs instead of failing. A hung thread is left behind.
bool finishesWithin(std::chrono::seconds bound, std::function<void()> work) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([done, work = std::move(work)] {
        work();
        done->set_value();
    }).detach();
    return finished.wait_for(bound) == std::future_status::ready;
}

TEST(DispatchQueue, DroppingTheLastReferenceRunsWhatIsQueuedFirst) {
    auto ran = std::make_shared<std::atomic<int>>(0);
    auto queue = dispatch::queue_create("test.drain");
    // The worker is busy for a moment, so everything below is still queued at the drop.
    dispatch::async(queue, [] { std::this_thread::sleep_for(20ms); });
    for (int i = 0; i < 100; ++i) {
        dispatch::async(queue, [ran] { ran->fetch_add(1); });
    }
    auto held = std::make_shared<dispatch::queue_t>(std::move(queue));
    ASSERT_TRUE(finishesWithin(10s, [held] { held->reset(); }));
    EXPECT_EQ(ran->load(), 100);
}

TEST(DispatchQueue, ALastReferenceDroppedByItsOwnBlockEndsTheQueueOnItsWorker) {
    auto holder = std::make_shared<dispatch::queue_t>(dispatch::queue_create("test.self"));
    auto opened = std::make_shared<std::promise<void>>();
    auto laterRan = std::make_shared<std::promise<void>>();
    std::shared_future<void> open = opened->get_future().share();
    dispatch::async(*holder, [open] { open.wait(); });
    dispatch::async(*holder, [holder] { holder->reset(); }); // the last reference, by then
    dispatch::async(*holder, [laterRan] { laterRan->set_value(); });
    const std::weak_ptr<dispatch::Queue> watched = *holder;
    std::future<void> later = laterRan->get_future();
    holder.reset(); // the blocks' copy of holder still holds the queue
    opened->set_value();
    // The worker cannot wait for itself: it lets go and still runs what was queued behind.
    EXPECT_EQ(later.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(finishesWithin(10s, [watched] {
        while (!watched.expired()) {
            std::this_thread::sleep_for(1ms);
        }
    }));
}

TEST(DispatchTimer, FiresOnItsQueueWhileResumedAndNeverAfterItsEnd) {
    using dispatch::clock;
    // What it waits for at its end, and whether it is cancelled or its last reference dropped (a
    // drop must wake and end its thread whatever it waits for).
    const std::tuple<const char*, bool, clock::duration, clock::duration, bool> cases[] = {
        {"suspended", false, {}, 2ms, false},
        {"waiting an hour for its fire", true, 1h, dispatch::TIME_FOREVER, false},
        {"repeating, dropped", true, {}, 1ms, false},
        {"repeating, cancelled", true, {}, 2ms, true},
    };
    auto queue = dispatch::queue_create("timer.queue");
    for (const auto& [what, resumed, delay, interval, cancel] : cases) {
        SCOPED_TRACE(what);
        auto fires = std::make_shared<std::atomic<int>>(0);
        auto onQueue = std::make_shared<std::atomic<bool>>(true);
        auto timer = dispatch::timer_create(queue);
        dispatch::timer_set_event_handler(timer, [fires, onQueue] {
            const char* label = dispatch::current_queue_label();
            *onQueue = *onQueue && label != nullptr && std::string(label) == "timer.queue";
            fires->fetch_add(1);
        });
        dispatch::timer_set(timer, clock::now() + delay, interval, 0ms);
        if (resumed) {
            dispatch::timer_resume(timer);
        } else {
            std::this_thread::sleep_for(10ms);
            EXPECT_EQ(fires->load(), 0); // created suspended
        }
        while (resumed && delay == clock::duration{} && fires->load() < 3) {
            std::this_thread::sleep_for(1ms);
        }
        if (cancel) {
            dispatch::timer_cancel(timer);
        } else {
            const std::weak_ptr<dispatch::TimerSource> watched = timer;
            auto held = std::make_shared<dispatch::timer_t>(std::move(timer));
            ASSERT_TRUE(finishesWithin(10s, [held] { held->reset(); }));
            EXPECT_TRUE(watched.expired());
        }
        // No fire is handed to the queue after the end.
        dispatch::sync(queue, [] {});
        const int atEnd = fires->load();
        std::this_thread::sleep_for(10ms);
        dispatch::sync(queue, [] {});
        EXPECT_EQ(fires->load(), atEnd);
        EXPECT_TRUE(onQueue->load());
    }
}

// Blocks given as a plain function and a shared object (async_f): they keep their place among
// ordinary blocks, hand the function the very object, and leave no reference behind.
struct Payload {
    int index = 0;
    std::vector<int>* order = nullptr;             // appended to on the queue
    std::shared_ptr<const void>* keeper = nullptr; // when set, the function takes the object over
};

void record(std::shared_ptr<const void>& object) {
    const auto* payload = static_cast<const Payload*>(object.get());
    payload->order->push_back(payload->index);
    if (payload->keeper != nullptr) {
        *payload->keeper = std::move(object);
    }
}

TEST(DispatchObjectBlocks, KeepTheirPlaceHandTheObjectOverAndKeepNoReference) {
    auto queue = dispatch::queue_create("test.object");
    std::vector<int> order;
    std::vector<std::shared_ptr<const void>> kept(200);
    std::vector<std::pair<int, std::weak_ptr<Payload>>> watched;
    // Hold the worker so everything below is queued behind one another, not run inline.
    std::atomic<bool> open{false};
    dispatch::async(queue, [&open] {
        while (!open.load()) {
        }
    });
    for (int i = 0; i < 200; ++i) {
        if (i % 3 == 0) {
            dispatch::async(queue, [&order, i] { order.push_back(i); });
            continue;
        }
        auto payload =
            std::make_shared<Payload>(Payload{i, &order, i % 3 == 2 ? &kept[i] : nullptr});
        watched.emplace_back(i, payload);
        dispatch::async_f(queue, std::move(payload), record);
    }
    // A null queue or function runs nothing and keeps no reference.
    const auto unused = std::make_shared<Payload>(Payload{-1, &order});
    dispatch::async_f(nullptr, unused, record);
    dispatch::async_f(queue, unused, nullptr);
    open = true;
    dispatch::sync(queue, [] {});
    std::vector<int> expected(200);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(unused.use_count(), 1);
    for (const auto& [i, watch] : watched) {
        SCOPED_TRACE(i);
        // Taken over: the very object, held by the function's copy and ours only. Otherwise the
        // queue let go of it.
        const auto alive = watch.lock();
        EXPECT_EQ(alive.get(), i % 3 == 2 ? kept[i].get() : nullptr);
        EXPECT_EQ(alive.use_count(), i % 3 == 2 ? 2 : 0);
    }
}

// System log entries. Sending, verbatim text and reconnection are checked against a real daemon
// in tests/logging/test_asllogger_rsyslog.cpp.
TEST(SyslogClient, EntryLayoutCarriesFacilityPriorityStampAndIdent) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(syslog_client::formatEntry(8, 2, "app", 1394028429, "boom"),
              "<10>Mar  5 14:07:09 app: boom");
    EXPECT_EQ(syslog_client::formatEntry(16 << 3, 7 + 8, "app", 1700000000, ""), // priority masked
              "<135>Nov 14 22:13:20 app: ");
    EXPECT_EQ(syslog_client::Connection("", 8, "/nonexistent").ident(), "test_dispatch");
}

} // namespace
