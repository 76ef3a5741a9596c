// Large blocks for the fetcher's line list, straight from the system.
#include <windows.h>

#include <new>

#include "platform/system/LargeBlock.h"

namespace {
void* AllocateLargeBlock(std::size_t bytes) {
    void* block = ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void FreeLargeBlock(void* block, std::size_t) {
    ::VirtualFree(block, 0, MEM_RELEASE);
}
}  // namespace

LargeBlockSource SystemLargeBlocks() {
    return {AllocateLargeBlock, FreeLargeBlock};
}
