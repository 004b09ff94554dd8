// The one header check of BMP files: the soft layer decodes by it, and the Windows
// backend checks a file by it before the system's loader sees the file, so every build
// takes and refuses the same files for the same reasons. Covers core (OS/2 v1), info,
// v2/v3 mask, OS/2 v2, v4 and v5 headers; 1, 2, 4, 8, 16, 24 and 32 bits; palettes, bit
// fields, RLE4 and RLE8.
#pragma once

#include "platform/bitmap_limits.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

// Larger files cannot hold a bitmap within the size limits (plus headers and palette).
constexpr uint32_t kLargestBmpFile = static_cast<uint32_t>(kBitmapMaxPixelBytes) + (1u << 20);

// The most of a file the check reads: file header, the largest header, masks, palette.
constexpr uint32_t kBmpHeadBytes = 14 + 124 + 16 + 256 * 4;

enum : uint32_t {
    kBmpRgb = 0,
    kBmpRle8 = 1,
    kBmpRle4 = 2,
    kBmpBitfields = 3,
    kBmpJpeg = 4,
    kBmpPng = 5,
    kBmpAlphaBitfields = 6,
};

// One colour channel of a bit-field pixel.
struct BmpChannel {
    uint32_t mask;
    uint32_t shift;
    uint32_t max; // 0: the channel is absent and reads as 0
};

// What the headers say, checked.
struct BmpLayout {
    int32_t width;
    int32_t height; // rows, positive
    bool topDown;
    uint32_t bitCount;
    uint32_t compression;
    BmpChannel red, green, blue;
    uint32_t palette[256]; // unset entries are black
    uint32_t bitsOffset;
};

// Why the BMP file of `fileSize` bytes whose first `headSize` bytes are `head` cannot be
// decoded, or None: not a BMP, a header cut short, a size beyond the limits, an
// unsupported coding, or uncompressed pixel rows the file does not hold (the last row
// may lack its padding). `head` holds the whole file, or at least its first
// kBmpHeadBytes. Reads nothing outside [head, head + headSize).
LoadFailure readBmpHeaders(const uint8_t* head, size_t headSize, uint64_t fileSize,
                           BmpLayout* layout);
