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

BEXU_AVX2 void scaleAcross4(const uint32_t* source, int32_t count, const SoftStretchWork& work,
                            uint8_t* row) {
    const auto* weights = reinterpret_cast<const __m256i*>(work.vectorWeights);
    const int32_t* start = work.vectorStart;
    auto* out = reinterpret_cast<__m256i*>(row);
    const __m256i zero = _mm256_setzero_si256();
    for (int32_t n = 0; n < count; n += 4, start += 4, weights += 4, ++out) {
        __m256i ac = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + start[0]))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + start[2])), 1);
        __m256i bd = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + start[1]))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + start[3])), 1);
        __m256i left =
            _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, ac), weights[0]),
                             _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, ac), weights[1]));
        __m256i right =
            _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, bd), weights[2]),
                             _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, bd), weights[3]));
        *out = _mm256_add_epi16(_mm256_unpacklo_epi64(left, right),
                                _mm256_unpackhi_epi64(left, right));
    }
}

// Eight pixels per step.
template <int taps>
BEXU_AVX2 void mixDown(const uint8_t* const* rowBytes, const uint32_t* weights, int32_t count,
                       uint32_t* target) {
    const __m256i* rows[4];
    __m256i w[4];
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

const SoftVectorKernels kAvx2Kernels = {
    4, {scaleAcross2, scaleAcross4}, {mixDown<1>, mixDown<2>, mixDown<3>, mixDown<4>}};
} // namespace

const SoftVectorKernels* softAvx2Kernels() {
    static const bool present = __builtin_cpu_supports("avx2");
    return present ? &kAvx2Kernels : nullptr;
}

#else

const SoftVectorKernels* softAvx2Kernels() {
    return nullptr;
}

#endif
