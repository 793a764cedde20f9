#pragma once
// Timer sources: a handler run on a queue once or repeatedly.

#include "platform/core/dispatch_queue.h"

#include <chrono>
#include <memory>

namespace dispatch {

class TimerSource;
using timer_t = std::shared_ptr<TimerSource>;

// A new timer is suspended; resume() starts it. The handler runs on the queue.
using clock = std::chrono::steady_clock;
inline constexpr clock::duration TIME_FOREVER = clock::duration::max();

timer_t timer_create(const queue_t& queue);
// start: first fire; interval: TIME_FOREVER (or zero) for a timer that fires once; leeway is
// accepted for compatibility and may delay a fire by at most that much.
void timer_set(const timer_t& timer, clock::time_point start, clock::duration interval,
               clock::duration leeway);
void timer_set_event_handler(const timer_t& timer, block_t handler);
void timer_set_cancel_handler(const timer_t& timer, block_t handler);
void timer_resume(const timer_t& timer);
void timer_suspend(const timer_t& timer);
// No fire starts after cancel returns; the cancel handler runs once on the queue.
void timer_cancel(const timer_t& timer);
bool timer_testcancel(const timer_t& timer);

} // namespace dispatch
