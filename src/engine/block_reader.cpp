// Finds one numbered block in the script file and returns its content.
// Runs of bytes that cannot change the reading are skipped with memchr: outside a
// block up to the next `{`, inside it up to the next `}`; only block numbers are
// read byte by byte.
#include "engine/engine.h"

#include <cstring>

namespace {

// A new window reads little at first, since most blocks are short, and more for long scans.
constexpr uint32_t kFirstRead = 512;

struct GrowingText {
    char* bytes;
    uint32_t length;
    uint32_t capacity;
    uint64_t limit; // the file's size + 1: a block is never longer, unless the file grew
};

bool appendBytes(GrowingText* text, const char* bytes, uint32_t count) {
    uint64_t needed = uint64_t{text->length} + count + 1;
    if (needed > text->capacity) {
        // The first piece is most often the whole block: it gets just its room.
        uint64_t capacity = text->bytes == nullptr ? needed : uint64_t{text->capacity} * 2;
        if (capacity > text->limit) {
            capacity = text->limit;
        }
        if (capacity < needed) {
            capacity = needed;
        }
        if (capacity > kLargestScriptSize + uint64_t{1}) {
            return false;
        }
        char* grown = static_cast<char*>(platformResize(text->bytes, capacity, false));
        if (grown == nullptr) {
            return false;
        }
        text->bytes = grown;
        text->capacity = static_cast<uint32_t>(capacity);
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

// Collects content from `from` up to the first `}` at or after `searchFrom`, or to the
// end of the chunk. Returns how many bytes of the chunk were consumed.
uint32_t takeContent(BlockScan* scan, const char* chunk, uint32_t from, uint32_t searchFrom,
                     uint32_t count) {
    const char* close =
        searchFrom < count
            ? static_cast<const char*>(memchr(chunk + searchFrom, '}', count - searchFrom))
            : nullptr;
    uint32_t end = close == nullptr ? count : static_cast<uint32_t>(close - chunk);
    if (!appendBytes(&scan->output, chunk + from, end - from)) {
        scan->outOfMemory = true;
        return count;
    }
    if (close == nullptr) {
        return count;
    }
    scan->closed = true;
    return end + 1;
}

// Handles one chunk. Returns how many bytes were consumed: all of them unless
// the block closed, in which case the count ends just past the closing brace.
// kPlace: the block's place in the file is kept as well; without it the scan
// does no more work than finding the block takes.
template <bool kPlace> uint32_t scanChunk(BlockScan* scan, const char* chunk, uint32_t count) {
    uint32_t i = 0;
    while (i < count) {
        if (scan->inBlock) {
            return takeContent(scan, chunk, i, i, count);
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
        if (isDecimalDigit(c) && scan->digitCount < static_cast<uint32_t>(kBlockNumberDigits)) {
            scan->numberValue = scan->numberValue * 10 + static_cast<uint32_t>(c - '0');
            ++scan->digitCount;
            ++i;
            continue;
        }
        // The byte that ends the number is looked at again: outside when the number does
        // not match, else as the first content byte, even when it is a `}`.
        scan->readingNumber = false;
        if (scan->anyNumber ||
            (scan->wanted >= 0 && scan->numberValue == static_cast<uint32_t>(scan->wanted))) {
            scan->inBlock = true;
            if (kPlace) {
                scan->place.number = static_cast<int32_t>(scan->numberValue);
                scan->place.digits = scan->digitCount;
                scan->place.contentStart = scan->chunkOffset + i;
            }
            return takeContent(scan, chunk, i, i + 1, count);
        }
    }
    return count;
}

// Empties the window; its bytes are left as they are, to be read over.
void holdNothing(ScriptWindow* window) {
    window->file = nullptr;
    window->fileSize = 0;
    window->start = 0;
    window->length = 0;
    window->nextRead = 0;
}

// Makes the window hold the byte at `offset`. False at the end of the file or when
// reading fails, which ends the reading alike.
bool holdOffset(ScriptWindow* window, PlatformFile* file, uint32_t offset) {
    if (window->file == file && offset >= window->start &&
        offset - window->start < window->length) {
        return true;
    }
    window->length = 0;
    if (!platformSeekFile(file, offset)) {
        return false;
    }
    uint32_t wanted = window->nextRead < kFirstRead ? kFirstRead : window->nextRead;
    uint32_t got = 0;
    if (!platformReadFile(file, window->bytes, wanted, &got) || got == 0) {
        return false;
    }
    window->start = offset;
    window->length = got;
    window->nextRead = wanted < kScriptWindowSize / 2 ? wanted * 2 : kScriptWindowSize;
    return true;
}

char* scanFile(BlockScan* scan, ScriptWindow* window, PlatformFile* file, int32_t* resumeOffset,
               BlockPlace* place) {
    // The size is asked once for each file the window serves.
    if (window->file != file) {
        holdNothing(window);
        if (!platformFileSize(file, &window->fileSize)) {
            return nullptr;
        }
        window->file = file;
    }
    if (window->fileSize > kLargestScriptSize || *resumeOffset < 0) {
        return nullptr;
    }
    scan->output.limit = uint64_t{window->fileSize} + 1;
    auto offset = static_cast<uint32_t>(*resumeOffset);
    while (!scan->closed && !scan->outOfMemory && holdOffset(window, file, offset)) {
        uint32_t skip = offset - window->start;
        uint32_t count = window->length - skip;
        scan->chunkOffset = offset;
        uint32_t used = place == nullptr ? scanChunk<false>(scan, window->bytes + skip, count)
                                         : scanChunk<true>(scan, window->bytes + skip, count);
        if (scan->closed) {
            *resumeOffset = static_cast<int32_t>(offset + used);
        }
        offset += count;
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

char* readBlockThrough(ScriptWindow* window, int32_t wanted, PlatformFile* file,
                       int32_t* resumeOffset, BlockPlace* place) {
    BlockScan scan = {};
    scan.wanted = wanted;
    return scanFile(&scan, window, file, resumeOffset, place);
}

char* readBlock(int32_t wanted, PlatformFile* file, int32_t* resumeOffset, BlockPlace* place) {
    ScriptWindow window;
    holdNothing(&window);
    return readBlockThrough(&window, wanted, file, resumeOffset, place);
}

char* readNextBlock(ScriptWindow* window, PlatformFile* file, int32_t* resumeOffset,
                    BlockPlace* place) {
    BlockScan scan = {};
    scan.anyNumber = true;
    return scanFile(&scan, window, file, resumeOffset, place);
}
