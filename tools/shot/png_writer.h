// A small PNG writer: 8-bit RGB, one zlib stream.
#pragma once

#include <cstdint>
#include <string>

// Writes `pixels` (0x00RRGGBB, rows top-down) as a PNG file. False when the file
// cannot be written or memory runs out.
bool writePng(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels);
