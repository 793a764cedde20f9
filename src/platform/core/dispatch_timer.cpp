#include "platform/core/dispatch_timer.h"

#include "platform/core/dispatch_internal.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace dispatch {

class TimerSource {
public:
    explicit TimerSource(queue_t queue) : queue_(std::move(queue)) {
        thread_ = std::thread([this] { run(); });
    }
    ~TimerSource() { detail::stopWorker(mutex_, wake_, exit_, thread_); }
    TimerSource(const TimerSource&) = delete;
    TimerSource& operator=(const TimerSource&) = delete;

    void set(clock::time_point start, clock::duration interval) {
        std::lock_guard lock(mutex_);
        next_ = start;
        interval_ = (interval == TIME_FOREVER || interval <= clock::duration::zero())
                        ? std::nullopt
                        : std::optional(interval);
        armed_ = true;
        wake_.notify_all();
    }
    void setHandler(block_t handler) {
        std::lock_guard lock(mutex_);
        handler_ = std::make_shared<block_t>(std::move(handler));
    }
    void setCancelHandler(block_t handler) {
        std::lock_guard lock(mutex_);
        cancelHandler_ = std::move(handler);
    }
    void resume() {
        std::lock_guard lock(mutex_);
        if (suspendCount_ > 0) {
            --suspendCount_;
        }
        wake_.notify_all();
    }
    void suspend() {
        std::lock_guard lock(mutex_);
        ++suspendCount_;
    }
    void cancel() {
        block_t cancelHandler;
        {
            std::lock_guard lock(mutex_);
            if (cancelled_->load()) {
                return;
            }
            cancelled_->store(true);
            cancelHandler = std::move(cancelHandler_);
            wake_.notify_all();
        }
        if (cancelHandler) {
            async(queue_, std::move(cancelHandler));
        }
    }
    bool cancelled() const { return cancelled_->load(); }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (exit_ || cancelled_->load()) {
                return;
            }
            if (!armed_ || suspendCount_ > 0) {
                wake_.wait(lock);
                continue;
            }
            if (clock::now() < next_) {
                wake_.wait_until(lock, next_);
                continue;
            }
            if (interval_) {
                // Skip missed fires instead of bursting them.
                do {
                    next_ += *interval_;
                } while (next_ <= clock::now());
            } else {
                armed_ = false;
            }
            auto handler = handler_;
            if (handler && *handler) {
                async(queue_, [handler, flag = cancelled_] {
                    if (!flag->load()) {
                        (*handler)();
                    }
                });
            }
        }
    }

    queue_t queue_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::shared_ptr<block_t> handler_;
    block_t cancelHandler_;
    clock::time_point next_{};
    std::optional<clock::duration> interval_;
    bool armed_ = false;
    // Shared with blocks already queued so a fire queued before cancel() is skipped.
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    bool exit_ = false;
    int suspendCount_ = 1; // created suspended
    std::thread thread_;
};

timer_t timer_create(const queue_t& queue) {
    return queue ? std::make_shared<TimerSource>(queue) : nullptr;
}
void timer_set(const timer_t& timer, clock::time_point start, clock::duration interval,
               clock::duration /*leeway*/) {
    if (timer) {
        timer->set(start, interval);
    }
}
void timer_set_event_handler(const timer_t& timer, block_t handler) {
    if (timer) {
        timer->setHandler(std::move(handler));
    }
}
void timer_set_cancel_handler(const timer_t& timer, block_t handler) {
    if (timer) {
        timer->setCancelHandler(std::move(handler));
    }
}
void timer_resume(const timer_t& timer) {
    if (timer) {
        timer->resume();
    }
}
void timer_suspend(const timer_t& timer) {
    if (timer) {
        timer->suspend();
    }
}
void timer_cancel(const timer_t& timer) {
    if (timer) {
        timer->cancel();
    }
}
bool timer_testcancel(const timer_t& timer) {
    return timer ? timer->cancelled() : true;
}

} // namespace dispatch
