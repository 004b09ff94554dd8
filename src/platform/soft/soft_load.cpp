// Loading a BMP file from disk into a bitmap.
#include "platform/load_file.h"
#include "platform/soft/soft_surface.h"

namespace {
// Larger files cannot hold a bitmap within the size limits (plus headers and palette).
constexpr uint32_t kMaxBmpFileSize = static_cast<uint32_t>(kSoftMaxPixelBytes) + (1u << 20);
} // namespace

PlatformBitmap* platformLoadBitmap(const char* path) {
    uint32_t size = 0;
    uint8_t* data = loadWholeFile(path, kMaxBmpFileSize, LoadFailure::NotBmp, &size);
    if (data == nullptr) {
        return nullptr;
    }
    PlatformBitmap* bitmap = softDecodeBmp(data, size);
    platformFree(data);
    return bitmap;
}
