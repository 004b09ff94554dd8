#include "soft_canvas.h"

Canvas makeCanvas(int32_t width, int32_t height, uint32_t seed) {
    Canvas canvas;
    canvas.surface = platformCreateSurface(nullptr);
    canvas.bitmap = platformCreateBitmap(canvas.surface, width, height);
    platformSelectBitmap(canvas.surface, canvas.bitmap);
    uint32_t state = seed;
    for (int32_t i = 0; i < width * height; ++i) {
        state = state * 1664525u + 1013904223u;
        canvas.bitmap->pixels[i] = state >> 8;
    }
    return canvas;
}

Canvas makeFlat(int32_t width, int32_t height, uint32_t pixel) {
    Canvas canvas = makeCanvas(width, height, 1);
    for (int32_t i = 0; i < width * height; ++i) {
        canvas.bitmap->pixels[i] = pixel;
    }
    return canvas;
}

void freeCanvas(const Canvas& canvas) {
    platformDeleteSurface(canvas.surface);
    platformDeleteBitmap(canvas.bitmap);
}

std::vector<uint32_t> pixelsOf(const PlatformBitmap* bitmap) {
    return std::vector<uint32_t>(bitmap->pixels, bitmap->pixels + bitmap->width * bitmap->height);
}
