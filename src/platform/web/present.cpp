// Presenting software pixels on the canvas: XRGB turned into the canvas's RGBA in
// a copy of what the canvas shows, and only the rows that changed are put there.
// An unchanged frame (the same bitmap at the same revision) costs nothing.
#include "platform/platform.h"
#include "platform/soft/soft_surface.h"
#include "platform/web/web.h"

#include <emscripten.h>
#include <wasm_simd128.h>

namespace {

// What the canvas shows, as RGBA, canvas-sized; and what was presented last.
struct Shown {
    uint32_t* rgba;
    int32_t width;
    int32_t height;
    bool showAll;       // the canvas was cleared (made anew or resized)
    uint32_t clearings; // the page's count of clearings when last seen
    const PlatformBitmap* bitmap;
    uint64_t revision;
    int64_t left, top, right, bottom, shiftX, shiftY;
};
Shown shown = {};

// clang-format off
EM_JS(void, putRows, (const uint32_t* rgba, int32_t width, int32_t height, int32_t x, int32_t y,
                      int32_t columns, int32_t rows), {
    var context = Module.bexuContext;
    if (!context) {
        context = Module.bexuContext = Module.canvas.getContext("2d", {alpha: false});
    }
    var pixels = new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4);
    context.putImageData(new ImageData(pixels, width, height), 0, 0, x, y, columns, rows);
});
// clang-format on

// 0x00RRGGBB to the bytes R, G, B, 255 in memory order.
inline uint32_t rgbaOf(uint32_t pixel) {
    return ((pixel & 0xFF) << 16) | (pixel & 0xFF00) | ((pixel >> 16) & 0xFF) | 0xFF000000u;
}

// Bytes B, G, R, 0 of four pixels to R, G, B, 255.
inline v128_t rgbaOfFour(v128_t pixels) {
    return wasm_v128_or(
        wasm_i8x16_shuffle(pixels, pixels, 2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15),
        wasm_i32x4_splat(static_cast<int32_t>(0xFF000000u)));
}

// Whether a row differs from the canvas's copy: reads only, and stops at the first
// difference, so the rows a frame did not change cost no writes (the C library's
// memcmp goes byte by byte in wasm).
bool rowDiffers(const uint32_t* from, const uint32_t* to, int32_t columns) {
    int32_t i = 0;
    while (i + 16 <= columns) {
        v128_t differences = wasm_i32x4_splat(0);
        for (int32_t end = i + 16; i < end; i += 4) {
            differences =
                wasm_v128_or(differences, wasm_v128_xor(rgbaOfFour(wasm_v128_load(from + i)),
                                                        wasm_v128_load(to + i)));
        }
        if (wasm_v128_any_true(differences)) {
            return true;
        }
    }
    for (; i < columns; ++i) {
        if (rgbaOf(from[i]) != to[i]) {
            return true;
        }
    }
    return false;
}

void convertRow(const uint32_t* from, uint32_t* to, int32_t columns) {
    int32_t i = 0;
    for (; i + 4 <= columns; i += 4) {
        wasm_v128_store(to + i, rgbaOfFour(wasm_v128_load(from + i)));
    }
    for (; i < columns; ++i) {
        to[i] = rgbaOf(from[i]);
    }
}

bool followCanvasSize() {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t clearings = 0;
    webCanvasSize(&width, &height, &clearings);
    if (clearings != shown.clearings) {
        shown.clearings = clearings;
        shown.showAll = true;
    }
    if (width == shown.width && height == shown.height && shown.rgba != nullptr) {
        return true;
    }
    platformFree(shown.rgba);
    shown.rgba = nullptr;
    shown.width = 0;
    shown.height = 0;
    shown.bitmap = nullptr;
    if (width <= 0 || height <= 0 || width > kBitmapMaxSide || height > kBitmapMaxSide) {
        return false;
    }
    shown.rgba = static_cast<uint32_t*>(
        platformAllocate(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, false));
    if (shown.rgba == nullptr) {
        return false;
    }
    shown.width = width;
    shown.height = height;
    shown.showAll = true;
    return true;
}

} // namespace

void softPresent(PlatformWindow* window, int32_t x, int32_t y, int32_t width, int32_t height,
                 const PlatformBitmap* source, int32_t sourceX, int32_t sourceY) {
    if (window == nullptr || source == nullptr || source->pixels == nullptr ||
        !followCanvasSize()) {
        return;
    }
    // Clip to the source bitmap and to the canvas, in 64 bits so no sum overflows.
    int64_t shiftX = int64_t{sourceX} - x; // source = target + shift
    int64_t shiftY = int64_t{sourceY} - y;
    int64_t left = x, top = y, right = int64_t{x} + width, bottom = int64_t{y} + height;
    left = left > -shiftX ? left : -shiftX;
    top = top > -shiftY ? top : -shiftY;
    left = left > 0 ? left : 0;
    top = top > 0 ? top : 0;
    right = right < shown.width ? right : shown.width;
    right = right < source->width - shiftX ? right : source->width - shiftX;
    bottom = bottom < shown.height ? bottom : shown.height;
    bottom = bottom < source->height - shiftY ? bottom : source->height - shiftY;
    if (left >= right || top >= bottom) {
        return;
    }
    if (!shown.showAll && source == shown.bitmap && source->revision == shown.revision &&
        left == shown.left && top == shown.top && right == shown.right && bottom == shown.bottom &&
        shiftX == shown.shiftX && shiftY == shown.shiftY) {
        return;
    }
    shown.bitmap = source;
    shown.revision = source->revision;
    shown.left = left;
    shown.top = top;
    shown.right = right;
    shown.bottom = bottom;
    shown.shiftX = shiftX;
    shown.shiftY = shiftY;

    const auto columns = static_cast<int32_t>(right - left);
    int64_t firstChanged = bottom;
    int64_t lastChanged = top - 1;
    for (int64_t row = top; row < bottom; ++row) {
        const uint32_t* from =
            source->pixels + (row + shiftY) * int64_t{source->width} + (left + shiftX);
        uint32_t* to = shown.rgba + row * int64_t{shown.width} + left;
        if (shown.showAll || rowDiffers(from, to, columns)) {
            convertRow(from, to, columns);
            firstChanged = firstChanged < row ? firstChanged : row;
            lastChanged = row;
        }
    }
    shown.showAll = false;
    if (lastChanged >= firstChanged) {
        putRows(shown.rgba, shown.width, shown.height, static_cast<int32_t>(left),
                static_cast<int32_t>(firstChanged), columns,
                static_cast<int32_t>(lastChanged - firstChanged + 1));
    }
}
