// libFuzzer harness for the BMP decoder: any input must decode or be refused
// without reading or writing out of bounds. What decodes is then drawn through
// the clipped copies and the stretch, so odd sizes reach those too.
#include "platform/soft/soft_surface.h"

#include <cstddef>
#include <cstdint>

// The harness has no window: copies never target a screen.
void softPresent(PlatformWindow*, int32_t, int32_t, int32_t, int32_t, const PlatformBitmap*,
                 int32_t, int32_t) {}
void platformClientSize(PlatformWindow*, int32_t* width, int32_t* height) {
    *width = 0;
    *height = 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PlatformBitmap* bitmap = softDecodeBmp(data, size);
    if (bitmap == nullptr) {
        return 0;
    }
    static PlatformSurface* target = nullptr;
    static PlatformSurface* source = nullptr;
    static PlatformBitmap* canvas = nullptr;
    if (target == nullptr) {
        target = platformCreateSurface(nullptr);
        source = platformCreateSurface(nullptr);
        canvas = platformCreateBitmap(target, 61, 37);
        platformSelectBitmap(target, canvas);
    }

    PlatformBitmap* previous = platformSelectBitmap(source, bitmap);
    // Only small pictures are drawn, so big ones do not slow the search down.
    if (static_cast<int64_t>(bitmap->width) * bitmap->height <= 1 << 13) {
        int32_t offset = static_cast<int32_t>(size % 29) - 14;
        platformCopy(target, offset, -offset, bitmap->width, bitmap->height, source, 1, 0);
        platformCopyKeyed(target, offset, offset, 25, 33, source, 0, 0, 25, 33, kColorMagenta);
        // Both stretch modes: whole pixels, then smoothing.
        target->smoothStretch = false;
        platformStretchCopy(target, offset, 0, 61, 37, source, 0, offset, bitmap->width,
                            bitmap->height);
        platformSetSmoothStretch(target);
        platformStretchCopy(target, offset, 0, 61, 37, source, 0, offset, bitmap->width,
                            bitmap->height);
        platformStretchCopy(target, 0, 0, bitmap->width * 2 + 1, bitmap->height + 3, source, 0, 0,
                            bitmap->width, bitmap->height);
    }
    platformSelectBitmap(source, previous);
    platformDeleteBitmap(bitmap);
    return 0;
}
