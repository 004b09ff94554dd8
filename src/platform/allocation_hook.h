// The allocation test hook that every backend's heap shares: it counts the
// allocations and resizes, and makes the one armed by platformFailAllocation fail.
#pragma once

#include <cstdint>

namespace allocationHook {

inline uint32_t untilFailure = 0; // 0: no failure armed
inline uint64_t count = 0;

// Counts one allocation or resize; true when it is the one armed to fail.
inline bool shouldFail() {
    ++count;
    if (untilFailure == 0) {
        return false;
    }
    return --untilFailure == 0;
}

} // namespace allocationHook
