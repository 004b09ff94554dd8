// What the vector paths share (the portable path reuses their arithmetic).
#pragma once

#include "platform/soft/soft_stretch.h"

#include <cstddef>
#include <cstdint>

// The most source pixels an output may read on each axis on a vector path.
constexpr int32_t kSoftVectorTaps = 8;

// The most bytes of laneWeights an output takes on a vector path: 8 weights of 16 bits
// for each pair of taps; the wasm loops keep a weight's high and low bytes apart, in two.
#if defined(__wasm_simd128__)
constexpr size_t kSoftVectorWeightBytes = 2 * kSoftVectorTaps / 2 * 16;
#else
constexpr size_t kSoftVectorWeightBytes = kSoftVectorTaps / 2 * 16;
#endif

// 128 for rounding, plus about the mean loss of the truncated products (up to 16).
constexpr int16_t kSoftVectorRounding = 132;

// A weight as a 16-bit multiplier: 65536 cannot be held and becomes 65535.
inline uint16_t softVectorWeight(uint32_t weight) {
    return static_cast<uint16_t>(weight > 65535u ? 65535u : weight);
}

// The inner loops of one instruction set. Rows of scaled pixels hold four
// 16-bit channels per pixel; `group` outputs are scaled per step, so the
// weights and starts are laid out for that many.
struct SoftVectorKernels {
    int32_t group;
    // [0]: two taps, [1]: up to four, [2]: up to eight; `count` is a multiple of group.
    void (*scaleAcross[3])(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                           uint8_t* row);
    // [taps - 1]: mixes that many rows into `count` target pixels.
    void (*mixDown[kSoftVectorTaps])(const uint8_t* const* rows, const uint32_t* weights,
                                     int32_t count, uint32_t* target);
};

// None where the processor or the compiler lacks AVX2.
const SoftVectorKernels* softAvx2Kernels();
// The loops for wasm SIMD (the web player), with weights split as prepared for them;
// none elsewhere.
const SoftVectorKernels* softWasmKernels();
