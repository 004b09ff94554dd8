// A wave file coded losslessly for the web page's story data (bexu-pack's coder writes
// it): the bytes around the samples as they are, the samples of each channel predicted
// from the ones before (linear prediction, as lossless audio coders do) and the
// differences written in Rice codes. Decoding gives the file back byte for byte.
//
// Layout: head bytes (u32), tail bytes (u32), bits per sample (u8: 8 or 16), channels
// (u8: 1 to 8), frames (u32), frames per block (u16), the head, the tail, then a bit
// stream (most significant bit first) of the blocks, each holding one part per channel:
//   order (6 bits, 0 to 32); when not 0: coefficient bits less one (4 bits), shift
//   (5 bits), the coefficients (signed, of that many bits), the first `order` samples
//   (signed, of the sample's bits);
//   partition order (4 bits): 2^p partitions of the block's frames, the first less
//   `order`; each: Rice parameter (5 bits), or 31 then a width (5 bits) for raw
//   signed differences of that many bits; the differences, folded (0, -1, 1, -2 ...).
// A sample is the sum of the coefficients times the samples before, shifted right, plus
// its difference. 8-bit samples are unsigned in the file and taken less 128.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kLosslessWaveHeaderSize = 16;
constexpr uint32_t kLosslessWaveMostOrder = 32;
constexpr uint32_t kLosslessWaveMostChannels = 8;

// Decodes `data` into exactly `outSize` bytes at `out`. False when the data is malformed
// or gives another size; reads nothing outside [data, data + size), writes nothing
// outside [out, out + outSize).
bool decodeLosslessWave(const uint8_t* data, size_t size, uint8_t* out, size_t outSize);
