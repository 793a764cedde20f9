#include "platform/core/block_allocator.h"

#include <cstring>
#include <sys/mman.h>

void* MappedBlockAllocator::allocate(std::size_t size) {
    if (size == 0) {
        return nullptr;
    }
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        return nullptr;
    }
    // Only advice: a kernel without THP still hands out ordinary pages.
    ::madvise(block, size, MADV_HUGEPAGE);
    return block;
}

void MappedBlockAllocator::release(void* block, std::size_t size) {
    if (block != nullptr) {
        ::munmap(block, size);
    }
}

void fill_block(void* block, std::size_t size, unsigned char value) {
    std::memset(block, value, size);
    // The block goes straight back to the kernel; tell the optimiser the bytes are observed.
    asm volatile("" : : "r"(block) : "memory");
}
