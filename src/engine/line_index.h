// Lines and columns of byte offsets in a text, as authors count them: both from 1, the
// column in bytes. One index serves the play cursor, the checker and the tools.
#pragma once

#include "platform/platform.h"

#include <cstdint>

struct LineIndex {
    uint32_t* lineStarts; // offset of each line's first byte; the first is 0
    uint32_t count;
    uint32_t capacity;
    uint32_t textSize;
    bool made;
};

// Indexes `size` bytes of text. False when memory cannot be had.
bool indexText(LineIndex* index, const char* text, uint32_t size);
// Indexes a file from its start, read in pieces. False when it cannot be read.
bool indexFile(LineIndex* index, PlatformFile* file);
void releaseLineIndex(LineIndex* index);

void lineAndColumn(const LineIndex* index, uint32_t offset, uint32_t* line, uint32_t* column);
// The offset of a line and column; past the line's end it is the next line's start, and
// past the text's end it is the text's size.
uint32_t offsetOfLine(const LineIndex* index, uint32_t line, uint32_t column);
