// Every header value is checked before it is used, so any input is either laid out
// for decoding or refused without reading outside it.
#include "platform/bmp_headers.h"

namespace {
constexpr uint32_t kFileHeaderSize = 14;

uint16_t read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

BmpChannel channelOf(uint32_t mask) {
    BmpChannel channel = {mask, 0, 0};
    if (mask == 0) {
        return channel;
    }
    while (((mask >> channel.shift) & 1u) == 0) {
        ++channel.shift;
    }
    channel.max = mask >> channel.shift;
    return channel;
}

// The header after the file header, as far as the layout needs it.
struct Header {
    const uint8_t* at;
    uint32_t size;
    bool core; // OS/2 v1: 16-bit sizes, 3-byte palette entries
    bool os2v2;
    uint32_t colorsUsed;
};

// The header's size and the picture's size, depth and coding.
LoadFailure readHeader(const uint8_t* head, size_t headSize, Header* header, BmpLayout* layout) {
    header->size = read32(head + kFileHeaderSize);
    header->core = header->size == 12;
    header->os2v2 = header->size == 16 || header->size == 64;
    uint32_t size = header->size;
    if (!header->core && !header->os2v2 && size != 40 && size != 52 && size != 56 && size != 108 &&
        size != 124) {
        return LoadFailure::NotBmp;
    }
    if (headSize < kFileHeaderSize + static_cast<size_t>(size)) {
        return LoadFailure::Truncated;
    }
    const uint8_t* at = header->at = head + kFileHeaderSize;
    int64_t width, height;
    uint32_t planes;
    layout->compression = kBmpRgb;
    header->colorsUsed = 0;
    if (header->core) {
        width = read16(at + 4);
        height = read16(at + 6);
        planes = read16(at + 8);
        layout->bitCount = read16(at + 10);
    } else {
        width = static_cast<int32_t>(read32(at + 4));
        height = static_cast<int32_t>(read32(at + 8));
        planes = read16(at + 12);
        layout->bitCount = read16(at + 14);
        if (size >= 40) {
            layout->compression = read32(at + 16);
            header->colorsUsed = read32(at + 32);
        }
    }
    // OS/2 v2 gives 3 and 4 other meanings (Huffman 1-D, RLE24); neither is supported.
    if (header->os2v2 && layout->compression != kBmpRgb && layout->compression != kBmpRle8 &&
        layout->compression != kBmpRle4) {
        return LoadFailure::UnsupportedCompression;
    }
    layout->topDown = height < 0;
    height = layout->topDown ? -height : height;
    if (planes != 1 || width < 1 || height < 1) {
        return LoadFailure::NotBmp;
    }
    if (!bitmapSizeAllowed(width, height)) {
        return LoadFailure::TooLarge;
    }
    layout->width = static_cast<int32_t>(width);
    layout->height = static_cast<int32_t>(height);
    return LoadFailure::None;
}

bool masked(const BmpLayout& layout) {
    return layout.compression == kBmpBitfields || layout.compression == kBmpAlphaBitfields;
}

LoadFailure checkCoding(const BmpLayout& layout) {
    uint32_t bits = layout.bitCount;
    bool validBits =
        bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    uint32_t compression = layout.compression;
    bool validCompression = (compression == kBmpRgb && validBits) ||
                            (compression == kBmpRle8 && bits == 8 && !layout.topDown) ||
                            (compression == kBmpRle4 && bits == 4 && !layout.topDown) ||
                            (masked(layout) && (bits == 16 || bits == 32));
    if (!validBits && compression == kBmpRgb) {
        return LoadFailure::NotBmp;
    }
    if (!validCompression) {
        return LoadFailure::UnsupportedCompression; // also JPEG and PNG streams, and RLE top-down
    }
    return LoadFailure::None;
}

// Masks: inside the larger headers, else right after a 40-byte one, which they then
// follow; `afterHeader` moves past them.
LoadFailure readMasks(const uint8_t* head, size_t headSize, const Header& header,
                      size_t* afterHeader, BmpLayout* layout) {
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (layout->bitCount == 32) {
        masks[0] = 0xFF0000;
        masks[1] = 0xFF00;
        masks[2] = 0xFF;
    }
    if (masked(*layout)) {
        const uint8_t* at = header.at + 40;
        if (header.size == 40) {
            size_t maskBytes = layout->compression == kBmpAlphaBitfields ? 16 : 12;
            if (headSize < *afterHeader + maskBytes) {
                return LoadFailure::Truncated;
            }
            at = head + *afterHeader;
            *afterHeader += maskBytes;
        }
        for (int k = 0; k < 3; ++k) {
            masks[k] = read32(at + 4 * k);
        }
    }
    layout->red = channelOf(masks[0]);
    layout->green = channelOf(masks[1]);
    layout->blue = channelOf(masks[2]);
    return LoadFailure::None;
}

// Palette: as many entries as the depth can index, fewer when the header says so
// or the bits start earlier; entries past the depth's reach are never used.
LoadFailure readPalette(const uint8_t* head, size_t headSize, const Header& header,
                        size_t afterHeader, uint32_t bitsOffset, BmpLayout* layout) {
    for (uint32_t& entry : layout->palette) {
        entry = 0;
    }
    if (layout->bitCount > 8) {
        return LoadFailure::None;
    }
    uint32_t entries = 1u << layout->bitCount;
    if (header.colorsUsed != 0 && header.colorsUsed < entries) {
        entries = header.colorsUsed;
    }
    size_t entrySize = header.core ? 3 : 4;
    size_t room = bitsOffset > afterHeader ? (bitsOffset - afterHeader) / entrySize : 0;
    if (room < entries) {
        entries = static_cast<uint32_t>(room);
    }
    if (afterHeader + entries * entrySize > headSize) {
        return LoadFailure::Truncated;
    }
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* p = head + afterHeader + i * entrySize;
        layout->palette[i] = (static_cast<uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
    }
    return LoadFailure::None;
}

// Whether the file holds every uncompressed row; the last row may lack its padding.
bool rowsPresent(uint64_t fileSize, const BmpLayout& layout) {
    if (layout.compression == kBmpRle8 || layout.compression == kBmpRle4) {
        return true; // the codes carry their own lengths, and may end early
    }
    uint64_t rowBits = static_cast<uint64_t>(layout.width) * layout.bitCount;
    uint64_t stride = (rowBits + 31) / 32 * 4;
    return stride * static_cast<uint64_t>(layout.height - 1) + (rowBits + 7) / 8 <=
           fileSize - layout.bitsOffset;
}
} // namespace

LoadFailure readBmpHeaders(const uint8_t* head, size_t headSize, uint64_t fileSize,
                           BmpLayout* layout) {
    if (headSize < 2 || head[0] != 'B' || head[1] != 'M') {
        return LoadFailure::NotBmp;
    }
    if (headSize < kFileHeaderSize + 4) {
        return LoadFailure::Truncated;
    }
    // The file-size field is ignored: writers often get it wrong.
    uint32_t bitsOffset = read32(head + 10);
    Header header;
    LoadFailure failure = readHeader(head, headSize, &header, layout);
    if (failure == LoadFailure::None) {
        failure = checkCoding(*layout);
    }
    size_t afterHeader = kFileHeaderSize + static_cast<size_t>(header.size);
    if (failure == LoadFailure::None) {
        failure = readMasks(head, headSize, header, &afterHeader, layout);
    }
    if (failure == LoadFailure::None) {
        failure = readPalette(head, headSize, header, afterHeader, bitsOffset, layout);
    }
    if (failure != LoadFailure::None) {
        return failure;
    }
    if (bitsOffset < afterHeader) {
        return LoadFailure::NotBmp;
    }
    if (bitsOffset >= fileSize) {
        return LoadFailure::Truncated;
    }
    layout->bitsOffset = bitsOffset;
    return rowsPresent(fileSize, *layout) ? LoadFailure::None : LoadFailure::Truncated;
}
