// The system's bitmap loader takes a file whose pixel rows end early and shows
// the missing part black (seen under Wine); the other backends refuse such a
// file. Checking the headers first gives one behaviour everywhere. Plain code
// over the platform interface, so it builds and is tested on any backend.
#pragma once

#include <cstdint>

// False when the headers of an uncompressed BMP promise more pixel rows than the
// file holds; true for anything else, which is left to the loader.
bool bmpRowsPresent(const uint8_t* head, uint32_t headSize, uint32_t fileSize);
// The same for a file on disk; true when it cannot be opened or read.
bool bmpFileRowsPresent(const char* path);
