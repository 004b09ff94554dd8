// AVX2 inner loops of the smoothing stretch: the SSE2 arithmetic on twice the
// width, chosen at run time where the processor has AVX2.
#include "platform/soft/soft_vector.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#define BEXU_AVX2 __attribute__((target("avx2")))

namespace {
// Four outputs per step: a and c share one register, b and d the other.
BEXU_AVX2 void scaleAcross2(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                            uint8_t* row) {
    const auto* weights = reinterpret_cast<const __m256i*>(work.vectorWeights);
    const int32_t* start = work.vectorStart;
    auto* out = reinterpret_cast<__m256i*>(row);
    const __m256i zero = _mm256_setzero_si256();
    for (int32_t n = 0; n < count; n += 4, start += 4, weights += 2, ++out) {
        __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + start[0]));
        __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + start[1]));
        __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + start[2]));
        __m128i d = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + start[3]));
        __m256i pixels = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi64(a, b)),
                                                 _mm_unpacklo_epi64(c, d), 1);
        __m256i left = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, pixels), weights[0]);
        __m256i right = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, pixels), weights[1]);
        *out = _mm256_add_epi16(_mm256_unpacklo_epi64(left, right),
                                _mm256_unpackhi_epi64(left, right));
    }
}

// Four source pixels each of outputs a and c, times their weights: two half
// sums of 4 channels per output.
BEXU_AVX2 inline __m256i weighFour(const uint32_t* a, const uint32_t* c, const __m256i* weights) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i pixels = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(c)), 1);
    return _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, pixels), weights[0]),
                            _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, pixels), weights[1]));
}

BEXU_AVX2 void scaleAcross4(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                            uint8_t* row) {
    const auto* weights = reinterpret_cast<const __m256i*>(work.vectorWeights);
    const int32_t* start = work.vectorStart;
    auto* out = reinterpret_cast<__m256i*>(row);
    for (int32_t n = 0; n < count; n += 4, start += 4, weights += 4, ++out) {
        __m256i left = weighFour(source + start[0], source + start[2], weights);
        __m256i right = weighFour(source + start[1], source + start[3], weights + 2);
        *out = _mm256_add_epi16(_mm256_unpacklo_epi64(left, right),
                                _mm256_unpackhi_epi64(left, right));
    }
}

BEXU_AVX2 void scaleAcross8(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                            uint8_t* row) {
    const auto* weights = reinterpret_cast<const __m256i*>(work.vectorWeights);
    const int32_t* start = work.vectorStart;
    auto* out = reinterpret_cast<__m256i*>(row);
    for (int32_t n = 0; n < count; n += 4, start += 4, weights += 8, ++out) {
        const uint32_t* a = source + start[0];
        const uint32_t* b = source + start[1];
        const uint32_t* c = source + start[2];
        const uint32_t* d = source + start[3];
        __m256i left =
            _mm256_add_epi16(weighFour(a, c, weights), weighFour(a + 4, c + 4, weights + 2));
        __m256i right =
            _mm256_add_epi16(weighFour(b, d, weights + 4), weighFour(b + 4, d + 4, weights + 6));
        *out = _mm256_add_epi16(_mm256_unpacklo_epi64(left, right),
                                _mm256_unpackhi_epi64(left, right));
    }
}

// Eight pixels per step.
template <int taps>
BEXU_AVX2 void mixDown(const uint8_t* const* rowBytes, const uint32_t* weights, int32_t count,
                       uint32_t* target) {
    const __m256i* rows[taps];
    __m256i w[taps];
    for (int k = 0; k < taps; ++k) {
        rows[k] = reinterpret_cast<const __m256i*>(rowBytes[k]);
        w[k] = _mm256_set1_epi16(static_cast<int16_t>(softVectorWeight(weights[k])));
    }
    const __m256i rounding = _mm256_set1_epi16(kSoftVectorRounding);
    for (int32_t n = 0; n < count; n += 8) {
        int32_t v = n / 4;
        __m256i low = _mm256_mulhi_epu16(rows[0][v], w[0]);
        __m256i high = _mm256_mulhi_epu16(rows[0][v + 1], w[0]);
        for (int k = 1; k < taps; ++k) {
            low = _mm256_add_epi16(low, _mm256_mulhi_epu16(rows[k][v], w[k]));
            high = _mm256_add_epi16(high, _mm256_mulhi_epu16(rows[k][v + 1], w[k]));
        }
        low = _mm256_srli_epi16(_mm256_add_epi16(low, rounding), 8);
        high = _mm256_srli_epi16(_mm256_add_epi16(high, rounding), 8);
        // Packing works within each half: put the pixels back in order.
        __m256i pixels = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
        if (count - n >= 8) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + n), pixels);
        } else {
            uint32_t last[8];
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(last), pixels);
            memcpy(target + n, last, static_cast<size_t>(count - n) * 4u);
        }
    }
}

const SoftVectorKernels kAvx2Kernels = {4,
                                        {scaleAcross2, scaleAcross4, scaleAcross8},
                                        {mixDown<1>, mixDown<2>, mixDown<3>, mixDown<4>, mixDown<5>,
                                         mixDown<6>, mixDown<7>, mixDown<8>}};
} // namespace

// Asked once, by the one thread that draws. A plain variable rather than a guarded local
// static: the guard is all the player would take from the C++ runtime library, which
// then need not be loaded at all (some 0.8 MB resident and its start-up).
namespace {
int avx2Present = -1; // not asked yet
} // namespace

const SoftVectorKernels* softAvx2Kernels() {
    if (avx2Present < 0) {
        __builtin_cpu_init(); // may run before the runtime's own start-up did it
        avx2Present = __builtin_cpu_supports("avx2") != 0 ? 1 : 0;
    }
    return avx2Present != 0 ? &kAvx2Kernels : nullptr;
}

#else

const SoftVectorKernels* softAvx2Kernels() {
    return nullptr;
}

#endif
