// A small BMP writer: 24-bit, bottom-up, no compression, the form every loader reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes `pixels` (0x00RRGGBB, rows top-down) to `path` through a temporary file
// beside it, so that a failed write leaves no half-written file. False on failure.
bool writeBmp24(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels);

// `bytes` to `path` through a temporary file beside it, renamed when complete.
bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);
// Appends `bytes` bytes of `value`, least significant first, as BMP and WAV headers want.
void putLittle(std::vector<uint8_t>* out, uint32_t value, int bytes);
