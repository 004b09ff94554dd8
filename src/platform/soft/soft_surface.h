// Software surfaces shared by the sdl, headless and web backends: bitmaps are
// 32-bit pixel arrays (softPixelOfRgb's, rows top-down), a surface is a drawing
// context with one bitmap selected into it.
#pragma once

#include "platform/bitmap_limits.h"
#include "platform/platform.h"

#include <cstdint>

struct PlatformBitmap {
    int32_t width;
    int32_t height;
    uint32_t* pixels; // width * height, row after row, top row first
    // Opaque runs per cell of the size keyed copies ask for, made lazily for them and
    // dropped whenever the pixels change.
    struct KeyedRuns* keyedRuns;
    bool ownedBySurface; // a surface's own `empty` bitmap: never deleted
    // The surface it is selected into, if any: like the desktop's bitmaps, it can be
    // selected into one surface at a time and is not deleted while selected.
    struct PlatformSurface* selectedIn;
    // New with every write to the pixels and never repeated, even by a later bitmap:
    // a backend need not show again what it showed at the same revision.
    uint64_t revision;
    // The window's own pixels, lent by the backend (platformWindowPixels): never deleted.
    bool lent;
};

struct PlatformSurface {
    PlatformBitmap* selected; // never none: `empty` when nothing else is selected
    PlatformBitmap empty;     // the 1 x 1 bitmap a new context starts with
    uint32_t emptyPixel;
    PlatformWindow* window; // set for a window's screen context: copies into it present
};

// A pixel of red, green and blue levels. Natively 0x00RRGGBB. The browser's canvas takes
// the bytes red, green, blue, alpha (0xAABBGGRR, opaque): the web build keeps its pixels so,
// and a bitmap's rows go to the canvas as they are. Every pass of the layer treats the four
// bytes of a pixel alike, or makes pixels only through this.
#if defined(BEXU_SOFT_RGBA)
inline constexpr uint32_t softPixelOfRgb(uint32_t red, uint32_t green, uint32_t blue) {
    return 0xFF000000u | (blue << 16) | (green << 8) | red;
}
#else
inline constexpr uint32_t softPixelOfRgb(uint32_t red, uint32_t green, uint32_t blue) {
    return (red << 16) | (green << 8) | blue;
}
#endif
constexpr uint32_t kSoftBlack = softPixelOfRgb(0, 0, 0);

// Pixel of a colour reference (0x00BBGGRR).
inline uint32_t softPixelOfColor(uint32_t color) {
    return softPixelOfRgb(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

// Makes a surface's fields ready; used by backends for screen contexts too.
void softInitSurface(PlatformSurface* surface, PlatformWindow* window);
// A black bitmap; none when a side is below 1 or the size is over the limits of
// bitmap_limits.h, or memory runs out. Freed by platformDeleteBitmap.
// A screen context for the window; backends hand it out as the window's drawing context.
PlatformSurface* softCreateScreen(PlatformWindow* window);
PlatformBitmap* softCreateBitmap(int32_t width, int32_t height);

// Backend hook: shows `width` x `height` pixels of `source` at (sourceX, sourceY)
// in the window, at (x, y) of its client area. Called by copies into a screen context.
void softPresent(PlatformWindow* window, int32_t x, int32_t y, int32_t width, int32_t height,
                 const PlatformBitmap* source, int32_t sourceX, int32_t sourceY);

// Decodes a BMP file held in memory into a new bitmap; none when the file is
// malformed, unsupported or too large. Reads nothing outside [data, data + size).
PlatformBitmap* softDecodeBmp(const uint8_t* data, size_t size);
