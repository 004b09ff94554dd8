// A small BMP writer for the author tools, in the two forms every loader reads:
// 24-bit without compression, and 8-bit with a palette, run-length encoded (RLE8).
// Rows are written bottom-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The file of `pixels` (0x00RRGGBB, rows top-down) as a 24-bit BMP.
std::vector<uint8_t> bmp24Bytes(int32_t width, int32_t height, const uint32_t* pixels);

// The file of `indices` (one byte a pixel into `palette`, rows top-down) as an RLE8
// BMP. `palette` holds 1 to 256 colours, 0x00RRGGBB.
std::vector<uint8_t> bmpRle8Bytes(int32_t width, int32_t height, const uint8_t* indices,
                                  const std::vector<uint32_t>& palette);

// Writes `pixels` as a 24-bit BMP through a temporary file beside `path`, so that a
// failed write leaves no half-written file. False on failure.
bool writeBmp24(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels);

// `bytes` to `path` through a temporary file beside it, renamed when complete.
bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);
// Appends `bytes` bytes of `value`, least significant first, as BMP and WAV headers want.
void putLittle(std::vector<uint8_t>* out, uint32_t value, int bytes);
