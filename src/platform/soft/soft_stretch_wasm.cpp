// The smoothing stretch's inner loops for wasm SIMD. The SSE2 loops compile to wasm
// too, but wasm has no 16 x 16-bit high-half multiply: emulated, each _mm_mulhi_epu16
// takes two 32-bit products and a shuffle. These loops get the very same sums by
// exact means wasm has, so the web player's pictures match the native ones bit for bit.
#include "platform/soft/soft_stretch.h"
#include "platform/soft/soft_vector.h"

#if defined(__wasm_simd128__)
#include <cstring>
#include <wasm_simd128.h>

namespace {
// Across, the multiplicand is a pixel byte c times 256, so the high half
// floor(c * w / 256) is exactly c * (w >> 8) + ((c * (w & 255)) >> 8), every part within
// 16 bits. The weights come split so: each unit of 8 high bytes, then their low bytes.
inline v128_t weighBytes(v128_t bytes, const v128_t* weights) {
    v128_t whole = wasm_i16x8_mul(bytes, weights[0]);
    v128_t part = wasm_i16x8_mul(bytes, weights[1]);
    return wasm_i16x8_add(whole, wasm_u16x8_shr(part, 8));
}

// Two source pixels, their channels widened to 16 bits, times their weights.
inline v128_t weighTwo(const uint32_t* source, const v128_t* weights) {
    return weighBytes(wasm_u16x8_load8x8(source), weights);
}

inline v128_t weighFour(const uint32_t* source, const v128_t* weights) {
    return wasm_i16x8_add(weighTwo(source, weights), weighTwo(source + 2, weights + 2));
}

// Two outputs from the half sums of each: stored less 32768, as mixDown reads them.
inline void storeScaled(v128_t* out, v128_t left, v128_t right) {
    v128_t sums = wasm_i16x8_add(wasm_i64x2_shuffle(left, right, 0, 2),
                                 wasm_i64x2_shuffle(left, right, 1, 3));
    wasm_v128_store(out, wasm_v128_xor(sums, wasm_i16x8_const_splat(-32768)));
}

void scaleAcross2(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                  uint8_t* row) {
    const auto* weights = reinterpret_cast<const v128_t*>(work.laneWeights);
    const int32_t* start = work.vectorStart;
    auto* out = reinterpret_cast<v128_t*>(row);
    for (int32_t n = 0; n < count; n += 2, start += 2, weights += 4, ++out) {
        storeScaled(out, weighTwo(source + start[0], weights),
                    weighTwo(source + start[1], weights + 2));
    }
}

void scaleAcross4(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                  uint8_t* row) {
    const auto* weights = reinterpret_cast<const v128_t*>(work.laneWeights);
    const int32_t* start = work.vectorStart;
    auto* out = reinterpret_cast<v128_t*>(row);
    for (int32_t n = 0; n < count; n += 2, start += 2, weights += 8, ++out) {
        storeScaled(out, weighFour(source + start[0], weights),
                    weighFour(source + start[1], weights + 4));
    }
}

void scaleAcross8(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                  uint8_t* row) {
    const auto* weights = reinterpret_cast<const v128_t*>(work.laneWeights);
    const int32_t* start = work.vectorStart;
    auto* out = reinterpret_cast<v128_t*>(row);
    for (int32_t n = 0; n < count; n += 2, start += 2, weights += 16, ++out) {
        v128_t left = wasm_i16x8_add(weighFour(source + start[0], weights),
                                     weighFour(source + start[0] + 4, weights + 4));
        v128_t right = wasm_i16x8_add(weighFour(source + start[1], weights + 8),
                                      weighFour(source + start[1] + 4, weights + 12));
        storeScaled(out, left, right);
    }
}

// Down, the multiplicand s is a 16-bit sum; wasm's signed pair product
// (i32x4.dot_i16x8_s) is exact and whole. Stored as x = s - 32768 and with the weight
// read as signed, v = w - 65536 * large (large: w >= 32768),
//   floor(s * w / 65536) = floor((x * v + 32768 * (w & 1)) / 65536) + (w >> 1) + large * x,
// and like SSE2 the sums are kept modulo 65536. A weight in every other lane gives the
// products of the even lanes, one in the others those of the odd lanes.
struct DownTap {
    v128_t even, odd; // the weight in the low or the high half of each 32-bit lane
    v128_t odds;      // 32768 * (w & 1) in each 32-bit lane
};

inline v128_t weighDown(v128_t x, const DownTap& tap) {
    v128_t even = wasm_i32x4_add(wasm_i32x4_dot_i16x8(x, tap.even), tap.odds);
    v128_t odd = wasm_i32x4_add(wasm_i32x4_dot_i16x8(x, tap.odd), tap.odds);
    return wasm_i16x8_shuffle(wasm_u32x4_shr(even, 16), odd, 0, 9, 2, 11, 4, 13, 6, 15);
}

// Mixes `taps` scaled rows into `count` pixels, four per step; the first `large` taps'
// rows are added once more. `fixedLarge`, when not negative, is `large` known in advance.
template <int taps, int fixedLarge>
void mixRows(const v128_t* const* rows, const DownTap* tap, int large, v128_t bias, int32_t count,
             uint32_t* target) {
    if (fixedLarge >= 0) {
        large = fixedLarge;
    }
    for (int32_t n = 0; n < count; n += 4) {
        int32_t v = n / 2;
        v128_t low = weighDown(rows[0][v], tap[0]);
        v128_t high = weighDown(rows[0][v + 1], tap[0]);
        for (int k = 1; k < taps; ++k) {
            low = wasm_i16x8_add(low, weighDown(rows[k][v], tap[k]));
            high = wasm_i16x8_add(high, weighDown(rows[k][v + 1], tap[k]));
        }
        for (int k = 0; k < large; ++k) {
            low = wasm_i16x8_add(low, rows[k][v]);
            high = wasm_i16x8_add(high, rows[k][v + 1]);
        }
        low = wasm_u16x8_shr(wasm_i16x8_add(low, bias), 8);
        high = wasm_u16x8_shr(wasm_i16x8_add(high, bias), 8);
        v128_t pixels = wasm_u8x16_narrow_i16x8(low, high);
        if (count - n >= 4) {
            wasm_v128_store(target + n, pixels);
        } else {
            uint32_t last[4];
            wasm_v128_store(last, pixels);
            memcpy(target + n, last, static_cast<size_t>(count - n) * 4u);
        }
    }
}

// Mixes `taps` scaled rows down into 8-bit pixels. Each weight's w >> 1 joins the
// rounding constant; the large ones' taps go first (the weights of an output add up to
// 65536, so there are at most two).
template <int taps>
void mixDown(const uint8_t* const* rowBytes, const uint32_t* weights, int32_t count,
             uint32_t* target) {
    const v128_t* rows[taps];
    DownTap tap[taps];
    int large = 0;
    uint16_t rounding = kSoftVectorRounding;
    for (int k = 0; k < taps; ++k) {
        uint16_t weight = softVectorWeight(weights[k]);
        int slot = weight >= 32768 ? large++ : k;
        if (slot != k) {
            rows[k] = rows[slot];
            tap[k] = tap[slot];
        }
        rows[slot] = reinterpret_cast<const v128_t*>(rowBytes[k]);
        tap[slot].even = wasm_i32x4_splat(weight);
        tap[slot].odd = wasm_i32x4_splat(static_cast<int32_t>(static_cast<uint32_t>(weight) << 16));
        tap[slot].odds = wasm_i32x4_splat((weight & 1) << 15);
        rounding = static_cast<uint16_t>(rounding + (weight >> 1));
    }
    const v128_t bias = wasm_i16x8_splat(static_cast<int16_t>(rounding));
    // Few taps (every enlargement) get loops without a branch; more are rare.
    if constexpr (taps <= 4) {
        if (large == 0) {
            return mixRows<taps, 0>(rows, tap, large, bias, count, target);
        }
        if (large == 1) {
            return mixRows<taps, 1>(rows, tap, large, bias, count, target);
        }
    }
    if constexpr (taps >= 2 && taps <= 4) {
        if (large == 2) {
            return mixRows<taps, 2>(rows, tap, large, bias, count, target);
        }
    }
    mixRows<taps, -1>(rows, tap, large, bias, count, target);
}

const SoftVectorKernels kWasmKernels = {2,
                                        {scaleAcross2, scaleAcross4, scaleAcross8},
                                        {mixDown<1>, mixDown<2>, mixDown<3>, mixDown<4>, mixDown<5>,
                                         mixDown<6>, mixDown<7>, mixDown<8>}};
} // namespace

const SoftVectorKernels* softWasmKernels() {
    return &kWasmKernels;
}

#else

const SoftVectorKernels* softWasmKernels() {
    return nullptr;
}

#endif
