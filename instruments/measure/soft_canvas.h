// Surfaces with their own bitmap for the soft layer's benchmarks.
#pragma once

#include "platform/soft/soft_surface.h"

struct Canvas {
    PlatformSurface* surface;
    PlatformBitmap* bitmap;
};

// Filled with noise, so no pass can profit from repeated values.
inline Canvas makeCanvas(int32_t width, int32_t height) {
    Canvas canvas;
    canvas.surface = platformCreateSurface(nullptr);
    canvas.bitmap = platformCreateBitmap(canvas.surface, width, height);
    platformSelectBitmap(canvas.surface, canvas.bitmap);
    uint32_t state = 12345;
    for (int32_t i = 0; i < width * height; ++i) {
        state = state * 1664525u + 1013904223u;
        canvas.bitmap->pixels[i] = state >> 8;
    }
    return canvas;
}

inline void freeCanvas(const Canvas& canvas) {
    platformDeleteSurface(canvas.surface);
    platformDeleteBitmap(canvas.bitmap);
}
