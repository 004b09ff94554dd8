// Loading a BMP file from disk into a bitmap.
#include "platform/bmp_headers.h"
#include "platform/load_file.h"
#include "platform/soft/soft_surface.h"

PlatformBitmap* platformLoadBitmap(const char* path) {
    uint32_t size = 0;
    uint8_t* data = loadWholeFile(path, kLargestBmpFile, LoadFailure::NotBmp, &size);
    if (data == nullptr) {
        return nullptr;
    }
    PlatformBitmap* bitmap = softDecodeBmp(data, size);
    platformFree(data);
    return bitmap;
}
