#include "platform/sdl/wave_chunks.h"

#include "platform/load_file.h"

#include <cstring>

namespace {

constexpr size_t kChunkHeader = 8;

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

// Where the first chunk begins: the loader takes a file with its RIFF header ("RIFF",
// length, "WAVE") or, like some writers leave it, with only "WAVE" before the first
// chunk. 0 for anything else.
size_t firstChunk(const uint8_t* data, size_t size) {
    if (size >= 12 && memcmp(data, "RIFF", 4) == 0) {
        return 12;
    }
    if (size >= 4 && memcmp(data, "WAVE", 4) == 0) {
        return 4;
    }
    return 0;
}

// The encodings the sound library decodes: PCM, MS ADPCM, IEEE float, A-law, mu-law,
// IMA ADPCM.
bool decodable(uint32_t tag) {
    return tag == 1 || tag == 2 || tag == 3 || tag == 6 || tag == 7 || tag == 0x11;
}

} // namespace

void clampWaveChunks(uint8_t* data, size_t size) {
    size_t offset = firstChunk(data, size);
    if (offset == 0) {
        return;
    }
    if (offset == 12) {
        clampLength(data + 4, size - 8);
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

namespace {
constexpr uint32_t kLargestWave = 512u << 20;
} // namespace

uint8_t* readWaveFile(const char* path, uint32_t* size) {
    return loadWholeFile(path, kLargestWave, LoadFailure::NotWave, size);
}

LoadFailure waveFailure(const uint8_t* data, size_t size) {
    size_t offset = firstChunk(data, size);
    if (offset == 0) {
        return LoadFailure::NotWave;
    }
    bool format = false;
    bool samples = false;
    uint32_t tag = 0;
    while (size - offset >= kChunkHeader) {
        const uint8_t* chunk = data + offset;
        size_t available = size - offset - kChunkHeader;
        size_t length = readLength(chunk + 4);
        // The loader takes the first fmt chunk and stops at the first data chunk.
        if (memcmp(chunk, "fmt ", 4) == 0 && !format) {
            if (length < 16 || available < 16) {
                return LoadFailure::Truncated;
            }
            format = true;
            tag = chunk[8] | uint32_t(chunk[9]) << 8;
            // The extensible header names the encoding in the first bytes of its GUID.
            if (tag == 0xFFFE && length >= 40 && available >= 40) {
                tag = chunk[32] | uint32_t(chunk[33]) << 8;
            }
        } else if (memcmp(chunk, "data", 4) == 0) {
            samples = true;
            break;
        }
        size_t padded = length + (length & 1);
        if (padded >= available) {
            break;
        }
        offset += kChunkHeader + padded;
    }
    if (!format) {
        return LoadFailure::NotWave;
    }
    if (!decodable(tag)) {
        return LoadFailure::UnsupportedCompression;
    }
    return samples ? LoadFailure::None : LoadFailure::Truncated;
}

LoadFailure waveFileFailure(const char* path) {
    uint32_t size = 0;
    uint8_t* head = loadWholeFile(path, kLargestWave, LoadFailure::NotWave, &size, 1u << 20);
    if (head == nullptr) {
        return platformLoadFailure();
    }
    clampWaveChunks(head, size);
    LoadFailure failure = waveFailure(head, size);
    platformFree(head);
    platformNoteLoadFailure(failure);
    return failure;
}
