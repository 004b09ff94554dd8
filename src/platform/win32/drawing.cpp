// Fills and copies. The device interface clips every copy to the target's
// bitmap and to the source's, so coordinates need no checks of their own here.
#include "platform/win32/win32.h"

namespace {
// Rectangle edges formed without overflow: an edge beyond the int range is held at its end.
LONG edgeAt(int32_t start, int32_t extent) {
    int64_t edge = static_cast<int64_t>(start) + extent;
    if (edge > INT32_MAX) {
        return INT32_MAX;
    }
    if (edge < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<LONG>(edge);
}
} // namespace

void platformFillRect(PlatformSurface* surface, int32_t x, int32_t y, int32_t width, int32_t height,
                      uint32_t color) {
    HBRUSH brush = CreateSolidBrush(color);
    if (brush == nullptr) {
        return;
    }
    RECT area = {x, y, edgeAt(x, width), edgeAt(y, height)};
    FillRect(contextHandle(surface), &area, brush);
    DeleteObject(brush);
}

void platformCopy(PlatformSurface* target, int32_t x, int32_t y, int32_t width, int32_t height,
                  PlatformSurface* source, int32_t sourceX, int32_t sourceY) {
    BitBlt(contextHandle(target), x, y, width, height, contextHandle(source), sourceX, sourceY,
           SRCCOPY);
}

void platformCopyKeyed(PlatformSurface* target, int32_t x, int32_t y, int32_t width, int32_t height,
                       PlatformSurface* source, int32_t sourceX, int32_t sourceY,
                       int32_t sourceWidth, int32_t sourceHeight, uint32_t key) {
    TransparentBlt(contextHandle(target), x, y, width, height, contextHandle(source), sourceX,
                   sourceY, sourceWidth, sourceHeight, key);
}

void platformSetSmoothStretch(PlatformSurface* target) {
    SetStretchBltMode(contextHandle(target), HALFTONE);
}

void platformStretchCopy(PlatformSurface* target, int32_t x, int32_t y, int32_t width,
                         int32_t height, PlatformSurface* source, int32_t sourceX, int32_t sourceY,
                         int32_t sourceWidth, int32_t sourceHeight) {
    StretchBlt(contextHandle(target), x, y, width, height, contextHandle(source), sourceX, sourceY,
               sourceWidth, sourceHeight, SRCCOPY);
}

// The device interface works a clipped stretch out anew from the clipped rectangles, so a
// part of it does not match the whole. The whole stretch is drawn instead: outside the part
// it gives what the target holds.
void platformStretchCopyPart(PlatformSurface* target, int32_t x, int32_t y, int32_t width,
                             int32_t height, PlatformSurface* source, int32_t sourceX,
                             int32_t sourceY, int32_t sourceWidth, int32_t sourceHeight,
                             const PlatformRect*) {
    platformStretchCopy(target, x, y, width, height, source, sourceX, sourceY, sourceWidth,
                        sourceHeight);
}
