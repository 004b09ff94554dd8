// libFuzzer harness for the BMP decoder: any input must decode or be refused
// without reading or writing out of bounds. What decodes is then drawn through
// the clipped copies and both stretch modes, with rectangles read from the last
// 32 bytes of the input, so odd sizes and coordinates reach those too. The smooth
// stretch runs on the fastest path and on the portable one.
#include "format/story_format.h"
#include "platform/soft/soft_stretch.h"
#include "platform/soft/soft_surface.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// The harness has no window: copies never target a screen.
void softPresent(PlatformWindow*, int32_t, int32_t, int32_t, int32_t, const PlatformBitmap*,
                 int32_t, int32_t) {}
void platformClientSize(PlatformWindow*, int32_t* width, int32_t* height) {
    *width = 0;
    *height = 0;
}

namespace {
PlatformSurface* target = nullptr;
PlatformSurface* source = nullptr;

void makeSurfaces() {
    target = platformCreateSurface(nullptr);
    source = platformCreateSurface(nullptr);
    platformSelectBitmap(target, platformCreateBitmap(target, 61, 37));
}

void draw(const PlatformBitmap* bitmap, const uint8_t* data, size_t size) {
    int32_t r[8] = {0, 0, 61, 37, 0, 0, bitmap->width, bitmap->height};
    if (size >= sizeof r) {
        memcpy(r, data + size - sizeof r, sizeof r);
    }
    platformCopy(target, r[0], r[1], r[2], r[3], source, r[4], r[5]);
    platformCopyKeyed(target, r[0], r[1], kGlyphWidth, kGlyphHeight, source, r[4], r[5],
                      kGlyphWidth, kGlyphHeight, kTransparentColor);
    platformCopyKeyed(target, r[0], r[1], r[2], r[3], source, r[4], r[5], r[6], r[7],
                      kColorMagenta);
    platformStretchCopy(target, r[0], r[1], r[2], r[3], source, r[4], r[5], r[6], r[7]);
    softStretchPath = SoftStretchPath::Portable;
    platformStretchCopy(target, r[0], r[1], r[2], r[3], source, r[4], r[5], r[6], r[7]);
    softStretchPath = SoftStretchPath::Fastest;
    platformStretchCopy(target, 0, 0, 61, 37, source, 0, 0, bitmap->width, bitmap->height);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PlatformBitmap* bitmap = softDecodeBmp(data, size);
    if (bitmap == nullptr) {
        return 0;
    }
    if (target == nullptr) {
        makeSurfaces();
    }
    PlatformBitmap* previous = platformSelectBitmap(source, bitmap);
    // Only small pictures are drawn, so big ones do not slow the search down.
    if (static_cast<int64_t>(bitmap->width) * bitmap->height <= 1 << 13) {
        draw(bitmap, data, size);
    }
    platformSelectBitmap(source, previous);
    platformDeleteBitmap(bitmap);
    return 0;
}
