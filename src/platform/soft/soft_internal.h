// Helpers shared by the soft layer's files; not for backends.
#pragma once

#include "platform/soft/soft_stretch.h"
#include "platform/soft/soft_surface.h"

#include <cstdint>

// A copy rectangle after clipping: `width` x `height` pixels from (sourceX, sourceY)
// to (x, y).
struct SoftCopyRect {
    int32_t x, y, width, height, sourceX, sourceY;
};

// Clips a same-size copy to the target area [0, targetWidth) x [0, targetHeight)
// and to the source bitmap; false when nothing is left.
bool softClipCopy(int32_t x, int32_t y, int32_t width, int32_t height, int64_t targetWidth,
                  int64_t targetHeight, const PlatformBitmap* source, int32_t sourceX,
                  int32_t sourceY, SoftCopyRect* out);

// Must be called before a bitmap's pixels are written: drops what was derived from them.
void softBitmapChanged(PlatformBitmap* bitmap);

// Keyed copy scaled by nearest pixel: each target pixel takes the source pixel its
// position maps to. Only target pixels inside the target bitmap and `bounds` whose
// source pixel exists and is not of colour keyPixel are drawn.
void softCopyNearestKeyed(PlatformBitmap* to, const PlatformBitmap* from, const SoftBounds& bounds,
                          int64_t x, int64_t y, int64_t width, int64_t height, int64_t sourceX,
                          int64_t sourceY, int64_t sourceWidth, int64_t sourceHeight,
                          uint32_t keyPixel);

// How far a screen context reaches; the backend clips to the real window.
constexpr int64_t kSoftScreenLimit = kBitmapMaxSide;

inline uint32_t* softRow(PlatformBitmap* bitmap, int64_t y) {
    return bitmap->pixels + static_cast<size_t>(y) * static_cast<size_t>(bitmap->width);
}
inline const uint32_t* softRow(const PlatformBitmap* bitmap, int64_t y) {
    return bitmap->pixels + static_cast<size_t>(y) * static_cast<size_t>(bitmap->width);
}
