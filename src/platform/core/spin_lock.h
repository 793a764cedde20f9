#pragma once
// A tiny spin lock for critical sections of one map or set operation, where a mutex's system
// calls would cost more than the work. Usable with std::lock_guard and std::unique_lock.

#include <atomic>
#include <thread>

namespace platform {

class SpinLock {
public:
    SpinLock() = default;
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

    void lock() noexcept {
        unsigned spins = 0;
        while (flag_.test_and_set(std::memory_order_acquire)) {
            // Wait on a plain load so waiters do not bounce the cache line; give the holder the
            // processor now and then in case it was preempted.
            while (flag_.test(std::memory_order_relaxed)) {
                if (++spins % 64 == 0) {
                    std::this_thread::yield();
                }
            }
        }
    }
    bool try_lock() noexcept { return !flag_.test_and_set(std::memory_order_acquire); }
    void unlock() noexcept { flag_.clear(std::memory_order_release); }

private:
    std::atomic_flag flag_;
};

} // namespace platform
