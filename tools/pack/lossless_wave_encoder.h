// The coder of platform/soft/lossless_wave.h: a PCM wave (8 or 16 bits, up to 8
// channels) in far fewer bytes than deflate gives, and exactly the same file again
// when decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Codes the wave file `file`; false when it is no PCM wave of 8 or 16 bits, or its
// coding would not decode to the same bytes (checked with the player's decoder).
bool encodeLosslessWave(const uint8_t* file, size_t size, std::vector<uint8_t>* out);
