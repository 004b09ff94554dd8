// What the vector paths of the smoothing stretch share.
#pragma once

#include "platform/soft/soft_stretch.h"

#include <cstdint>

// 128 for rounding, plus the mean loss of up to 8 truncated products.
constexpr int16_t kSoftVectorRounding = 130;

// A weight as a 16-bit multiplier: 65536 cannot be held and becomes 65535.
inline uint16_t softVectorWeight(uint32_t weight) {
    return static_cast<uint16_t>(weight > 65535u ? 65535u : weight);
}

// The inner loops of one instruction set. Rows of scaled pixels hold four
// 16-bit channels per pixel; `group` outputs are scaled per step, so the
// weights and starts are laid out for that many.
struct SoftVectorKernels {
    int32_t group;
    // [0]: two taps, [1]: up to four; `count` is a multiple of group.
    void (*scaleAcross[2])(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                           uint8_t* row);
    // [taps - 1]: mixes that many rows into `count` target pixels.
    void (*mixDown[4])(const uint8_t* const* rows, const uint32_t* weights, int32_t count,
                       uint32_t* target);
};

// None where the processor or the compiler lacks AVX2.
const SoftVectorKernels* softAvx2Kernels();
