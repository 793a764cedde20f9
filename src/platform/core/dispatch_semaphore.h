#pragma once
// A counting semaphore for producers that must not outrun their consumers.

#include <atomic>
#include <cstddef>
#include <memory>

namespace dispatch {

// A waiter spins briefly before it sleeps: under steady back-pressure the count comes back
// within microseconds, and a sleep costs a system call on both sides. A negative count is the
// number of committed sleepers; each release that finds one hands it a wake token, so a wake can
// never be lost and no release wakes more sleepers than there are.
class Semaphore {
public:
    explicit Semaphore(int value) : count_(value) {}
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void acquire();
    bool try_acquire();
    void release();
    // Permits available now (0 while someone waits).
    std::ptrdiff_t value() const {
        const int c = count_.load(std::memory_order_relaxed);
        return c < 0 ? 0 : c;
    }

private:
    std::atomic<int> count_;
    // Wake tokens for committed sleepers; the kernel's futex word (atomic<int> is laid out as int).
    std::atomic<int> tokens_{0};
    static_assert(sizeof(std::atomic<int>) == sizeof(int));
};
using semaphore_t = Semaphore;
std::unique_ptr<semaphore_t> semaphore_create(std::ptrdiff_t value);

} // namespace dispatch
