// A small PNG writer: 8-bit RGB or palette, one zlib stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How hard the writer works: pages of pictures are written fast; pictures that travel
// to readers as small as it can (a palette where 256 colours do, each row's filter
// chosen, the strongest deflate).
enum class PngEffort { Fast, Smallest };

// The PNG file of `pixels` (0x00RRGGBB, rows top-down), without colour-space chunks, so
// any decoder gives back these very values. Empty when memory runs out.
std::vector<uint8_t> encodePng(int32_t width, int32_t height, const uint32_t* pixels,
                               PngEffort effort);

// Writes `pixels` (0x00RRGGBB, rows top-down) as a PNG file. False when the file
// cannot be written or memory runs out.
bool writePng(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels);
