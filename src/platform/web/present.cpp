// Presenting software pixels on the canvas. The web build's bitmaps hold the canvas's own
// RGBA bytes (softPixelOfRgb), so the rows go from the bitmap to the canvas as they are,
// with no copy of what the canvas shows. An unchanged frame (the same rectangle of the same
// bitmap at the same revision, the canvas not cleared since) costs nothing.
#include "platform/platform.h"
#include "platform/soft/soft_surface.h"
#include "platform/web/web.h"

#include <emscripten.h>

namespace {

// What was presented last.
struct Shown {
    uint32_t clearings; // the page's count of clearings when last seen
    const PlatformBitmap* bitmap;
    uint64_t revision;
    int64_t left, top, right, bottom, shiftX, shiftY;
};
Shown shown = {};

// clang-format off
EM_JS(void, putRows, (const uint32_t* pixels, int32_t width, int32_t height, int32_t x,
                      int32_t y, int32_t sourceX, int32_t sourceY, int32_t columns,
                      int32_t rows), {
    var context = Module.bexuContext;
    if (!context) {
        context = Module.bexuContext = Module.canvas.getContext("2d", {alpha: false});
    }
    var bytes = new Uint8ClampedArray(HEAPU8.buffer, pixels, width * height * 4);
    context.putImageData(new ImageData(bytes, width, height), x - sourceX, y - sourceY, sourceX,
                         sourceY, columns, rows);
});
// clang-format on

} // namespace

void softPresent(PlatformWindow* window, int32_t x, int32_t y, int32_t width, int32_t height,
                 const PlatformBitmap* source, int32_t sourceX, int32_t sourceY) {
    if (window == nullptr || source == nullptr || source->pixels == nullptr) {
        return;
    }
    int32_t canvasWidth = 0;
    int32_t canvasHeight = 0;
    uint32_t clearings = 0;
    webCanvasSize(&canvasWidth, &canvasHeight, &clearings);
    // Clip to the source bitmap and to the canvas, in 64 bits so no sum overflows.
    int64_t shiftX = int64_t{sourceX} - x; // source = target + shift
    int64_t shiftY = int64_t{sourceY} - y;
    int64_t left = x, top = y, right = int64_t{x} + width, bottom = int64_t{y} + height;
    left = left > -shiftX ? left : -shiftX;
    top = top > -shiftY ? top : -shiftY;
    left = left > 0 ? left : 0;
    top = top > 0 ? top : 0;
    right = right < canvasWidth ? right : canvasWidth;
    right = right < source->width - shiftX ? right : source->width - shiftX;
    bottom = bottom < canvasHeight ? bottom : canvasHeight;
    bottom = bottom < source->height - shiftY ? bottom : source->height - shiftY;
    if (left >= right || top >= bottom) {
        return;
    }
    if (clearings == shown.clearings && source == shown.bitmap &&
        source->revision == shown.revision && left == shown.left && top == shown.top &&
        right == shown.right && bottom == shown.bottom && shiftX == shown.shiftX &&
        shiftY == shown.shiftY) {
        return;
    }
    shown = {clearings, source, source->revision, left, top, right, bottom, shiftX, shiftY};
    putRows(source->pixels, source->width, source->height, static_cast<int32_t>(left),
            static_cast<int32_t>(top), static_cast<int32_t>(left + shiftX),
            static_cast<int32_t>(top + shiftY), static_cast<int32_t>(right - left),
            static_cast<int32_t>(bottom - top));
}
