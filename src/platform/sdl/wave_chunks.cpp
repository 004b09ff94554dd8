#include "platform/sdl/wave_chunks.h"

#include <cstring>

namespace {

uint32_t readLength(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

void clampLength(uint8_t* at, size_t available) {
    if (readLength(at) <= available) {
        return;
    }
    auto length = static_cast<uint32_t>(available);
    at[0] = uint8_t(length);
    at[1] = uint8_t(length >> 8);
    at[2] = uint8_t(length >> 16);
    at[3] = uint8_t(length >> 24);
}

} // namespace

void clampWaveChunks(uint8_t* data, size_t size) {
    constexpr size_t kChunkHeader = 8;
    // The loader takes a file with its RIFF header ("RIFF", length, "WAVE") or, like
    // some writers leave it, with only "WAVE" before the first chunk.
    size_t offset = 0;
    if (size >= 12 && memcmp(data, "RIFF", 4) == 0) {
        clampLength(data + 4, size - 8);
        offset = 12;
    } else if (size >= 4 && memcmp(data, "WAVE", 4) == 0) {
        offset = 4;
    } else {
        return;
    }
    while (size - offset >= kChunkHeader) {
        size_t available = size - offset - kChunkHeader;
        clampLength(data + offset + 4, available);
        size_t length = readLength(data + offset + 4);
        // Chunks are padded to an even length.
        size_t padded = length + (length & 1);
        if (padded >= available) {
            return;
        }
        offset += kChunkHeader + padded;
    }
}
