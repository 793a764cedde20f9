#pragma once
// Doubles for clean tests: an allocator that checks what was written and when blocks go back,
// and a controller whose samples come from a script.

#include "memory/MCMemoryController.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

// Checks at release time that every byte of each block holds 0x01, then frees it for real.
// Keeps the order of allocations (+size) and releases (-size).
class CheckingAllocator : public BlockAllocator {
public:
    void* allocate(std::size_t size) override {
        const std::size_t index = sizes.size();
        sizes.push_back(size);
        if (failAt && *failAt == index) {
            return nullptr;
        }
        void* block = real.allocate(size);
        if (block != nullptr) {
            events.push_back(static_cast<long long>(size));
            if (afterAllocate) {
                afterAllocate(index, size);
            }
        }
        return block;
    }
    void release(void* block, std::size_t size) override {
        const auto* bytes = static_cast<const unsigned char*>(block);
        unwritten += static_cast<std::size_t>(
            std::count_if(bytes, bytes + size, [](unsigned char b) { return b != 0x01; }));
        released.push_back(size);
        events.push_back(-static_cast<long long>(size));
        real.release(block, size);
        if (afterRelease) {
            afterRelease(size);
        }
    }

    std::vector<std::size_t> sizes; // every request, granted or not
    std::vector<std::size_t> released;
    std::vector<long long> events;
    std::size_t unwritten = 0;
    std::optional<std::size_t> failAt; // the request (counted from 0) that is refused
    std::function<void(std::size_t index, std::size_t size)> afterAllocate;
    std::function<void(std::size_t size)> afterRelease;
    MappedBlockAllocator real;
};

// Answers samples from a script and counts how many were taken.
class ScriptedController : public MCMemoryController {
public:
    ScriptedController(host_t host, std::shared_ptr<BlockAllocator> allocator,
                       std::optional<std::int64_t> limit,
                       std::deque<std::optional<MCMemory>> script,
                       std::int64_t chunkBytes = kChunkBytes)
        : MCMemoryController(std::move(host), std::move(allocator), limit, chunkBytes),
          script_(std::move(script)) {}
    std::optional<MCMemory> currentMemoryUsage() const override {
        ++samples;
        if (script_.empty()) {
            return std::nullopt;
        }
        auto next = script_.front();
        script_.pop_front();
        return next;
    }
    mutable int samples = 0;

private:
    mutable std::deque<std::optional<MCMemory>> script_;
};

inline MCMemory freeAndInactive(std::int64_t freeBytes, std::int64_t inactiveBytes) {
    MCMemory m;
    m.freeMemory = freeBytes;
    m.inactiveMemory = inactiveBytes;
    return m;
}
