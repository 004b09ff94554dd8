// Reading a whole file for a loader that decodes it in memory, shared by every backend.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// The whole file in a new buffer, read through the platform's files. None when it is
// missing, empty, larger than `largest` bytes or unreadable, with the reason noted;
// `empty` is the reason for an empty file. With `readAtMost`, only the file's first
// bytes are read; *size is what the buffer holds.
uint8_t* loadWholeFile(const char* path, uint32_t largest, LoadFailure empty, uint32_t* size,
                       uint32_t readAtMost = UINT32_MAX);
