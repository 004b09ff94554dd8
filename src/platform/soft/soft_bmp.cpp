// BMP decoding with the coverage of the desktop's own file loader, laid out by the one
// header check of every build (bmp_headers.h): any input either decodes or is refused
// without reading outside it.
#include "platform/bmp_headers.h"
#include "platform/soft/soft_internal.h"
#include "platform/soft/soft_surface.h"

namespace {
uint16_t read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A bit-field channel widened to 8 bits as round(v * 255 / max).
uint32_t channelValue(const BmpChannel& channel, uint32_t pixel) {
    if (channel.max == 0) {
        return 0;
    }
    uint64_t value = (pixel & channel.mask) >> channel.shift;
    return static_cast<uint32_t>((value * 510 + channel.max) / (2u * uint64_t{channel.max}));
}

uint64_t strideOf(const BmpLayout& layout) {
    return (static_cast<uint64_t>(layout.width) * layout.bitCount + 31) / 32 * 4;
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
                out[x] = (channelValue(layout.red, pixel) << 16) |
                         (channelValue(layout.green, pixel) << 8) |
                         channelValue(layout.blue, pixel);
            }
            break;
        case 24:
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* p = in + 3 * x;
                out[x] = (static_cast<uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
            }
            break;
        default:
            for (int32_t x = 0; x < width; ++x) {
                uint32_t pixel = read32(in + 4 * x);
                out[x] = plain32 ? pixel & 0xFFFFFF
                                 : (channelValue(layout.red, pixel) << 16) |
                                       (channelValue(layout.green, pixel) << 8) |
                                       channelValue(layout.blue, pixel);
            }
            break;
        }
    }
}

// RLE8 and RLE4, bottom-up. Pixels the codes skip stay black; runs past the right
// edge are cut; the data may end early, and what was decoded by then is kept.
void decodeRle(const uint8_t* data, size_t size, const BmpLayout& layout, PlatformBitmap* bitmap) {
    bool four = layout.compression == kBmpRle4;
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
    LoadFailure failure = readBmpHeaders(data, size, size, &layout);
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
    if (layout.compression == kBmpRle8 || layout.compression == kBmpRle4) {
        decodeRle(data, size, layout, bitmap);
    } else {
        decodeUncompressed(data, layout, bitmap);
    }
    return bitmap;
}
