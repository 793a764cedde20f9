#include "dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Blocks a queue until released, so a test controls what is pending.
struct Gate {
    std::promise<void> entered;
    std::promise<void> open;
    std::shared_future<void> openFuture = open.get_future().share();

    void block(const dispatch::queue_t& q) {
        dispatch::async(q, [this, f = openFuture] {
            entered.set_value();
            f.wait();
        });
        entered.get_future().wait();
    }
    void release() { open.set_value(); }
};

} // namespace

TEST(DispatchQueue, RunsAsyncBlocksOneAtATimeInSubmissionOrder) {
    auto q = dispatch::queue_create("test.order");
    std::vector<int> seen;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    constexpr int kCount = 2000;
    // Submitted from two threads; each thread's own blocks must stay in order.
    auto submit = [&](int base) {
        for (int i = 0; i < kCount; ++i) {
            dispatch::async(q, [&, v = base + i] {
                if (running.fetch_add(1) != 0) {
                    overlapped = true;
                }
                seen.push_back(v);
                running.fetch_sub(1);
            });
        }
    };
    std::thread a(submit, 0);
    std::thread b(submit, 100000);
    a.join();
    b.join();
    dispatch::sync(q, [] {});
    ASSERT_EQ(seen.size(), 2u * kCount);
    EXPECT_FALSE(overlapped);
    int lastA = -1, lastB = 99999;
    for (int v : seen) {
        int& last = v < 100000 ? lastA : lastB;
        EXPECT_EQ(v, last + 1);
        last = v;
    }
}

TEST(DispatchQueue, LabelIsVisibleOnlyWhileRunningOnTheQueue) {
    auto labelled = dispatch::queue_create("test.label");
    auto unlabelled = dispatch::queue_create(nullptr);
    EXPECT_STREQ(dispatch::queue_get_label(labelled), "test.label");
    EXPECT_EQ(dispatch::queue_get_label(unlabelled), nullptr);
    EXPECT_EQ(dispatch::current_queue_label(), nullptr);
    EXPECT_FALSE(dispatch::running_on_queue());

    std::string seenAsync, seenSync, seenNested;
    const char* seenUnlabelled = "not set";
    std::promise<void> done;
    dispatch::async(labelled, [&] {
        seenAsync = dispatch::current_queue_label();
        done.set_value();
    });
    done.get_future().wait();
    dispatch::sync(labelled, [&] {
        seenSync = dispatch::current_queue_label();
        auto inner = dispatch::queue_create("test.inner");
        dispatch::sync(inner, [&] { seenNested = dispatch::current_queue_label(); });
        dispatch::sync(unlabelled, [&] { seenUnlabelled = dispatch::current_queue_label(); });
    });
    EXPECT_EQ(seenAsync, "test.label");
    EXPECT_EQ(seenSync, "test.label");
    EXPECT_EQ(seenNested, "test.inner");
    EXPECT_EQ(seenUnlabelled, nullptr);
    EXPECT_EQ(dispatch::current_queue_label(), nullptr);
}

TEST(DispatchQueue, SpecificDataFollowsTheInnermostQueue) {
    auto outer = dispatch::queue_create("outer");
    auto inner = dispatch::queue_create("inner");
    int outerKey = 0, innerKey = 0;
    dispatch::queue_set_specific(outer, &outerKey, &outerKey);
    dispatch::queue_set_specific(inner, &innerKey, &innerKey);
    EXPECT_EQ(dispatch::queue_get_specific(outer, &outerKey), &outerKey);
    EXPECT_EQ(dispatch::get_specific(&outerKey), nullptr);

    void* onOuter = nullptr;
    void* innerKeyOnOuter = &innerKey;
    void* onInner = nullptr;
    void* outerKeyOnInner = &outerKey;
    void* backOnOuter = nullptr;
    dispatch::sync(outer, [&] {
        onOuter = dispatch::get_specific(&outerKey);
        innerKeyOnOuter = dispatch::get_specific(&innerKey);
        dispatch::sync(inner, [&] {
            onInner = dispatch::get_specific(&innerKey);
            outerKeyOnInner = dispatch::get_specific(&outerKey);
        });
        backOnOuter = dispatch::get_specific(&outerKey);
    });
    EXPECT_EQ(onOuter, &outerKey);
    EXPECT_EQ(innerKeyOnOuter, nullptr);
    EXPECT_EQ(onInner, &innerKey);
    EXPECT_EQ(outerKeyOnInner, nullptr);
    EXPECT_EQ(backOnOuter, &outerKey);

    // Clearing removes the data.
    dispatch::queue_set_specific(outer, &outerKey, nullptr);
    EXPECT_EQ(dispatch::queue_get_specific(outer, &outerKey), nullptr);
}

TEST(DispatchQueue, SyncOnBusyQueueRunsAfterEarlierWorkAndReturnsItsEffects) {
    auto q = dispatch::queue_create("busy");
    Gate gate;
    gate.block(q);
    std::vector<int> order;
    dispatch::async(q, [&] { order.push_back(1); });
    auto syncDone = std::async(std::launch::async, [&] {
        dispatch::sync(q, [&] { order.push_back(2); });
        return order.size();
    });
    EXPECT_EQ(syncDone.wait_for(20ms), std::future_status::timeout); // still blocked by the gate
    gate.release();
    EXPECT_EQ(syncDone.get(), 2u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(DispatchQueue, SyncRethrowsTheBlocksException) {
    auto q = dispatch::queue_create("throws");
    EXPECT_THROW(dispatch::sync(q, [] { throw std::runtime_error("x"); }), std::runtime_error);
    // The queue is usable afterwards, inline and from its worker.
    int value = 0;
    dispatch::sync(q, [&] { value = 1; });
    EXPECT_EQ(value, 1);
}

TEST(DispatchQueueDeathTest, SyncOnTheCallersOwnQueueFailsLoudly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto q = dispatch::queue_create("self");
            dispatch::sync(q, [&] { dispatch::sync(q, [] {}); });
        },
        "synchronous call on queue 'self'");
    EXPECT_DEATH(
        {
            auto a = dispatch::queue_create("a");
            auto b = dispatch::queue_create("b");
            dispatch::sync(a, [&] { dispatch::sync(b, [&] { dispatch::sync(a, [] {}); }); });
        },
        "queue 'a'");
}

TEST(DispatchQueue, DroppingTheLastReferenceRunsPendingBlocks) {
    std::atomic<int> ran{0};
    {
        auto q = dispatch::queue_create("drained");
        for (int i = 0; i < 100; ++i) {
            dispatch::async(q, [&] { ran.fetch_add(1); });
        }
    }
    EXPECT_EQ(ran.load(), 100);
}

TEST(DispatchGroup, WaitReturnsAfterEveryMemberOnEveryQueue) {
    auto group = dispatch::group_create();
    std::vector<dispatch::queue_t> queues;
    for (int i = 0; i < 4; ++i) {
        queues.push_back(dispatch::queue_create(("member." + std::to_string(i)).c_str()));
    }
    std::atomic<int> finished{0};
    for (int round = 0; round < 50; ++round) {
        for (auto& q : queues) {
            dispatch::group_async(group, q, [&] { finished.fetch_add(1); });
            dispatch::group_async_for_waiter(group, q, [&] { finished.fetch_add(1); });
        }
        dispatch::group_wait(group);
        EXPECT_EQ(finished.load(), (round + 1) * 8);
    }
}

TEST(DispatchGroup, WaiterRunsIdleMembersOnTheirQueueAndLeavesBusyOnesToTheWorker) {
    auto idle = dispatch::queue_create("idle");
    auto busy = dispatch::queue_create("busy");
    int idleKey = 0;
    dispatch::queue_set_specific(idle, &idleKey, &idleKey);
    Gate gate;
    gate.block(busy);

    auto group = dispatch::group_create();
    std::thread::id idleRunner, busyRunner;
    void* idleSpecific = nullptr;
    std::string idleLabel;
    dispatch::group_async_for_waiter(group, idle, [&] {
        idleRunner = std::this_thread::get_id();
        idleSpecific = dispatch::get_specific(&idleKey);
        idleLabel = dispatch::current_queue_label();
    });
    dispatch::group_async_for_waiter(group, busy, [&] { busyRunner = std::this_thread::get_id(); });
    auto waiter = std::async(std::launch::async, [&] {
        dispatch::group_wait(group);
        return std::this_thread::get_id();
    });
    EXPECT_EQ(waiter.wait_for(20ms), std::future_status::timeout);
    gate.release();
    const auto waiterId = waiter.get();
    EXPECT_EQ(idleRunner, waiterId);
    EXPECT_EQ(idleSpecific, &idleKey);
    EXPECT_EQ(idleLabel, "idle");
    EXPECT_NE(busyRunner, waiterId);
}

TEST(DispatchSemaphore, CountsDownAndBlocksAtZero) {
    auto sem = dispatch::semaphore_create(2);
    EXPECT_TRUE(sem->try_acquire());
    EXPECT_TRUE(sem->try_acquire());
    EXPECT_FALSE(sem->try_acquire());
    sem->release();
    EXPECT_TRUE(sem->try_acquire());
}

TEST(DispatchTimer, OneShotFiresOnceOnItsQueueAfterResume) {
    auto q = dispatch::queue_create("timer.queue");
    auto timer = dispatch::timer_create(q);
    std::atomic<int> fires{0};
    std::string label;
    std::promise<void> fired;
    dispatch::timer_set_event_handler(timer, [&] {
        label = dispatch::current_queue_label();
        if (fires.fetch_add(1) == 0) {
            fired.set_value();
        }
    });
    dispatch::timer_set(timer, dispatch::clock::now(), dispatch::TIME_FOREVER, 0ms);
    // Created suspended: nothing fires yet.
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(fires.load(), 0);
    dispatch::timer_resume(timer);
    fired.get_future().wait();
    std::this_thread::sleep_for(20ms);
    dispatch::sync(q, [] {});
    EXPECT_EQ(fires.load(), 1);
    EXPECT_EQ(label, "timer.queue");
    dispatch::timer_cancel(timer);
}

TEST(DispatchTimer, RepeatsSuspendsResumesAndStopsAtCancel) {
    auto q = dispatch::queue_create("timer.repeat");
    auto timer = dispatch::timer_create(q);
    std::atomic<int> fires{0};
    std::promise<void> cancelled;
    dispatch::timer_set_event_handler(timer, [&] { fires.fetch_add(1); });
    dispatch::timer_set_cancel_handler(timer, [&] { cancelled.set_value(); });
    dispatch::timer_set(timer, dispatch::clock::now(), 2ms, 0ms);
    dispatch::timer_resume(timer);
    while (fires.load() < 3) {
        std::this_thread::sleep_for(1ms);
    }
    dispatch::timer_suspend(timer);
    dispatch::sync(q, [] {});
    const int whileSuspended = fires.load();
    std::this_thread::sleep_for(15ms);
    dispatch::sync(q, [] {});
    EXPECT_LE(fires.load(), whileSuspended + 1); // at most one fire already on its way
    const int beforeResume = fires.load();
    dispatch::timer_resume(timer);
    while (fires.load() < beforeResume + 2) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_FALSE(dispatch::timer_testcancel(timer));
    dispatch::timer_cancel(timer);
    EXPECT_TRUE(dispatch::timer_testcancel(timer));
    cancelled.get_future().wait();
    dispatch::sync(q, [] {});
    const int atCancel = fires.load();
    std::this_thread::sleep_for(10ms);
    dispatch::sync(q, [] {});
    EXPECT_EQ(fires.load(), atCancel);
}

TEST(DispatchSemaphore, EveryReleaseReachesASleeperNoWakeupIsLost) {
    // Many rounds of several sleepers and as many releases: a lost wakeup hangs a round.
    auto sem = dispatch::semaphore_create(0);
    for (int round = 0; round < 200; ++round) {
        constexpr int kSleepers = 4;
        std::atomic<int> through{0};
        std::vector<std::thread> sleepers;
        for (int i = 0; i < kSleepers; ++i) {
            sleepers.emplace_back([&] {
                sem->acquire();
                through.fetch_add(1);
            });
        }
        for (int i = 0; i < kSleepers; ++i) {
            if (round % 2 == 0) {
                std::this_thread::yield(); // let some of them reach the kernel sleep
            }
            sem->release();
        }
        for (auto& t : sleepers) {
            t.join();
        }
        ASSERT_EQ(through.load(), kSleepers) << round;
        ASSERT_EQ(sem->value(), 0) << round;
    }
}

TEST(DispatchSyncEach, RunsEveryBlockOnItsQueueAndReturnsWhenAllFinished) {
    std::vector<dispatch::queue_t> queues;
    for (int i = 0; i < 10; ++i) { // more than the few kept without allocation
        queues.push_back(dispatch::queue_create(("each." + std::to_string(i)).c_str()));
    }
    Gate gate;
    gate.block(queues[3]);
    std::vector<std::string> labels(queues.size());
    std::vector<std::thread::id> runners(queues.size());
    auto done = std::async(std::launch::async, [&] {
        dispatch::sync_each(queues, [&](std::size_t i) {
            labels[i] = dispatch::current_queue_label();
            runners[i] = std::this_thread::get_id();
        });
        return std::this_thread::get_id();
    });
    // The busy queue holds the whole call back.
    EXPECT_EQ(done.wait_for(20ms), std::future_status::timeout);
    gate.release();
    const auto caller = done.get();
    for (std::size_t i = 0; i < queues.size(); ++i) {
        EXPECT_EQ(labels[i], "each." + std::to_string(i));
        // Idle queues ran on the caller; the busy one on its own worker.
        EXPECT_EQ(runners[i] == caller, i != 3) << i;
    }
    // The queues are free again afterwards.
    int after = 0;
    dispatch::sync(queues[0], [&] { after = 1; });
    EXPECT_EQ(after, 1);
}

TEST(DispatchSyncEachDeathTest, FailsLoudlyWhenTheCallerRunsOnOneOfTheQueues) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto a = dispatch::queue_create("each.a");
            auto b = dispatch::queue_create("each.b");
            std::vector<dispatch::queue_t> both(1, a);
            both.push_back(b);
            dispatch::sync(b, [&] { dispatch::sync_each(both, [](std::size_t) {}); });
        },
        "queue 'each.b'");
}

TEST(DispatchSyncEach, ABlockMayWaitForALaterQueueOfTheSameCall) {
    auto a = dispatch::queue_create("each.first");
    auto b = dispatch::queue_create("each.second");
    std::vector<dispatch::queue_t> both(1, a);
    both.push_back(b);
    std::vector<std::string> order;
    auto done = std::async(std::launch::async, [&] {
        dispatch::sync_each(both, [&](std::size_t i) {
            if (i == 0) {
                dispatch::sync(b, [&] { order.push_back("b from a"); });
            }
            order.push_back(dispatch::current_queue_label());
        });
    });
    ASSERT_EQ(done.wait_for(10s), std::future_status::ready); // held queues would deadlock here
    EXPECT_EQ(order, (std::vector<std::string>{"b from a", "each.first", "each.second"}));
}
