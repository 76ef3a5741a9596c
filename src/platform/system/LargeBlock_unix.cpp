// Huge-page friendly blocks for the fetcher's line list.
#include "platform/system/LargeBlock.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace {
constexpr std::size_t kHugePage = 2 * 1024 * 1024;

std::size_t RoundUp(std::size_t bytes) {
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

void* AllocateLargeBlock(std::size_t bytes) {
    const std::size_t length = RoundUp(bytes);
    // Map one huge page more, then give back what lies outside the aligned block.
    void* mapped = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
    if (aligned > start) ::munmap(mapped, aligned - start);
    const std::uintptr_t tail = aligned + length;
    if (start + length + kHugePage > tail)
        ::munmap(reinterpret_cast<void*>(tail), start + length + kHugePage - tail);
    // Only a hint: without huge pages the block is ordinary memory.
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void FreeLargeBlock(void* block, std::size_t bytes) {
    ::munmap(block, RoundUp(bytes));
}
}  // namespace

LargeBlockSource SystemLargeBlocks() {
    return {AllocateLargeBlock, FreeLargeBlock};
}
