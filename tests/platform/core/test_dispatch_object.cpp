// Blocks given as a plain function and a shared object (async_f): they keep their place among
// ordinary blocks, hand the function the very object, and leave no reference behind.
#include "platform/core/dispatch.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct Payload {
    int index = 0;
    std::vector<int>* order = nullptr;             // appended to on the queue
    std::shared_ptr<const void>* keeper = nullptr; // when set, the function takes the object over
    const void* seenAddress = nullptr;
};

void record(std::shared_ptr<const void>& object) {
    auto* payload = const_cast<Payload*>(static_cast<const Payload*>(object.get()));
    payload->seenAddress = object.get();
    if (payload->order != nullptr) {
        payload->order->push_back(payload->index);
    }
    if (payload->keeper != nullptr) {
        *payload->keeper = std::move(object);
    }
}

} // namespace

TEST(DispatchObjectBlocks, KeepTheirPlaceAmongOrdinaryBlocks) {
    auto queue = dispatch::queue_create("test.object.order");
    std::vector<int> order;
    std::vector<std::shared_ptr<Payload>> payloads;
    // Hold the queue so everything below is queued behind one another, not run inline.
    std::atomic<bool> open{false};
    dispatch::async(queue, [&] {
        while (!open.load()) {
        }
    });
    for (int i = 0; i < 200; ++i) {
        if (i % 3 == 0) {
            dispatch::async(queue, [&order, i] { order.push_back(i); });
        } else {
            auto payload = std::make_shared<Payload>();
            payload->index = i;
            payload->order = &order;
            payloads.push_back(payload);
            dispatch::async_f(queue, payload, record);
        }
    }
    open = true;
    dispatch::sync(queue, [] {});
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

TEST(DispatchObjectBlocks, HandTheObjectOverAndKeepNoReference) {
    struct Case {
        const char* name;
        bool functionTakesIt;
        bool queueBusy; // queued behind another block instead of finding the worker idle
    };
    const Case cases[] = {
        {"released after the run", false, false},
        {"released after the run, queued behind work", false, true},
        {"taken over by the function", true, false},
        {"taken over by the function, queued behind work", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto queue = dispatch::queue_create("test.object.ownership");
        std::atomic<bool> open{!c.queueBusy};
        dispatch::async(queue, [&] {
            while (!open.load()) {
            }
        });
        std::shared_ptr<const void> kept;
        auto payload = std::make_shared<Payload>();
        if (c.functionTakesIt) {
            payload->keeper = &kept;
        }
        const Payload* address = payload.get();
        std::weak_ptr<Payload> watch = payload;
        dispatch::async_f(queue, std::move(payload), record);
        open = true;
        dispatch::sync(queue, [] {});
        const auto alive = watch.lock();
        if (c.functionTakesIt) {
            ASSERT_NE(alive, nullptr);
            EXPECT_EQ(kept.get(), address);
            // The function's copy and ours only: the queue itself let go.
            EXPECT_EQ(alive.use_count(), 2);
        } else {
            EXPECT_EQ(alive, nullptr);
        }
        if (alive) {
            EXPECT_EQ(alive->seenAddress, address);
        }
    }
}

TEST(DispatchObjectBlocks, NullQueueOrFunctionRunsNothingAndKeepsNoReference) {
    auto queue = dispatch::queue_create("test.object.null");
    std::vector<int> order;
    auto payload = std::make_shared<Payload>();
    payload->order = &order;
    dispatch::async_f(nullptr, payload, record);
    dispatch::async_f(queue, payload, nullptr);
    dispatch::sync(queue, [] {});
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(payload.use_count(), 1);
}
