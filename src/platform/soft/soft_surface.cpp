// Surfaces, bitmaps, fills and the plain and colour-keyed copies of the soft layer.
#include "platform/soft/soft_surface.h"
#include "platform/soft/soft_internal.h"

#include <algorithm>
#include <cstring>

namespace {
// Pixel data starts this far into a bitmap's block so rows stay 16-byte aligned.
constexpr size_t kBitmapHeaderSize = 64;
static_assert(sizeof(PlatformBitmap) <= kBitmapHeaderSize, "bitmap header grew");

uint64_t lastRevision = 0;

// Clips one axis of a copy: the target span [at, at + length) must lie in
// [0, targetSize) and the source span [from, from + length) in [0, sourceSize).
bool clipAxis(int64_t* at, int64_t* from, int64_t* length, int64_t targetSize, int64_t sourceSize) {
    int64_t skip = 0;
    if (*at < 0) {
        skip = -*at;
    }
    if (*from < -skip) {
        skip = -*from;
    }
    if (*length <= skip) {
        return false;
    }
    *at += skip;
    *from += skip;
    *length -= skip;
    if (*length > targetSize - *at) {
        *length = targetSize - *at;
    }
    if (*length > sourceSize - *from) {
        *length = sourceSize - *from;
    }
    return *length > 0;
}
} // namespace

bool softClipCopy(int32_t x, int32_t y, int32_t width, int32_t height, int64_t targetWidth,
                  int64_t targetHeight, const PlatformBitmap* source, int32_t sourceX,
                  int32_t sourceY, SoftCopyRect* out) {
    int64_t ax = x, ay = y, fx = sourceX, fy = sourceY, w = width, h = height;
    if (!clipAxis(&ax, &fx, &w, targetWidth, source->width) ||
        !clipAxis(&ay, &fy, &h, targetHeight, source->height)) {
        return false;
    }
    *out = {static_cast<int32_t>(ax), static_cast<int32_t>(ay), static_cast<int32_t>(w),
            static_cast<int32_t>(h),  static_cast<int32_t>(fx), static_cast<int32_t>(fy)};
    return true;
}

void softInitSurface(PlatformSurface* surface, PlatformWindow* window) {
    surface->emptyPixel = kSoftBlack;
    surface->empty.width = 1;
    surface->empty.height = 1;
    surface->empty.pixels = &surface->emptyPixel;
    surface->empty.keyedRuns = nullptr;
    surface->empty.ownedBySurface = true;
    surface->empty.selectedIn = surface;
    surface->empty.revision = ++lastRevision;
    surface->empty.lent = false;
    surface->selected = &surface->empty;
    surface->window = window;
}

PlatformBitmap* softCreateBitmap(int32_t width, int32_t height) {
    if (!bitmapSizeAllowed(width, height)) {
        return nullptr;
    }
    size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4u;
    auto* block = static_cast<uint8_t*>(platformAllocate(kBitmapHeaderSize + bytes, true));
    if (block == nullptr) {
        return nullptr;
    }
    auto* bitmap = reinterpret_cast<PlatformBitmap*>(block);
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels = reinterpret_cast<uint32_t*>(block + kBitmapHeaderSize);
    bitmap->keyedRuns = nullptr;
    bitmap->ownedBySurface = false;
    bitmap->selectedIn = nullptr;
    bitmap->revision = ++lastRevision;
    bitmap->lent = false;
    if (kSoftBlack != 0) {
        std::fill(bitmap->pixels, bitmap->pixels + bytes / 4, kSoftBlack);
    }
    return bitmap;
}

void softBitmapChanged(PlatformBitmap* bitmap) {
    bitmap->revision = ++lastRevision;
    if (bitmap->keyedRuns != nullptr) {
        platformFree(bitmap->keyedRuns);
        bitmap->keyedRuns = nullptr;
    }
}

PlatformSurface* platformCreateSurface(PlatformSurface* compatibleWith) {
    (void)compatibleWith; // every surface holds 32-bit pixels
    auto* surface = static_cast<PlatformSurface*>(platformAllocate(sizeof(PlatformSurface), true));
    if (surface != nullptr) {
        softInitSurface(surface, nullptr);
    }
    return surface;
}

void platformDeleteSurface(PlatformSurface* surface) {
    if (surface == nullptr) {
        return;
    }
    // The selected bitmap lives on, free to be deleted by its owner.
    surface->selected->selectedIn = nullptr;
    platformFree(surface);
}

PlatformBitmap* platformCreateBitmap(PlatformSurface* compatibleWith, int32_t width,
                                     int32_t height) {
    (void)compatibleWith;
    // A zero side gives the smallest bitmap rather than a failure, as on the desktop.
    if (width == 0 || height == 0) {
        if (width < 0 || height < 0) {
            return nullptr;
        }
        return softCreateBitmap(1, 1);
    }
    return softCreateBitmap(width, height);
}

PlatformBitmap* platformSelectBitmap(PlatformSurface* surface, PlatformBitmap* bitmap) {
    if (surface == nullptr || bitmap == nullptr ||
        (bitmap->ownedBySurface && bitmap != &surface->empty) ||
        (bitmap->selectedIn != nullptr && bitmap->selectedIn != surface)) {
        return nullptr;
    }
    PlatformBitmap* previous = surface->selected;
    previous->selectedIn = nullptr;
    surface->selected = bitmap;
    bitmap->selectedIn = surface;
    return previous;
}

void platformDeleteBitmap(PlatformBitmap* bitmap) {
    // Refused while selected, as on the desktop: the surface still draws with it.
    if (bitmap == nullptr || bitmap->ownedBySurface || bitmap->lent ||
        bitmap->selectedIn != nullptr) {
        return;
    }
    softBitmapChanged(bitmap);
    platformFree(bitmap);
}

bool platformBitmapSize(PlatformBitmap* bitmap, int32_t* width, int32_t* height) {
    if (bitmap == nullptr) {
        return false;
    }
    *width = bitmap->width;
    *height = bitmap->height;
    return true;
}

void platformFillRect(PlatformSurface* surface, int32_t x, int32_t y, int32_t width, int32_t height,
                      uint32_t color) {
    if (surface == nullptr) {
        return;
    }
    uint32_t pixel = softPixelOfColor(color);
    PlatformBitmap* target = surface->selected;
    PlatformBitmap* shown = nullptr;
    SoftCopyRect rect;
    if (surface->window != nullptr) {
        // The screen takes whole bitmaps: fill one of the visible part and show that.
        int32_t clientWidth = 0, clientHeight = 0;
        platformClientSize(surface->window, &clientWidth, &clientHeight);
        PlatformBitmap client = {clientWidth, clientHeight, nullptr, nullptr,
                                 false,       nullptr,      0,       false};
        if (!softClipCopy(x, y, width, height, clientWidth, clientHeight, &client, x, y, &rect) ||
            (shown = softCreateBitmap(rect.width, rect.height)) == nullptr) {
            return;
        }
        target = shown;
    } else if (!softClipCopy(x, y, width, height, target->width, target->height, target, x, y,
                             &rect)) {
        return;
    }
    softBitmapChanged(target);
    int64_t left = shown != nullptr ? 0 : rect.x;
    int64_t top = shown != nullptr ? 0 : rect.y;
    for (int32_t j = 0; j < rect.height; ++j) {
        uint32_t* row = softRow(target, top + j) + left;
        for (int32_t i = 0; i < rect.width; ++i) {
            row[i] = pixel;
        }
    }
    if (shown != nullptr) {
        softPresent(surface->window, rect.x, rect.y, rect.width, rect.height, shown, 0, 0);
        platformDeleteBitmap(shown);
    }
}

void platformCopy(PlatformSurface* target, int32_t x, int32_t y, int32_t width, int32_t height,
                  PlatformSurface* source, int32_t sourceX, int32_t sourceY) {
    if (target == nullptr || source == nullptr) {
        return;
    }
    const PlatformBitmap* from = source->selected;
    SoftCopyRect rect;
    if (target->window != nullptr) {
        if (softClipCopy(x, y, width, height, kSoftScreenLimit, kSoftScreenLimit, from, sourceX,
                         sourceY, &rect)) {
            softPresent(target->window, rect.x, rect.y, rect.width, rect.height, from, rect.sourceX,
                        rect.sourceY);
        }
        return;
    }
    PlatformBitmap* to = target->selected;
    if (!softClipCopy(x, y, width, height, to->width, to->height, from, sourceX, sourceY, &rect)) {
        return;
    }
    softBitmapChanged(to);
    size_t rowBytes = static_cast<size_t>(rect.width) * 4u;
    // Source and target may be the same bitmap with overlapping rectangles:
    // copy rows bottom-up when the target lies below the source.
    bool upward = from == to && rect.y > rect.sourceY;
    for (int32_t n = 0; n < rect.height; ++n) {
        int32_t j = upward ? rect.height - 1 - n : n;
        memmove(softRow(to, rect.y + j) + rect.x, softRow(from, rect.sourceY + j) + rect.sourceX,
                rowBytes);
    }
}
