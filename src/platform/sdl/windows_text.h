// Text of the story files is in the Windows code page (1252), as the desktop player
// reads it; SDL takes UTF-8.
#pragma once

#include <cstddef>

// Room for the UTF-8 form of `length` bytes, the terminating zero included.
constexpr size_t utf8Room(size_t length) {
    return 3 * length + 1;
}

// Writes the UTF-8 form of the zero-terminated `text` into `out`, which has
// utf8Room(strlen(text)) bytes.
void windows1252ToUtf8(const char* text, char* out);
