// Heap memory with a test hook that makes a chosen allocation fail.
#include "platform/allocation_hook.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

namespace {
// The usable size is kept in front of each block so a resize can zero-fill the new bytes.
struct BlockHeader {
    size_t size;
    size_t padding; // keeps the payload 16-byte aligned
};

BlockHeader* headerOf(void* block) {
    return static_cast<BlockHeader*>(block) - 1;
}
} // namespace

void* platformAllocate(size_t size, bool zeroFill) {
    if (allocationHook::shouldFail() || size > SIZE_MAX - sizeof(BlockHeader)) {
        return nullptr;
    }
    auto* header = static_cast<BlockHeader*>(zeroFill ? calloc(1, sizeof(BlockHeader) + size)
                                                      : malloc(sizeof(BlockHeader) + size));
    if (header == nullptr) {
        return nullptr;
    }
    header->size = size;
    return header + 1;
}

void* platformResize(void* block, size_t size, bool zeroFill) {
    if (block == nullptr) {
        return platformAllocate(size, zeroFill);
    }
    if (allocationHook::shouldFail() || size > SIZE_MAX - sizeof(BlockHeader)) {
        return nullptr;
    }
    size_t oldSize = headerOf(block)->size;
    auto* header = static_cast<BlockHeader*>(realloc(headerOf(block), sizeof(BlockHeader) + size));
    if (header == nullptr) {
        return nullptr;
    }
    header->size = size;
    if (zeroFill && size > oldSize) {
        memset(reinterpret_cast<char*>(header + 1) + oldSize, 0, size - oldSize);
    }
    return header + 1;
}

void platformFree(void* block) {
    if (block != nullptr) {
        free(headerOf(block));
    }
}

void platformFailAllocation(uint32_t nth) {
    allocationHook::untilFailure = nth;
}

uint64_t platformAllocationCount() {
    return allocationHook::count;
}
