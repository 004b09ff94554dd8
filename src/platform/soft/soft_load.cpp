// Loading a BMP file from disk into a bitmap.
#include "platform/soft/soft_surface.h"

namespace {
// Larger files cannot hold a bitmap within the size limits (plus headers and palette).
constexpr uint32_t kMaxBmpFileSize = static_cast<uint32_t>(kSoftMaxPixelBytes) + (1u << 20);
} // namespace

PlatformBitmap* platformLoadBitmap(const char* path) {
    PlatformFile* file = platformOpenFile(path);
    if (file == nullptr) {
        return nullptr;
    }
    uint32_t size = 0;
    uint8_t* data = nullptr;
    bool read = platformFileSize(file, &size) && size > 0 && size <= kMaxBmpFileSize &&
                (data = static_cast<uint8_t*>(platformAllocate(size, false))) != nullptr;
    uint32_t filled = 0;
    while (read && filled < size) {
        uint32_t got = 0;
        if (!platformReadFile(file, data + filled, size - filled, &got) || got == 0) {
            read = false;
        }
        filled += got;
    }
    platformCloseFile(file);
    PlatformBitmap* bitmap = read ? softDecodeBmp(data, size) : nullptr;
    platformFree(data);
    return bitmap;
}
