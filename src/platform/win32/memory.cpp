// Memory from the process heap, with a test hook that makes a chosen
// allocation fail.
#include "platform/allocation_hook.h"
#include "platform/win32/win32.h"

namespace {
DWORD heapFlags(bool zeroFill) {
    return zeroFill ? HEAP_ZERO_MEMORY : 0;
}
} // namespace

void* platformAllocate(size_t size, bool zeroFill) {
    if (allocationHook::shouldFail()) {
        return nullptr;
    }
    return HeapAlloc(GetProcessHeap(), heapFlags(zeroFill), size);
}

void* platformResize(void* block, size_t size, bool zeroFill) {
    if (block == nullptr) {
        return platformAllocate(size, zeroFill);
    }
    if (allocationHook::shouldFail()) {
        return nullptr;
    }
    // On failure the heap leaves the old block as it was; with HEAP_ZERO_MEMORY the
    // bytes past the old size come zeroed.
    return HeapReAlloc(GetProcessHeap(), heapFlags(zeroFill), block, size);
}

void platformFree(void* block) {
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

void platformFailAllocation(uint32_t nth) {
    allocationHook::untilFailure = nth;
}

uint64_t platformAllocationCount() {
    return allocationHook::count;
}
