// The largest bitmap any backend makes or loads: 32768 pixels on a side and 256 MiB of
// pixels at 4 bytes each. The soft layer's surfaces hold no more, and the Windows
// backend refuses larger files before the system's loader sees them.
#pragma once

#include <cstdint>

constexpr int64_t kBitmapMaxSide = 32768;
constexpr int64_t kBitmapMaxPixelBytes = int64_t{256} << 20;

inline bool bitmapSizeAllowed(int64_t width, int64_t height) {
    return width >= 1 && height >= 1 && width <= kBitmapMaxSide && height <= kBitmapMaxSide &&
           width * height <= kBitmapMaxPixelBytes / 4;
}
