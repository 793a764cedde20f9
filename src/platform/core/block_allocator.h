#pragma once
// Large anonymous blocks for the memory cleaner.

#include <cstddef>

class BlockAllocator {
public:
    virtual ~BlockAllocator() = default;
    // A block of exactly `size` writable bytes, or null when the system cannot supply it.
    virtual void* allocate(std::size_t size) = 0;
    virtual void release(void* block, std::size_t size) = 0;
};

// Maps fresh anonymous memory backed by transparent huge pages where the kernel allows,
// so touching gigabytes costs one fault per 2 MiB instead of one per 4 KiB.
class MappedBlockAllocator final : public BlockAllocator {
public:
    void* allocate(std::size_t size) override;
    void release(void* block, std::size_t size) override;
};

// Writes `value` into every byte of the block. The block escapes to the release call,
// so the compiler must keep every store.
void fill_block(void* block, std::size_t size, unsigned char value);
