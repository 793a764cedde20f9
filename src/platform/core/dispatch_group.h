#pragma once
// Dispatch groups: wait until every block submitted as a member has finished.

#include "platform/core/dispatch_queue.h"

#include <memory>

namespace dispatch {

class Group;
using group_t = std::shared_ptr<Group>;

group_t group_create();
void group_enter(const group_t& group);
void group_leave(const group_t& group);
void group_async(const group_t& group, const queue_t& queue, block_t block);
// Like group_async, but leaves the queue's worker asleep: the block is meant for a caller that
// waits on the group right away and runs idle members itself. Use only when group_wait follows.
void group_async_for_waiter(const group_t& group, const queue_t& queue, block_t block);
// Waits until every member has finished. Members still waiting at the front of an idle queue are
// run on the caller's thread (holding their queue), which saves a thread switch per member.
void group_wait(const group_t& group);

} // namespace dispatch
