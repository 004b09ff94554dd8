// Surfaces with their own bitmap for the soft layer's tests.
#pragma once

#include "platform/soft/soft_surface.h"

#include <cstdint>
#include <vector>

struct Canvas {
    PlatformSurface* surface;
    PlatformBitmap* bitmap;
};

// Filled with noise from `seed`: neighbouring pixels share nothing, which makes
// both misplaced copies and rounding errors show.
Canvas makeCanvas(int32_t width, int32_t height, uint32_t seed);
Canvas makeFlat(int32_t width, int32_t height, uint32_t pixel);
void freeCanvas(const Canvas& canvas);
std::vector<uint32_t> pixelsOf(const PlatformBitmap* bitmap);
