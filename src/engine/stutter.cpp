// Stammered lines: the first letter of some words or syllables is repeated with dashes.
#include "engine/engine.h"

#include <cstring>

namespace {

constexpr uint32_t kFirstBuilderCapacity = 256;
constexpr uint32_t kFirstPieceCapacity = 8;
// The dialogue's capacity is 32-bit and doubles from 512, so it never holds a line of
// 2 GiB or more: a stammer that long is given up before it takes that much memory.
constexpr size_t kLargestLine = size_t{1} << 31;

struct TextBuilder {
    char* text;
    size_t length;
    size_t capacity;
    bool failed;
};

bool startBuilder(TextBuilder* builder) {
    builder->text = static_cast<char*>(platformAllocate(kFirstBuilderCapacity, true));
    builder->length = 0;
    builder->capacity = kFirstBuilderCapacity;
    builder->failed = builder->text == nullptr;
    return !builder->failed;
}

void appendToBuilder(TextBuilder* builder, const char* bytes, size_t count) {
    if (builder->failed) {
        return;
    }
    size_t capacity = builder->capacity;
    while (builder->length + count >= capacity) {
        // Checked before doubling, so the capacity cannot wrap where size_t is 32 bits.
        if (capacity >= kLargestLine) {
            builder->failed = true;
            return;
        }
        capacity *= 2;
    }
    if (capacity != builder->capacity) {
        char* grown = static_cast<char*>(platformResize(builder->text, capacity, true));
        if (grown == nullptr) {
            builder->failed = true;
            return;
        }
        builder->text = grown;
        builder->capacity = capacity;
    }
    memcpy(builder->text + builder->length, bytes, count);
    builder->length += count;
    builder->text[builder->length] = '\0';
}

void appendSyllable(TextBuilder* out, const char* part, uint32_t word, uint32_t index,
                    uint32_t intensity, uint32_t* seed) {
    if (part[0] == '%') {
        appendToBuilder(out, part + 1, strlen(part + 1));
        return;
    }
    uint32_t repeats = (nextRandomByte(seed) + word + index) % intensity;
    if (part[0] != '\0') {
        const char stammer[2] = {part[0], '-'};
        for (uint32_t k = 0; k < repeats; ++k) {
            appendToBuilder(out, stammer, 2);
        }
    }
    appendToBuilder(out, part, strlen(part));
}

} // namespace

uint8_t nextRandomByte(uint32_t* seed) {
    *seed = *seed * 1103515245u + 12345u;
    return static_cast<uint8_t>((*seed >> 16) & 255u);
}

void freePieces(TextPieces* pieces) {
    for (uint32_t i = 0; i < pieces->count; ++i) {
        platformFree(pieces->pieces[i]);
    }
    platformFree(pieces->pieces);
    pieces->pieces = nullptr;
    pieces->count = 0;
    pieces->capacity = 0;
}

static bool addPiece(TextPieces* out, const char* start, size_t length) {
    if (out->count == out->capacity) {
        uint32_t capacity = out->capacity == 0 ? kFirstPieceCapacity : out->capacity * 2;
        auto grown =
            static_cast<char**>(platformResize(out->pieces, capacity * sizeof(char*), false));
        if (grown == nullptr) {
            return false;
        }
        out->pieces = grown;
        out->capacity = capacity;
    }
    char* piece = static_cast<char*>(platformAllocate(length + 1, false));
    if (piece == nullptr) {
        return false;
    }
    memcpy(piece, start, length);
    piece[length] = '\0';
    out->pieces[out->count++] = piece;
    return true;
}

bool splitOn(const char* text, char delimiter, TextPieces* out) {
    *out = TextPieces{};
    const char* start = text;
    for (;;) {
        const char* end = strchr(start, delimiter);
        size_t length = end == nullptr ? strlen(start) : static_cast<size_t>(end - start);
        if (!addPiece(out, start, length)) {
            freePieces(out);
            return false;
        }
        if (end == nullptr) {
            return true;
        }
        start = end + 1;
    }
}

char* stutterText(const char* text, uint32_t intensity, uint32_t* seed) {
    if (intensity == 0) {
        intensity = 1; // never asked for; avoids a division by zero
    }
    TextPieces words;
    if (!splitOn(text, ' ', &words)) {
        return nullptr;
    }
    TextBuilder out;
    if (!startBuilder(&out)) {
        freePieces(&words);
        return nullptr;
    }
    for (uint32_t w = 0; w < words.count && !out.failed; ++w) {
        TextPieces parts;
        if (!splitOn(words.pieces[w], '/', &parts)) {
            out.failed = true;
            break;
        }
        for (uint32_t p = 0; p < parts.count; ++p) {
            appendSyllable(&out, parts.pieces[p], w, p, intensity, seed);
        }
        freePieces(&parts);
        appendToBuilder(&out, " ", 1);
    }
    freePieces(&words);
    if (out.failed) {
        platformFree(out.text);
        return nullptr;
    }
    if (out.length > 0) {
        out.text[--out.length] = '\0';
    }
    return out.text;
}

uint32_t stutterIntensity(const char* command) {
    const char* c = command;
    while (*c != '\0' && *c != '~' && !isDecimalDigit(*c)) {
        ++c;
    }
    uint32_t value = 0;
    for (; isDecimalDigit(*c); ++c) {
        value = value * 10u + static_cast<uint32_t>(*c - '0');
    }
    return value;
}
