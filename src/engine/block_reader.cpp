// Finds one numbered block in the script file and returns its content.
#include "engine/engine.h"

#include <cstring>

namespace {

constexpr uint32_t kMaxBlockDigits = 7;
// Reads start small, since most blocks are short, and grow for long scans.
constexpr uint32_t kFirstChunk = 512;
constexpr uint32_t kLargestChunk = 64 * 1024;
constexpr uint32_t kFirstOutputCapacity = 256;
// Offsets are 32-bit signed: a larger file could not be addressed without wrapping.
constexpr uint32_t kLargestScript = 0x7FFFFFFFu;

struct GrowingText {
    char* bytes;
    uint32_t length;
    uint32_t capacity;
    uint32_t limit; // the file's size + 1: a block can never be longer
};

bool reserveText(GrowingText* text, uint32_t extra) {
    uint32_t needed = text->length + extra + 1;
    if (needed <= text->capacity) {
        return true;
    }
    uint32_t capacity = text->capacity;
    while (capacity < needed) {
        capacity = capacity > text->limit / 2 ? text->limit : capacity * 2;
    }
    char* grown = static_cast<char*>(platformResize(text->bytes, capacity, false));
    if (grown == nullptr) {
        return false;
    }
    text->bytes = grown;
    text->capacity = capacity;
    return true;
}

bool appendBytes(GrowingText* text, const char* bytes, uint32_t count) {
    if (!reserveText(text, count)) {
        return false;
    }
    memcpy(text->bytes + text->length, bytes, count);
    text->length += count;
    return true;
}

struct BlockScan {
    int32_t wanted;
    bool anyNumber; // every completed number opens the block
    bool readingNumber;
    bool inBlock;
    bool closed;
    bool outOfMemory;
    uint32_t digitCount;
    uint32_t numberValue;
    GrowingText output;
    // Only kept when the caller asks where the block stands.
    uint32_t chunkOffset; // the file offset of the chunk's first byte
    BlockPlace place;
};

// Handles one chunk. Returns how many bytes were consumed: all of them unless
// the block closed, in which case the count ends just past the closing brace.
// kPlace: the block's place in the file is kept as well; without it the scan
// does no more work than finding the block takes.
template <bool kPlace> uint32_t scanChunk(BlockScan* scan, const char* chunk, uint32_t count) {
    uint32_t i = 0;
    while (i < count) {
        if (scan->inBlock) {
            const char* close = static_cast<const char*>(memchr(chunk + i, '}', count - i));
            uint32_t end = close == nullptr ? count : static_cast<uint32_t>(close - chunk);
            if (!appendBytes(&scan->output, chunk + i, end - i)) {
                scan->outOfMemory = true;
                return count;
            }
            if (close == nullptr) {
                return count;
            }
            scan->closed = true;
            return end + 1;
        }
        if (!scan->readingNumber) {
            const char* open = static_cast<const char*>(memchr(chunk + i, '{', count - i));
            if (open == nullptr) {
                return count;
            }
            i = static_cast<uint32_t>(open - chunk) + 1;
            if (kPlace) {
                scan->place.open = scan->chunkOffset + i - 1;
            }
            scan->readingNumber = true;
            scan->digitCount = 0;
            scan->numberValue = 0;
            continue;
        }
        char c = chunk[i];
        if (c == '{') {
            if (kPlace) {
                scan->place.open = scan->chunkOffset + i;
            }
            scan->digitCount = 0;
            scan->numberValue = 0;
            ++i;
            continue;
        }
        if (isDecimalDigit(c) && scan->digitCount < kMaxBlockDigits) {
            scan->numberValue = scan->numberValue * 10 + static_cast<uint32_t>(c - '0');
            ++scan->digitCount;
            ++i;
            continue;
        }
        // The byte that ends the number is handled again, as content when the number matched.
        scan->readingNumber = false;
        if (scan->anyNumber ||
            (scan->wanted >= 0 && scan->numberValue == static_cast<uint32_t>(scan->wanted))) {
            scan->inBlock = true;
            if (kPlace) {
                scan->place.number = static_cast<int32_t>(scan->numberValue);
                scan->place.digits = scan->digitCount;
                scan->place.contentStart = scan->chunkOffset + i;
            }
            if (!appendBytes(&scan->output, &c, 1)) {
                scan->outOfMemory = true;
                return count;
            }
            ++i;
        }
    }
    return count;
}

} // namespace

namespace {

char* scanFile(BlockScan* scan, PlatformFile* file, int32_t* resumeOffset, BlockPlace* place) {
    uint32_t size = 0;
    if (!platformFileSize(file, &size) || size > kLargestScript || *resumeOffset < 0) {
        return nullptr;
    }
    uint32_t offset = static_cast<uint32_t>(*resumeOffset);
    if (!platformSeekFile(file, offset)) {
        return nullptr;
    }
    scan->output.limit = size + 1;
    scan->output.capacity = size + 1 < kFirstOutputCapacity ? size + 1 : kFirstOutputCapacity;
    scan->output.bytes = static_cast<char*>(platformAllocate(scan->output.capacity, false));
    if (scan->output.bytes == nullptr) {
        return nullptr;
    }

    char chunk[kLargestChunk];
    uint32_t chunkSize = kFirstChunk;
    uint32_t got = 0;
    while (!scan->closed && !scan->outOfMemory && platformReadFile(file, chunk, chunkSize, &got) &&
           got > 0) {
        scan->chunkOffset = offset;
        uint32_t used = place == nullptr ? scanChunk<false>(scan, chunk, got)
                                         : scanChunk<true>(scan, chunk, got);
        if (scan->closed) {
            *resumeOffset = static_cast<int32_t>(offset + used);
        }
        offset += got;
        if (chunkSize < kLargestChunk) {
            chunkSize *= 2;
        }
    }
    if (scan->outOfMemory || !scan->inBlock || scan->output.length == 0) {
        platformFree(scan->output.bytes);
        return nullptr;
    }
    scan->output.bytes[scan->output.length] = '\0';
    if (place != nullptr) {
        *place = scan->place;
        place->closed = scan->closed;
        // The content is every byte from its start up to the brace or to where reading ended.
        place->contentEnd = place->contentStart + scan->output.length;
    }
    return scan->output.bytes;
}

} // namespace

char* readBlock(int32_t wanted, PlatformFile* file, int32_t* resumeOffset, BlockPlace* place) {
    BlockScan scan = {};
    scan.wanted = wanted;
    return scanFile(&scan, file, resumeOffset, place);
}

char* readNextBlock(PlatformFile* file, int32_t* resumeOffset, BlockPlace* place) {
    BlockScan scan = {};
    scan.anyNumber = true;
    return scanFile(&scan, file, resumeOffset, place);
}
