// A look at a BMP file's headers before the system loads it.
#include "platform/win32/bitmap_file.h"

#include "platform/platform.h"

namespace {
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
// Uncompressed rows: plain, with bit-field masks, with alpha bit-field masks.
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionBitFields = 3;
constexpr uint32_t kCompressionAlphaBitFields = 6;

uint32_t read16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}

uint32_t read32(const uint8_t* p) {
    return read16(p) | (read16(p + 2) << 16);
}
} // namespace

LoadFailure bmpHeadersFailure(const uint8_t* head, uint32_t headSize, uint32_t fileSize) {
    if (headSize < kFileHeaderSize + kCoreHeaderSize || head[0] != 'B' || head[1] != 'M') {
        return LoadFailure::None;
    }
    uint32_t bitsOffset = read32(head + 10);
    uint32_t headerSize = read32(head + 14);
    const uint8_t* info = head + kFileHeaderSize;
    int64_t width = 0;
    int64_t height = 0;
    uint32_t bitCount = 0;
    uint32_t compression = kCompressionNone;
    if (headerSize == kCoreHeaderSize) {
        width = read16(info + 4);
        height = read16(info + 6);
        bitCount = read16(info + 10);
    } else if (headerSize >= kInfoHeaderSize && headSize >= kFileHeaderSize + kInfoHeaderSize) {
        width = static_cast<int32_t>(read32(info + 4));
        height = static_cast<int32_t>(read32(info + 8));
        bitCount = read16(info + 14);
        compression = read32(info + 16);
    } else {
        return LoadFailure::None;
    }
    // Odd sizes are left to the loader, which refuses them.
    if (width <= 0 || height == 0 || bitCount == 0 || bitCount > 32) {
        return LoadFailure::None;
    }
    uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
    if (width > kBmpMaxSide || rows > static_cast<uint64_t>(kBmpMaxSide) ||
        static_cast<uint64_t>(width) * rows * 4 > static_cast<uint64_t>(kBmpMaxPixelBytes)) {
        return LoadFailure::TooLarge;
    }
    // Run-length and embedded images carry their own lengths.
    if (compression != kCompressionNone && compression != kCompressionBitFields &&
        compression != kCompressionAlphaBitFields) {
        return LoadFailure::None;
    }
    uint64_t rowBits = static_cast<uint64_t>(width) * bitCount;
    uint64_t stride = (rowBits + 31) / 32 * 4;
    // The last row's padding may be missing, as many writers leave it out.
    uint64_t needed = uint64_t{bitsOffset} + stride * (rows - 1) + (rowBits + 7) / 8;
    return needed <= fileSize ? LoadFailure::None : LoadFailure::Truncated;
}

LoadFailure bmpFileFailure(const char* path) {
    PlatformFile* file = platformOpenFile(path);
    if (file == nullptr) {
        return LoadFailure::Missing;
    }
    uint8_t head[kFileHeaderSize + kInfoHeaderSize] = {};
    uint32_t fileSize = 0;
    uint32_t got = 0;
    bool read =
        platformFileSize(file, &fileSize) && platformReadFile(file, head, sizeof(head), &got);
    platformCloseFile(file);
    return read ? bmpHeadersFailure(head, got, fileSize) : LoadFailure::Unreadable;
}

bool bmpHeadersAcceptable(const uint8_t* head, uint32_t headSize, uint32_t fileSize) {
    return bmpHeadersFailure(head, headSize, fileSize) == LoadFailure::None;
}

bool bmpFileAcceptable(const char* path) {
    LoadFailure failure = bmpFileFailure(path);
    // The loader reports a file it cannot open or read itself.
    return failure != LoadFailure::TooLarge && failure != LoadFailure::Truncated;
}
