// Colour-keyed copy: every pixel but those of the key colour.
#include "platform/soft/soft_internal.h"
#include "platform/soft/soft_surface.h"

namespace {
void copyKeyedSameSize(PlatformBitmap* to, const PlatformBitmap* from, const SoftCopyRect& rect,
                       uint32_t keyPixel) {
    for (int32_t j = 0; j < rect.height; ++j) {
        uint32_t* target = softRow(to, rect.y + j) + rect.x;
        const uint32_t* source = softRow(from, rect.sourceY + j) + rect.sourceX;
        for (int32_t i = 0; i < rect.width; ++i) {
            if (source[i] != keyPixel) {
                target[i] = source[i];
            }
        }
    }
}

// Different sizes: each target pixel takes the source pixel its position maps to;
// only target pixels inside the target bitmap whose source pixel exists are drawn.
void copyKeyedScaled(PlatformBitmap* to, const PlatformBitmap* from, int64_t x, int64_t y,
                     int64_t width, int64_t height, int64_t sourceX, int64_t sourceY,
                     int64_t sourceWidth, int64_t sourceHeight, uint32_t keyPixel) {
    int64_t top = y < 0 ? 0 : y;
    int64_t bottom = y + height < to->height ? y + height : to->height;
    int64_t left = x < 0 ? 0 : x;
    int64_t right = x + width < to->width ? x + width : to->width;
    for (int64_t ty = top; ty < bottom; ++ty) {
        int64_t fy = sourceY + (ty - y) * sourceHeight / height;
        if (fy < 0 || fy >= from->height) {
            continue;
        }
        uint32_t* target = softRow(to, ty);
        const uint32_t* source = softRow(from, fy);
        for (int64_t tx = left; tx < right; ++tx) {
            int64_t fx = sourceX + (tx - x) * sourceWidth / width;
            if (fx >= 0 && fx < from->width && source[fx] != keyPixel) {
                target[tx] = source[fx];
            }
        }
    }
}
} // namespace

void platformCopyKeyed(PlatformSurface* target, int32_t x, int32_t y, int32_t width, int32_t height,
                       PlatformSurface* source, int32_t sourceX, int32_t sourceY,
                       int32_t sourceWidth, int32_t sourceHeight, uint32_t key) {
    if (target == nullptr || source == nullptr || width <= 0 || height <= 0 || sourceWidth <= 0 ||
        sourceHeight <= 0) {
        return;
    }
    if (target->window != nullptr) {
        // The screen's pixels are the backend's: a keyed copy cannot blend into them.
        return;
    }
    PlatformBitmap* to = target->selected;
    const PlatformBitmap* from = source->selected;
    uint32_t keyPixel = softPixelOfColor(key);
    if (width == sourceWidth && height == sourceHeight) {
        SoftCopyRect rect;
        if (!softClipCopy(x, y, width, height, to->width, to->height, from, sourceX, sourceY,
                          &rect)) {
            return;
        }
        softBitmapChanged(to);
        copyKeyedSameSize(to, from, rect, keyPixel);
        return;
    }
    softBitmapChanged(to);
    copyKeyedScaled(to, from, x, y, width, height, sourceX, sourceY, sourceWidth, sourceHeight,
                    keyPixel);
}
