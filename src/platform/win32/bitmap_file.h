// A look at a BMP file's headers before the system loads it. The system's
// loader takes a file whose pixel rows end early and shows the missing part
// black (seen under Wine), and makes a bitmap of any size the headers ask for,
// where the other backends refuse both. Checking first gives one behaviour
// everywhere. Plain code over the platform interface, so it builds and is
// tested on any backend.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// The largest bitmap any backend makes: the software surfaces' limits.
constexpr int64_t kBmpMaxSide = 32768;
constexpr int64_t kBmpMaxPixelBytes = int64_t{256} << 20; // at 4 bytes a pixel

// False when the headers ask for a bitmap beyond the limits, or, for an
// uncompressed BMP, promise more pixel rows than the file holds; true for
// anything else, which is left to the loader.
bool bmpHeadersAcceptable(const uint8_t* head, uint32_t headSize, uint32_t fileSize);
// The same for a file on disk; true when it cannot be opened or read.
bool bmpFileAcceptable(const char* path);
// Why such headers are refused (TooLarge or Truncated), or None.
LoadFailure bmpHeadersFailure(const uint8_t* head, uint32_t headSize, uint32_t fileSize);
// The same for a file on disk: Missing or Unreadable too.
LoadFailure bmpFileFailure(const char* path);
