#include "platform/core/dispatch_group.h"

#include "platform/core/dispatch_internal.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace dispatch {

class Group {
public:
    void enter() {
        std::lock_guard lock(mutex_);
        ++pending_;
    }
    void leave() {
        std::lock_guard lock(mutex_);
        if (--pending_ == 0) {
            done_.notify_all();
        }
    }
    void noteMemberQueue(const queue_t& queue) {
        std::lock_guard lock(mutex_);
        if (std::find(memberQueues_.begin(), memberQueues_.end(), queue) == memberQueues_.end()) {
            memberQueues_.push_back(queue);
        }
    }
    void wait() {
        std::vector<queue_t> queues;
        {
            std::lock_guard lock(mutex_);
            queues.swap(memberQueues_);
        }
        for (const auto& queue : queues) {
            while (queue->runFrontMemberInline(this)) {
            }
        }
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return pending_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    long pending_ = 0;
    std::vector<queue_t> memberQueues_;
};

group_t group_create() {
    return std::make_shared<Group>();
}
void group_enter(const group_t& group) {
    group->enter();
}
void group_leave(const group_t& group) {
    group->leave();
}

namespace {
void submitMember(const group_t& group, const queue_t& queue, block_t block, bool wake) {
    if (!group || !queue || !block) {
        return;
    }
    group->enter();
    if (!wake) {
        group->noteMemberQueue(queue);
    }
    queue->push(detail::Item{[g = group, b = std::move(block)] {
                                 b();
                                 g->leave();
                             },
                             group.get()},
                wake);
}
} // namespace

void group_async(const group_t& group, const queue_t& queue, block_t block) {
    submitMember(group, queue, std::move(block), true);
}

void group_async_for_waiter(const group_t& group, const queue_t& queue, block_t block) {
    submitMember(group, queue, std::move(block), false);
}

void group_wait(const group_t& group) {
    if (group) {
        group->wait();
    }
}

} // namespace dispatch
