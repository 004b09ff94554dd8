// The smoothing stretch with SSE2 (and AVX2 where the processor has it), for
// outputs that read at most 8 source pixels on each axis: every enlargement, and
// reductions down to about a seventh.
// Channels are held as 16-bit values times 256; a weight w of 65536 multiplies
// through the high half of a 16 x 16-bit product, which truncates. The rounding
// constant makes up for the truncations on average, so the result stays within
// 1 level of the exact filter and flat colours come out unchanged.
#include "platform/soft/soft_internal.h"
#include "platform/soft/soft_stretch.h"
#include "platform/soft/soft_vector.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {
// Where the weights of output n for taps 2 * half and 2 * half + 1 go, in
// 16-byte units. SSE2 takes them output by output; AVX2 pairs outputs a and c,
// b and d of each group of four in the two halves of its registers.
size_t weightUnit(int32_t n, int32_t half, int32_t taps, bool wide) {
    if (!wide) {
        return static_cast<size_t>(n) * static_cast<size_t>(taps / 2) + static_cast<size_t>(half);
    }
    int32_t r = n % 4;
    return static_cast<size_t>(n / 4) * static_cast<size_t>(2 * taps) +
           static_cast<size_t>((r % 2) * taps + half * 2 + r / 2);
}

// Per output (up to `padded`, the extra ones copies of the last): where `taps`
// consecutive source pixels start, and their weights, each repeated for 4
// channels. Whole loads must stay inside the row, so starts near its right end
// move left and the weights with them. `split` (the wasm loops) follows each unit
// of 8 weights with their low bytes and leaves the high bytes in it.
void prepareAcross(const SoftAxisPlan& across, const SoftStretchWork& work, int64_t rowWidth,
                   int32_t taps, int32_t padded, bool wide, bool split) {
    auto* units = reinterpret_cast<uint16_t*>(work.laneWeights);
    for (int32_t n = 0; n < padded; ++n) {
        int32_t m = n < across.count ? n : across.count - 1;
        int64_t start = across.low + work.acrossStart[m];
        uint32_t weights[kSoftVectorTaps] = {};
        int64_t shift = start + taps > rowWidth ? start + taps - rowWidth : 0;
        const uint32_t* w = work.acrossWeights + static_cast<size_t>(m) * across.maxTaps;
        for (int32_t k = 0; k < work.acrossCount[m]; ++k) {
            weights[k + shift] = w[k];
        }
        work.vectorStart[n] = static_cast<int32_t>(start - shift);
        for (int32_t half = 0; half < taps / 2; ++half) {
            uint16_t* unit = units + weightUnit(n, half, taps, wide) * (split ? 16 : 8);
            for (int32_t k = 0; k < 8; ++k) {
                uint16_t weight = softVectorWeight(weights[half * 2 + k / 4]);
                if (split) {
                    unit[k] = weight >> 8;
                    unit[8 + k] = weight & 255;
                } else {
                    unit[k] = weight;
                }
            }
        }
    }
}

// Two taps per output: two outputs per step.
void scaleAcross2(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                  uint8_t* row) {
    const auto* weights = reinterpret_cast<const __m128i*>(work.laneWeights);
    const int32_t* start = work.vectorStart;
    auto* out = reinterpret_cast<__m128i*>(row);
    const __m128i zero = _mm_setzero_si128();
    for (int32_t n = 0; n < count; n += 2, start += 2, weights += 2, ++out) {
        __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + start[0]));
        __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + start[1]));
        __m128i both = _mm_unpacklo_epi64(a, b);
        // Bytes into the high half of 16-bit lanes: each channel times 256.
        __m128i left = _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, both), weights[0]);
        __m128i right = _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, both), weights[1]);
        *out = _mm_add_epi16(_mm_unpacklo_epi64(left, right), _mm_unpackhi_epi64(left, right));
    }
}

// Four source pixels times their weights, as two half sums of 4 channels.
inline __m128i weighFour(const uint32_t* source, const __m128i* weights) {
    const __m128i zero = _mm_setzero_si128();
    __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    return _mm_add_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(zero, pixels), weights[0]),
                         _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, pixels), weights[1]));
}

// Up to four taps per output.
void scaleAcross4(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                  uint8_t* row) {
    const auto* weights = reinterpret_cast<const __m128i*>(work.laneWeights);
    const int32_t* start = work.vectorStart;
    auto* out = reinterpret_cast<__m128i*>(row);
    for (int32_t n = 0; n < count; n += 2, start += 2, weights += 4, ++out) {
        __m128i left = weighFour(source + start[0], weights);
        __m128i right = weighFour(source + start[1], weights + 2);
        *out = _mm_add_epi16(_mm_unpacklo_epi64(left, right), _mm_unpackhi_epi64(left, right));
    }
}

// Up to eight taps per output.
void scaleAcross8(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                  uint8_t* row) {
    const auto* weights = reinterpret_cast<const __m128i*>(work.laneWeights);
    const int32_t* start = work.vectorStart;
    auto* out = reinterpret_cast<__m128i*>(row);
    for (int32_t n = 0; n < count; n += 2, start += 2, weights += 8, ++out) {
        __m128i left = _mm_add_epi16(weighFour(source + start[0], weights),
                                     weighFour(source + start[0] + 4, weights + 2));
        __m128i right = _mm_add_epi16(weighFour(source + start[1], weights + 4),
                                      weighFour(source + start[1] + 4, weights + 6));
        *out = _mm_add_epi16(_mm_unpacklo_epi64(left, right), _mm_unpackhi_epi64(left, right));
    }
}

// Mixes `taps` scaled rows down into 8-bit pixels, four per step.
template <int taps>
void mixDown(const uint8_t* const* rowBytes, const uint32_t* weights, int32_t count,
             uint32_t* target) {
    const __m128i* rows[taps];
    __m128i w[taps];
    for (int k = 0; k < taps; ++k) {
        rows[k] = reinterpret_cast<const __m128i*>(rowBytes[k]);
        w[k] = _mm_set1_epi16(static_cast<int16_t>(softVectorWeight(weights[k])));
    }
    const __m128i rounding = _mm_set1_epi16(kSoftVectorRounding);
    for (int32_t n = 0; n < count; n += 4) {
        int32_t v = n / 2;
        __m128i low = _mm_mulhi_epu16(rows[0][v], w[0]);
        __m128i high = _mm_mulhi_epu16(rows[0][v + 1], w[0]);
        for (int k = 1; k < taps; ++k) {
            low = _mm_add_epi16(low, _mm_mulhi_epu16(rows[k][v], w[k]));
            high = _mm_add_epi16(high, _mm_mulhi_epu16(rows[k][v + 1], w[k]));
        }
        low = _mm_srli_epi16(_mm_add_epi16(low, rounding), 8);
        high = _mm_srli_epi16(_mm_add_epi16(high, rounding), 8);
        __m128i pixels = _mm_packus_epi16(low, high);
        if (count - n >= 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target + n), pixels);
        } else {
            uint32_t last[4];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(last), pixels);
            memcpy(target + n, last, static_cast<size_t>(count - n) * 4u);
        }
    }
}

const SoftVectorKernels kSse2Kernels = {2,
                                        {scaleAcross2, scaleAcross4, scaleAcross8},
                                        {mixDown<1>, mixDown<2>, mixDown<3>, mixDown<4>, mixDown<5>,
                                         mixDown<6>, mixDown<7>, mixDown<8>}};
} // namespace

bool softStretchVector(PlatformBitmap* to, int64_t originX, int64_t originY,
                       const PlatformBitmap* from, const SoftStretchPlan& plan,
                       const SoftStretchWork& work) {
    const SoftAxisPlan& across = plan.across;
    const SoftAxisPlan& down = plan.down;
    int32_t acrossTaps = work.acrossMost <= 2 ? 2 : work.acrossMost <= 4 ? 4 : 8;
    int32_t kernel = acrossTaps == 2 ? 0 : acrossTaps == 4 ? 1 : 2;
    if (softStretchPath == SoftStretchPath::Portable || work.acrossMost > kSoftVectorTaps ||
        work.downMost > kSoftVectorTaps || from->width < acrossTaps) {
        return false;
    }
    const SoftVectorKernels* kernels = &kSse2Kernels;
    if (softStretchPath == SoftStretchPath::Fastest && softAvx2Kernels() != nullptr) {
        kernels = softAvx2Kernels();
    }
    if (softStretchPath == SoftStretchPath::Fastest && softWasmKernels() != nullptr) {
        kernels = softWasmKernels();
    }
    bool wide = kernels->group == 4;
    bool split = kernels == softWasmKernels();
    int32_t padded = (across.count + kernels->group - 1) / kernels->group * kernels->group;
    prepareAcross(across, work, from->width, acrossTaps, padded, wide, split);
    // Scaled rows live in eight slots by row number: an output reads at most 8
    // consecutive rows, which then never share a slot.
    int64_t slotRow[kSoftVectorTaps] = {-1, -1, -1, -1, -1, -1, -1, -1};
    for (uint8_t* row : work.rows) {
        // The padding past the last output is read by the last step of mixDown.
        memset(row, 0, (static_cast<size_t>(across.count) + 8) / 8 * 64);
    }
    for (int32_t j = 0; j < down.count; ++j) {
        int32_t taps = work.downCount[j];
        const uint8_t* rows[kSoftVectorTaps];
        for (int32_t k = 0; k < taps; ++k) {
            int64_t row = down.low + work.downStart[j] + k;
            int slot = static_cast<int>(row & 7);
            if (slotRow[slot] != row) {
                slotRow[slot] = row;
                kernels->scaleAcross[kernel](softRow(from, row), padded, work, work.rows[slot]);
            }
            rows[k] = work.rows[slot];
        }
        kernels->mixDown[taps - 1](
            rows, work.downWeights + static_cast<size_t>(j) * down.maxTaps, across.count,
            softRow(to, down.targetFirst + j - originY) + (across.targetFirst - originX));
    }
    return true;
}

#else

bool softStretchVector(PlatformBitmap*, int64_t, int64_t, const PlatformBitmap*,
                       const SoftStretchPlan&, const SoftStretchWork&) {
    return false;
}

#endif
