// Loading a BMP file from disk into a bitmap.
#include "platform/soft/soft_surface.h"

namespace {
// Larger files cannot hold a bitmap within the size limits (plus headers and palette).
constexpr uint32_t kMaxBmpFileSize = static_cast<uint32_t>(kSoftMaxPixelBytes) + (1u << 20);
} // namespace

namespace {

// The whole file in a new buffer; none, with the reason noted, when it cannot be had.
uint8_t* readBmpFile(const char* path, uint32_t* size) {
    PlatformFile* file = platformOpenFile(path);
    if (file == nullptr) {
        platformNoteLoadFailure(LoadFailure::Missing);
        return nullptr;
    }
    LoadFailure failure = LoadFailure::None;
    uint8_t* data = nullptr;
    if (!platformFileSize(file, size)) {
        failure = LoadFailure::Unreadable;
    } else if (*size == 0) {
        failure = LoadFailure::NotBmp;
    } else if (*size > kMaxBmpFileSize) {
        failure = LoadFailure::TooLarge;
    } else if ((data = static_cast<uint8_t*>(platformAllocate(*size, false))) == nullptr) {
        failure = LoadFailure::TooLarge;
    }
    uint32_t filled = 0;
    while (data != nullptr && filled < *size) {
        uint32_t got = 0;
        if (!platformReadFile(file, data + filled, *size - filled, &got) || got == 0) {
            failure = LoadFailure::Unreadable;
            platformFree(data);
            data = nullptr;
        }
        filled += got;
    }
    platformCloseFile(file);
    if (data == nullptr) {
        platformNoteLoadFailure(failure);
    }
    return data;
}

} // namespace

PlatformBitmap* platformLoadBitmap(const char* path) {
    uint32_t size = 0;
    uint8_t* data = readBmpFile(path, &size);
    if (data == nullptr) {
        return nullptr;
    }
    PlatformBitmap* bitmap = softDecodeBmp(data, size);
    platformFree(data);
    return bitmap;
}
