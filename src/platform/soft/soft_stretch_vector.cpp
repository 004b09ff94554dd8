// The smoothing stretch with SSE2, for outputs that read at most 4 source pixels
// on each axis (every enlargement, and reductions down to about a third).
// Channels are held as 16-bit values times 256; a weight w of 65536 multiplies
// through the high half of a 16 x 16-bit product, which truncates. The rounding
// constant makes up for the truncations on average, so the result stays within
// 1 level of the exact filter and flat colours come out unchanged.
#include "platform/soft/soft_internal.h"
#include "platform/soft/soft_stretch.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

namespace {
constexpr int16_t kRounding = 130; // 128, plus the mean loss of up to 8 truncations

uint16_t weightOf(uint32_t weight) {
    return static_cast<uint16_t>(weight > 65535u ? 65535u : weight);
}

// Per output: where `taps` consecutive source pixels start (whole loads must stay
// inside the row, so starts near the right end move left and the weights with
// them) and the weights, one vector per 2 taps, each repeated for 4 channels.
void prepareAcross(const SoftAxisPlan& across, const SoftStretchWork& work, int64_t rowWidth,
                   int32_t taps) {
    auto* vectors = reinterpret_cast<uint16_t*>(work.vectorWeights);
    for (int32_t n = 0; n <= across.count; ++n) {
        // One extra output, a copy of the last, lets the pair loop run to an even count.
        int32_t m = n < across.count ? n : across.count - 1;
        int64_t start = across.low + work.acrossStart[m];
        uint32_t weights[4] = {0, 0, 0, 0};
        int64_t shift = start + taps > rowWidth ? start + taps - rowWidth : 0;
        const uint32_t* w = work.acrossWeights + static_cast<size_t>(m) * across.maxTaps;
        for (int32_t k = 0; k < work.acrossCount[m]; ++k) {
            weights[k + shift] = w[k];
        }
        work.vectorStart[n] = static_cast<int32_t>(start - shift);
        uint16_t* out = vectors + static_cast<size_t>(n) * 16;
        for (int32_t k = 0; k < 16; ++k) {
            out[k] = weightOf(weights[k / 4]);
        }
    }
}

// Two taps per output: two outputs per step.
void scaleAcross2(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                  __m128i* out) {
    const auto* weights = reinterpret_cast<const __m128i*>(work.vectorWeights);
    const int32_t* start = work.vectorStart;
    const __m128i zero = _mm_setzero_si128();
    for (int32_t n = 0; n < count; n += 2, start += 2, weights += 4, ++out) {
        __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + start[0]));
        __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + start[1]));
        __m128i both = _mm_unpacklo_epi64(a, b);
        // Bytes into the high half of 16-bit lanes: each channel times 256.
        __m128i left = _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, both), weights[0]);
        __m128i right = _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, both), weights[2]);
        *out = _mm_add_epi16(_mm_unpacklo_epi64(left, right), _mm_unpackhi_epi64(left, right));
    }
}

// Up to four taps per output.
void scaleAcross4(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                  __m128i* out) {
    const auto* weights = reinterpret_cast<const __m128i*>(work.vectorWeights);
    const int32_t* start = work.vectorStart;
    const __m128i zero = _mm_setzero_si128();
    for (int32_t n = 0; n < count; n += 2, start += 2, weights += 4, ++out) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + start[0]));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + start[1]));
        __m128i left = _mm_add_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(zero, a), weights[0]),
                                     _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, a), weights[1]));
        __m128i right = _mm_add_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(zero, b), weights[2]),
                                      _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, b), weights[3]));
        *out = _mm_add_epi16(_mm_unpacklo_epi64(left, right), _mm_unpackhi_epi64(left, right));
    }
}

// Mixes `taps` scaled rows down into 8-bit pixels, four per step.
template <int taps>
void mixDown(const __m128i* const* rows, const uint32_t* weights, int32_t count, uint32_t* target) {
    __m128i w[4];
    for (int k = 0; k < taps; ++k) {
        w[k] = _mm_set1_epi16(static_cast<int16_t>(weightOf(weights[k])));
    }
    const __m128i rounding = _mm_set1_epi16(kRounding);
    int32_t whole = count & ~3;
    int32_t n = 0;
    for (; n < count; n += 4) {
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
        if (n < whole) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target + n), pixels);
        } else {
            uint32_t last[4];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(last), pixels);
            memcpy(target + n, last, static_cast<size_t>(count - n) * 4u);
        }
    }
}
} // namespace

bool softStretchVector(PlatformBitmap* to, int64_t originX, int64_t originY,
                       const PlatformBitmap* from, const SoftStretchPlan& plan,
                       const SoftStretchWork& work) {
    const SoftAxisPlan& across = plan.across;
    const SoftAxisPlan& down = plan.down;
    int32_t acrossTaps = work.acrossMost <= 2 ? 2 : 4;
    if (work.acrossMost > 4 || work.downMost > 4 || from->width < acrossTaps) {
        return false;
    }
    prepareAcross(across, work, from->width, acrossTaps);
    // Scaled rows live in four slots by row number: an output reads at most 4
    // consecutive rows, which then never share a slot.
    int64_t slotRow[4] = {-1, -1, -1, -1};
    size_t vectors = (static_cast<size_t>(across.count) + 3) / 2;
    for (int i = 0; i < 4; ++i) {
        // The padding past the last output is read by the last step of mixDown.
        memset(work.rows[i], 0, (vectors + 1) * 16);
    }
    for (int32_t j = 0; j < down.count; ++j) {
        int32_t taps = work.downCount[j];
        const __m128i* rows[4];
        for (int32_t k = 0; k < taps; ++k) {
            int64_t row = down.low + work.downStart[j] + k;
            int slot = static_cast<int>(row & 3);
            auto* scaled = reinterpret_cast<__m128i*>(work.rows[slot]);
            if (slotRow[slot] != row) {
                slotRow[slot] = row;
                if (acrossTaps == 2) {
                    scaleAcross2(softRow(from, row), across.count, work, scaled);
                } else {
                    scaleAcross4(softRow(from, row), across.count, work, scaled);
                }
            }
            rows[k] = scaled;
        }
        const uint32_t* weights = work.downWeights + static_cast<size_t>(j) * down.maxTaps;
        uint32_t* target =
            softRow(to, down.targetFirst + j - originY) + (across.targetFirst - originX);
        switch (taps) {
        case 1:
            mixDown<1>(rows, weights, across.count, target);
            break;
        case 2:
            mixDown<2>(rows, weights, across.count, target);
            break;
        case 3:
            mixDown<3>(rows, weights, across.count, target);
            break;
        default:
            mixDown<4>(rows, weights, across.count, target);
            break;
        }
    }
    return true;
}

#else

bool softStretchVector(PlatformBitmap*, int64_t, int64_t, const PlatformBitmap*,
                       const SoftStretchPlan&, const SoftStretchWork&) {
    return false;
}

#endif
