// Wave files declare the length of each chunk; the sound library reserves what a
// chunk declares before reading it. Lengths past the end of the file are cut to
// what the file holds, so a tiny file cannot ask for gigabytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Cuts, in place, the RIFF length and every chunk length to the bytes that follow it.
void clampWaveChunks(uint8_t* data, size_t size);
