#include "platform/core/dispatch_semaphore.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace dispatch {

bool Semaphore::try_acquire() {
    int current = count_.load(std::memory_order_relaxed);
    while (current > 0) {
        if (count_.compare_exchange_weak(current, current - 1, std::memory_order_acquire,
                                         std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

void Semaphore::acquire() {
    if (try_acquire()) {
        return;
    }
    // Poll a little (tens of microseconds) before committing to sleep.
    for (int spin = 0; spin < 2000; ++spin) {
        if (count_.load(std::memory_order_relaxed) > 0 && try_acquire()) {
            return;
        }
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    if (count_.fetch_sub(1, std::memory_order_acquire) > 0) {
        return; // a permit arrived after all
    }
    // Committed: exactly one release will hand us a token.
    for (;;) {
        int token = tokens_.load(std::memory_order_acquire);
        while (token > 0) {
            if (tokens_.compare_exchange_weak(token, token - 1, std::memory_order_acquire,
                                              std::memory_order_relaxed)) {
                return;
            }
        }
        // The kernel sleeps only while there is still no token.
        ::syscall(SYS_futex, reinterpret_cast<int*>(&tokens_), FUTEX_WAIT_PRIVATE, 0, nullptr,
                  nullptr, 0);
    }
}

void Semaphore::release() {
    if (count_.fetch_add(1, std::memory_order_release) < 0) {
        tokens_.fetch_add(1, std::memory_order_release);
        ::syscall(SYS_futex, reinterpret_cast<int*>(&tokens_), FUTEX_WAKE_PRIVATE, 1, nullptr,
                  nullptr, 0);
    }
}

std::unique_ptr<semaphore_t> semaphore_create(std::ptrdiff_t value) {
    return std::make_unique<semaphore_t>(static_cast<int>(value));
}

} // namespace dispatch
