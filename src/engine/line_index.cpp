#include "engine/line_index.h"

#include <cstring>

namespace {

constexpr uint32_t kFirstCapacity = 256;
constexpr uint32_t kReadPiece = 64 * 1024;

bool addLineStart(LineIndex* index, uint32_t offset) {
    if (index->count == index->capacity) {
        uint64_t capacity = index->capacity == 0 ? kFirstCapacity : uint64_t{index->capacity} * 2;
        if (capacity > UINT32_MAX / sizeof(uint32_t)) {
            return false;
        }
        auto grown = static_cast<uint32_t*>(
            platformResize(index->lineStarts, capacity * sizeof(uint32_t), false));
        if (grown == nullptr) {
            return false;
        }
        index->lineStarts = grown;
        index->capacity = static_cast<uint32_t>(capacity);
    }
    index->lineStarts[index->count++] = offset;
    return true;
}

// Adds the lines that begin after the line breaks of `count` bytes at `base`.
bool indexPiece(LineIndex* index, const char* bytes, uint32_t count, uint32_t base) {
    const char* at = bytes;
    const char* end = bytes + count;
    while ((at = static_cast<const char*>(memchr(at, '\n', static_cast<size_t>(end - at)))) !=
           nullptr) {
        ++at;
        if (!addLineStart(index, base + static_cast<uint32_t>(at - bytes))) {
            return false;
        }
    }
    return true;
}

bool startIndex(LineIndex* index) {
    releaseLineIndex(index);
    return addLineStart(index, 0);
}

} // namespace

bool indexText(LineIndex* index, const char* text, uint32_t size) {
    if (!startIndex(index) || !indexPiece(index, text, size, 0)) {
        releaseLineIndex(index);
        return false;
    }
    index->textSize = size;
    index->made = true;
    return true;
}

bool indexFile(LineIndex* index, PlatformFile* file) {
    char* piece = static_cast<char*>(platformAllocate(kReadPiece, false));
    bool read = piece != nullptr && startIndex(index) && platformSeekFile(file, 0);
    uint32_t size = 0;
    while (read) {
        uint32_t got = 0;
        if (!platformReadFile(file, piece, kReadPiece, &got)) {
            read = false;
        } else if (got == 0) {
            break;
        } else if (uint64_t{size} + got > UINT32_MAX || !indexPiece(index, piece, got, size)) {
            read = false;
        } else {
            size += got;
        }
    }
    platformFree(piece);
    if (!read) {
        releaseLineIndex(index);
        return false;
    }
    index->textSize = size;
    index->made = true;
    return true;
}

void releaseLineIndex(LineIndex* index) {
    platformFree(index->lineStarts);
    *index = LineIndex{};
}

void lineAndColumn(const LineIndex* index, uint32_t offset, uint32_t* line, uint32_t* column) {
    // The last line start at or before the offset.
    uint32_t low = 0;
    uint32_t high = index->count;
    while (high - low > 1) {
        uint32_t middle = low + (high - low) / 2;
        if (index->lineStarts[middle] <= offset) {
            low = middle;
        } else {
            high = middle;
        }
    }
    uint32_t start = index->count == 0 ? 0 : index->lineStarts[low];
    *line = low + 1;
    *column = offset - start + 1;
}

uint32_t offsetOfLine(const LineIndex* index, uint32_t line, uint32_t column) {
    if (line == 0 || index->count == 0) {
        return 0;
    }
    if (line > index->count) {
        return index->textSize;
    }
    uint32_t start = index->lineStarts[line - 1];
    uint32_t end = line < index->count ? index->lineStarts[line] : index->textSize;
    uint64_t offset = uint64_t{start} + (column == 0 ? 0 : column - 1);
    return offset < end ? static_cast<uint32_t>(offset) : end;
}
