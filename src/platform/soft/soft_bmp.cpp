// BMP decoding with the coverage of the desktop's own file loader: core (OS/2 v1),
// info, v2/v3 mask, OS/2 v2, v4 and v5 headers; 1, 2, 4, 8, 16, 24 and 32 bits;
// palettes, bit fields, RLE4 and RLE8. Every header value is checked before it is
// used, so any input either decodes or is refused without reading outside it.
#include "platform/soft/soft_internal.h"
#include "platform/soft/soft_surface.h"

namespace {
constexpr uint32_t kFileHeaderSize = 14;

enum : uint32_t {
    kCompressionRgb = 0,
    kCompressionRle8 = 1,
    kCompressionRle4 = 2,
    kCompressionBitfields = 3,
    kCompressionJpeg = 4,
    kCompressionPng = 5,
    kCompressionAlphaBitfields = 6,
};

uint16_t read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// One colour channel of a bit-field pixel, widened to 8 bits as round(v * 255 / max).
struct Channel {
    uint32_t mask;
    uint32_t shift;
    uint32_t max; // 0: the channel is absent and reads as 0
};

Channel channelOf(uint32_t mask) {
    Channel channel = {mask, 0, 0};
    if (mask == 0) {
        return channel;
    }
    while (((mask >> channel.shift) & 1u) == 0) {
        ++channel.shift;
    }
    channel.max = mask >> channel.shift;
    return channel;
}

uint32_t channelValue(const Channel& channel, uint32_t pixel) {
    if (channel.max == 0) {
        return 0;
    }
    uint64_t value = (pixel & channel.mask) >> channel.shift;
    return static_cast<uint32_t>((value * 510 + channel.max) / (2u * uint64_t{channel.max}));
}

// What the headers say, checked.
struct BmpLayout {
    int32_t width;
    int32_t height; // rows, positive
    bool topDown;
    uint32_t bitCount;
    uint32_t compression;
    Channel red, green, blue;
    uint32_t palette[256]; // unset entries are black
    uint32_t bitsOffset;
};

LoadFailure readHeaders(const uint8_t* data, size_t size, BmpLayout* layout) {
    if (size < 2 || data[0] != 'B' || data[1] != 'M') {
        return LoadFailure::NotBmp;
    }
    if (size < kFileHeaderSize + 4) {
        return LoadFailure::Truncated;
    }
    // The file-size field is ignored: writers often get it wrong.
    uint32_t bitsOffset = read32(data + 10);
    uint32_t headerSize = read32(data + kFileHeaderSize);
    bool core = headerSize == 12;
    bool os2v2 = headerSize == 16 || headerSize == 64;
    if (!core && !os2v2 && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
        headerSize != 108 && headerSize != 124) {
        return LoadFailure::NotBmp;
    }
    if (size < kFileHeaderSize + static_cast<size_t>(headerSize)) {
        return LoadFailure::Truncated;
    }
    const uint8_t* header = data + kFileHeaderSize;
    int64_t width, height;
    uint32_t planes, compression = kCompressionRgb, colorsUsed = 0;
    if (core) {
        width = read16(header + 4);
        height = read16(header + 6);
        planes = read16(header + 8);
        layout->bitCount = read16(header + 10);
    } else {
        width = static_cast<int32_t>(read32(header + 4));
        height = static_cast<int32_t>(read32(header + 8));
        planes = read16(header + 12);
        layout->bitCount = read16(header + 14);
        if (headerSize >= 40) {
            compression = read32(header + 16);
            colorsUsed = read32(header + 32);
        }
    }
    // OS/2 v2 gives 3 and 4 other meanings (Huffman 1-D, RLE24); neither is supported.
    if (os2v2 && compression != kCompressionRgb && compression != kCompressionRle8 &&
        compression != kCompressionRle4) {
        return LoadFailure::UnsupportedCompression;
    }
    layout->topDown = height < 0;
    if (layout->topDown) {
        height = -height;
    }
    if (planes != 1 || width < 1 || height < 1) {
        return LoadFailure::NotBmp;
    }
    if (!softBitmapSizeAllowed(width, height)) {
        return LoadFailure::TooLarge;
    }
    layout->width = static_cast<int32_t>(width);
    layout->height = static_cast<int32_t>(height);
    layout->compression = compression;
    uint32_t bits = layout->bitCount;
    bool validBits =
        bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    bool masked = compression == kCompressionBitfields || compression == kCompressionAlphaBitfields;
    bool validCompression = (compression == kCompressionRgb && validBits) ||
                            (compression == kCompressionRle8 && bits == 8 && !layout->topDown) ||
                            (compression == kCompressionRle4 && bits == 4 && !layout->topDown) ||
                            (masked && (bits == 16 || bits == 32));
    if (!validBits && compression == kCompressionRgb) {
        return LoadFailure::NotBmp;
    }
    if (!validCompression) {
        return LoadFailure::UnsupportedCompression; // also JPEG and PNG streams, and RLE top-down
    }

    // Masks: inside the larger headers, else right after a 40-byte one.
    size_t afterHeader = kFileHeaderSize + static_cast<size_t>(headerSize);
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bits == 32) {
        masks[0] = 0xFF0000;
        masks[1] = 0xFF00;
        masks[2] = 0xFF;
    }
    if (masked) {
        const uint8_t* at = header + 40;
        if (headerSize == 40) {
            size_t maskBytes = compression == kCompressionAlphaBitfields ? 16 : 12;
            if (size < afterHeader + maskBytes) {
                return LoadFailure::Truncated;
            }
            at = data + afterHeader;
            afterHeader += maskBytes;
        }
        for (int k = 0; k < 3; ++k) {
            masks[k] = read32(at + 4 * k);
        }
    }
    layout->red = channelOf(masks[0]);
    layout->green = channelOf(masks[1]);
    layout->blue = channelOf(masks[2]);

    // Palette: as many entries as the depth can index, fewer when the header says so
    // or the bits start earlier; entries past the depth's reach are never used.
    for (uint32_t& entry : layout->palette) {
        entry = kSoftBlack;
    }
    if (bits <= 8) {
        uint32_t entries = 1u << bits;
        if (colorsUsed != 0 && colorsUsed < entries) {
            entries = colorsUsed;
        }
        size_t entrySize = core ? 3 : 4;
        size_t room = bitsOffset > afterHeader ? (bitsOffset - afterHeader) / entrySize : 0;
        if (room < entries) {
            entries = static_cast<uint32_t>(room);
        }
        if (afterHeader + entries * entrySize > size) {
            return LoadFailure::Truncated;
        }
        for (uint32_t i = 0; i < entries; ++i) {
            const uint8_t* p = data + afterHeader + i * entrySize;
            layout->palette[i] = softPixelOfRgb(p[2], p[1], p[0]);
        }
    }
    if (bitsOffset < afterHeader) {
        return LoadFailure::NotBmp;
    }
    if (bitsOffset >= size) {
        return LoadFailure::Truncated;
    }
    layout->bitsOffset = bitsOffset;
    return LoadFailure::None;
}

uint64_t strideOf(const BmpLayout& layout) {
    return (static_cast<uint64_t>(layout.width) * layout.bitCount + 31) / 32 * 4;
}

// Whether the file holds every row; the last row may lack its padding.
bool bitsPresent(size_t size, const BmpLayout& layout) {
    uint64_t lastRow = (static_cast<uint64_t>(layout.width) * layout.bitCount + 7) / 8;
    return strideOf(layout) * static_cast<uint64_t>(layout.height - 1) + lastRow <=
           size - layout.bitsOffset;
}

void decodeUncompressed(const uint8_t* data, const BmpLayout& layout, PlatformBitmap* bitmap) {
    uint64_t stride = strideOf(layout);
    const uint8_t* bits = data + layout.bitsOffset;
    bool plain32 = layout.bitCount == 32 && layout.red.mask == 0xFF0000 &&
                   layout.green.mask == 0xFF00 && layout.blue.mask == 0xFF;
    for (int32_t r = 0; r < layout.height; ++r) {
        const uint8_t* in = bits + static_cast<size_t>(stride) * static_cast<size_t>(r);
        uint32_t* out = softRow(bitmap, layout.topDown ? r : layout.height - 1 - r);
        int32_t width = layout.width;
        switch (layout.bitCount) {
        case 1:
        case 2:
        case 4:
        case 8: {
            uint32_t bitsPer = layout.bitCount;
            uint32_t perByte = 8 / bitsPer;
            uint32_t mask = (1u << bitsPer) - 1;
            for (int32_t x = 0; x < width; ++x) {
                uint32_t byte = in[static_cast<uint32_t>(x) / perByte];
                uint32_t shift = 8 - bitsPer * (static_cast<uint32_t>(x) % perByte + 1);
                out[x] = layout.palette[(byte >> shift) & mask];
            }
            break;
        }
        case 16:
            for (int32_t x = 0; x < width; ++x) {
                uint32_t pixel = read16(in + 2 * x);
                out[x] = softPixelOfRgb(channelValue(layout.red, pixel),
                                        channelValue(layout.green, pixel),
                                        channelValue(layout.blue, pixel));
            }
            break;
        case 24:
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* p = in + 3 * x;
                out[x] = softPixelOfRgb(p[2], p[1], p[0]);
            }
            break;
        default:
            for (int32_t x = 0; x < width; ++x) {
                uint32_t pixel = read32(in + 4 * x);
                out[x] = plain32 ? softPixelOfRgb((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF,
                                                  pixel & 0xFF)
                                 : softPixelOfRgb(channelValue(layout.red, pixel),
                                                  channelValue(layout.green, pixel),
                                                  channelValue(layout.blue, pixel));
            }
            break;
        }
    }
}

// RLE8 and RLE4, bottom-up. Pixels the codes skip stay black; runs past the right
// edge are cut; the data may end early, and what was decoded by then is kept.
void decodeRle(const uint8_t* data, size_t size, const BmpLayout& layout, PlatformBitmap* bitmap) {
    bool four = layout.compression == kCompressionRle4;
    const uint8_t* at = data + layout.bitsOffset;
    const uint8_t* end = data + size;
    int64_t x = 0, y = 0;
    auto put = [&](uint32_t index) {
        if (x < layout.width && y < layout.height) {
            softRow(bitmap, layout.height - 1 - y)[x] = layout.palette[index];
        }
        ++x;
    };
    while (end - at >= 2 && y < layout.height) {
        uint32_t count = at[0];
        uint32_t value = at[1];
        at += 2;
        if (count > 0) {
            for (uint32_t i = 0; i < count && x < layout.width; ++i) {
                put(four ? (i % 2 == 0 ? value >> 4 : value & 15) : value);
            }
            continue;
        }
        if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (end - at < 2) {
                break;
            }
            x += at[0];
            y += at[1];
            at += 2;
        } else {
            size_t bytes = four ? (value + 1) / 2 : value;
            size_t padded = (bytes + 1) & ~size_t{1};
            if (static_cast<size_t>(end - at) < bytes) {
                break;
            }
            for (uint32_t i = 0; i < value && x < layout.width; ++i) {
                put(four ? (i % 2 == 0 ? at[i / 2] >> 4 : at[i / 2] & 15) : at[i]);
            }
            at += static_cast<size_t>(end - at) < padded ? bytes : padded;
        }
    }
}
} // namespace

PlatformBitmap* softDecodeBmp(const uint8_t* data, size_t size) {
    if (data == nullptr) {
        platformNoteLoadFailure(LoadFailure::Unreadable);
        return nullptr;
    }
    BmpLayout layout = {};
    LoadFailure failure = readHeaders(data, size, &layout);
    // Uncompressed bits must all be present before anything is allocated.
    bool compressed =
        layout.compression == kCompressionRle8 || layout.compression == kCompressionRle4;
    if (failure == LoadFailure::None && !compressed && !bitsPresent(size, layout)) {
        failure = LoadFailure::Truncated;
    }
    PlatformBitmap* bitmap = nullptr;
    if (failure == LoadFailure::None) {
        bitmap = softCreateBitmap(layout.width, layout.height);
        // Within the size limits, only memory can be wanting.
        failure = bitmap == nullptr ? LoadFailure::TooLarge : LoadFailure::None;
    }
    platformNoteLoadFailure(failure);
    if (bitmap == nullptr) {
        return nullptr;
    }
    if (compressed) {
        decodeRle(data, size, layout, bitmap);
    } else {
        decodeUncompressed(data, layout, bitmap);
    }
    return bitmap;
}
