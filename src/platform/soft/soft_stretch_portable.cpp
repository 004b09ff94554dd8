// The portable smoothing stretch. Up to the vector paths' 8 taps on each axis,
// their arithmetic in plain loops that the compiler turns into vector code for
// whatever processor it builds for, with the same results: a row holds one
// 16-bit lane per byte of each pixel, so every lane gets the same arithmetic and
// no loop branches per pixel. Loops run over whole blocks of kBlock lanes (rows
// are padded for it), which lets even a cautious optimiser replace them
// entirely. Source pixels are first gathered two taps at a time into rows of
// their own, the one step that stays scalar, so the multiplications read
// contiguous memory.
// More taps would add up the losses of too many truncated 16-bit products, so
// large reductions sum exactly in 32 bits instead.
#include "platform/soft/soft_internal.h"
#include "platform/soft/soft_stretch.h"
#include "platform/soft/soft_vector.h"

#include <cstring>

namespace {
constexpr int32_t kBlock = 16;   // lanes per block: four pixels
constexpr int32_t kRowSlots = 8; // scaled rows kept, by row number, two in each of rows[0..3]
// Read through pointers, see mixPair.
const uint16_t kNoWeight = 0;
const uint16_t kRounding = kSoftVectorRounding;

int32_t lanesOf(int32_t count) {
    return (count + 3) / 4 * kBlock;
}

int32_t evenTaps(int32_t taps) {
    return (taps + 1) / 2 * 2;
}

// Taps of the weight layout: the most any output may have, up to 8.
int32_t layoutTaps(const SoftAxisPlan& across) {
    return evenTaps(across.maxTaps < kSoftVectorTaps ? across.maxTaps : kSoftVectorTaps);
}

// The high half of a 16 x 16-bit product, which the optimiser knows as one instruction.
uint16_t mulHigh(uint16_t a, uint16_t b) {
    return static_cast<uint16_t>((uint32_t{a} * b) >> 16);
}

// A byte as a channel times 256.
uint16_t widened(uint8_t byte) {
    return static_cast<uint16_t>(byte << 8);
}

// The portable path's part of the lane weights.
struct Layout {
    uint16_t* across; // per tap, every output's weight repeated for its four lanes
    int32_t* start;   // per output, its first source pixel in the row
    uint16_t* down;   // per output row, its weights
};

Layout layoutOf(const SoftStretchPlan& plan, uint8_t* memory) {
    Layout layout;
    layout.across = reinterpret_cast<uint16_t*>(memory);
    layout.start = reinterpret_cast<int32_t*>(layout.across +
                                              static_cast<size_t>(layoutTaps(plan.across)) *
                                                  static_cast<size_t>(lanesOf(plan.across.count)));
    layout.down = reinterpret_cast<uint16_t*>(layout.start + plan.across.count);
    return layout;
}

// Whole pairs of loads must stay inside the row, so starts near its right end
// move left and the weights with them. Outputs with fewer taps, and the
// padding, weigh nothing.
void prepareWeights(const SoftStretchPlan& plan, const SoftStretchWork& work, int64_t rowWidth,
                    const Layout& layout) {
    const SoftAxisPlan& across = plan.across;
    size_t lanes = static_cast<size_t>(lanesOf(across.count));
    memset(layout.across, 0, static_cast<size_t>(evenTaps(work.acrossMost)) * lanes * 2u);
    for (int32_t n = 0; n < across.count; ++n) {
        int64_t start = across.low + work.acrossStart[n];
        int64_t shift = start + work.acrossMost > rowWidth ? start + work.acrossMost - rowWidth : 0;
        layout.start[n] = static_cast<int32_t>(start - shift);
        const uint32_t* w = work.acrossWeights + static_cast<size_t>(n) * across.maxTaps;
        for (int32_t k = 0; k < work.acrossCount[n]; ++k) {
            uint16_t* lane = layout.across + static_cast<size_t>(k + shift) * lanes + n * 4;
            lane[0] = lane[1] = lane[2] = lane[3] = softVectorWeight(w[k]);
        }
    }
    size_t downTaps = static_cast<size_t>(plan.down.count) * plan.down.maxTaps;
    for (size_t t = 0; t < downTaps; ++t) {
        layout.down[t] = softVectorWeight(work.downWeights[t]);
    }
}

// Taps k and k + second of every output, as rows of pixels.
void gatherPair(const uint32_t* source, const int32_t* start, int32_t count, int32_t k,
                int32_t second, uint32_t* __restrict first, uint32_t* __restrict next) {
    for (int32_t n = 0; n < count; ++n) {
        const uint32_t* p = source + start[n] + k;
        first[n] = p[0];
        next[n] = p[second];
    }
}

// sum = (sum & keep) + a * wa + b * wb, lane by lane, from gathered bytes.
// The products are truncated, as on the vector paths.
void weighPair(uint16_t* __restrict sum, const uint8_t* __restrict a, const uint16_t* __restrict wa,
               const uint8_t* __restrict b, const uint16_t* __restrict wb, int32_t lanes,
               uint16_t keep) {
    for (int32_t i = 0; i < lanes; i += kBlock) {
        for (int32_t l = 0; l < kBlock; ++l) {
            sum[i + l] =
                static_cast<uint16_t>((sum[i + l] & keep) + mulHigh(widened(a[i + l]), wa[i + l]) +
                                      mulHigh(widened(b[i + l]), wb[i + l]));
        }
    }
}

// The gathered pixels of the across pass.
struct AcrossRows {
    uint32_t* first;
    uint32_t* next;
};

// Scales one source row across into `out`, lanes of channel times 256. With an odd
// count of taps the last pair reads its first pixel twice; the second weighs nothing.
void scaleRowAcross(const uint32_t* source, int32_t count, int32_t taps, const Layout& layout,
                    const AcrossRows& rows, uint16_t* out) {
    int32_t lanes = lanesOf(count);
    auto* a = reinterpret_cast<const uint8_t*>(rows.first);
    auto* b = reinterpret_cast<const uint8_t*>(rows.next);
    for (int32_t k = 0; k < taps; k += 2) {
        gatherPair(source, layout.start, count, k, k + 1 < taps ? 1 : 0, rows.first, rows.next);
        const uint16_t* wa = layout.across + static_cast<size_t>(k) * lanes;
        weighPair(out, a, wa, b, wa + lanes, lanes, k > 0 ? 0xFFFF : 0);
    }
}

// The weights are read through pointers to 16-bit values, which shows the
// optimiser that 16 x 16-bit products are enough.
// sum = (sum & keep) + a * wa + b * wb, lane by lane, from scaled rows.
void mixPair(uint16_t* __restrict sum, const uint16_t* __restrict a, const uint16_t* __restrict wa,
             const uint16_t* __restrict b, const uint16_t* __restrict wb, int32_t lanes,
             uint16_t keep) {
    for (int32_t i = 0; i < lanes; i += kBlock) {
        for (int32_t l = 0; l < kBlock; ++l) {
            sum[i + l] = static_cast<uint16_t>((sum[i + l] & keep) + mulHigh(a[i + l], *wa) +
                                               mulHigh(b[i + l], *wb));
        }
    }
}

// The last pair, rounded into 8-bit channels of `count` target pixels: whole
// blocks straight into the target, the last part through `spill`.
void storePair(uint8_t* __restrict target, const uint16_t* __restrict sum,
               const uint16_t* __restrict a, const uint16_t* __restrict wa,
               const uint16_t* __restrict b, const uint16_t* __restrict wb, int32_t count,
               uint16_t keep, const uint16_t* __restrict rounding, uint8_t* __restrict spill) {
    int32_t lanes = lanesOf(count);
    for (int32_t i = 0; i < lanes; i += kBlock) {
        uint8_t* to = i + kBlock <= count * 4 ? target + i : spill;
        for (int32_t l = 0; l < kBlock; ++l) {
            uint16_t total = static_cast<uint16_t>((sum[i + l] & keep) + mulHigh(a[i + l], *wa) +
                                                   mulHigh(b[i + l], *wb));
            to[l] = static_cast<uint8_t>(static_cast<uint16_t>(total + *rounding) >> 8);
        }
    }
    if (count % 4 != 0) {
        memcpy(target + count / 4 * kBlock, spill, static_cast<size_t>(count % 4) * 4u);
    }
}

// ---- more than 8 taps on an axis: exact 32-bit sums ---------------------------

// Scales one source row across: each byte of a pixel times 256 (8 fraction bits), all
// four alike.
void scaleExactly(const uint32_t* source, const SoftAxisPlan& across, const SoftStretchWork& work,
                  uint32_t* out) {
    const uint32_t* base = source + across.low;
    for (int32_t n = 0; n < across.count; ++n) {
        const uint32_t* p = base + work.acrossStart[n];
        const uint32_t* w = work.acrossWeights + static_cast<size_t>(n) * across.maxTaps;
        uint32_t sums[4] = {};
        for (int32_t k = 0; k < work.acrossCount[n]; ++k) {
            for (int c = 0; c < 4; ++c) {
                sums[c] += ((p[k] >> (8 * c)) & 0xFF) * w[k];
            }
        }
        for (int c = 0; c < 4; ++c) {
            out[n * 4 + c] = (sums[c] + 128) >> 8;
        }
    }
}

// sum += scaled * weight, lane by lane; the rows never overlap.
void addWeighted(uint32_t* __restrict sum, const uint32_t* __restrict scaled, uint32_t weight,
                 int32_t lanes) {
    for (int32_t c = 0; c < lanes; ++c) {
        sum[c] += scaled[c] * weight;
    }
}

// Two scaled rows are kept, the less recently used one is replaced.
void stretchExactly(PlatformBitmap* to, int64_t originX, int64_t originY,
                    const PlatformBitmap* from, const SoftStretchPlan& plan,
                    const SoftStretchWork& work) {
    const SoftAxisPlan& across = plan.across;
    const SoftAxisPlan& down = plan.down;
    int64_t cached[2] = {-1, -1};
    int32_t older = 0;
    auto* sum = reinterpret_cast<uint32_t*>(work.rows[2]);
    for (int32_t j = 0; j < down.count; ++j) {
        const uint32_t* w = work.downWeights + static_cast<size_t>(j) * down.maxTaps;
        memset(sum, 0, static_cast<size_t>(across.count) * 16u);
        for (int32_t k = 0; k < work.downCount[j]; ++k) {
            int64_t row = down.low + work.downStart[j] + k;
            int32_t slot = cached[0] == row ? 0 : cached[1] == row ? 1 : -1;
            if (slot < 0) {
                slot = older;
                older ^= 1;
                cached[slot] = row;
                scaleExactly(softRow(from, row), across, work,
                             reinterpret_cast<uint32_t*>(work.rows[slot]));
            } else if (slot == older) {
                older ^= 1; // the other slot is now the less recently used
            }
            addWeighted(sum, reinterpret_cast<const uint32_t*>(work.rows[slot]), w[k],
                        across.count * 4);
        }
        uint32_t* target =
            softRow(to, down.targetFirst + j - originY) + (across.targetFirst - originX);
        for (int32_t n = 0; n < across.count; ++n) {
            uint32_t pixel = 0;
            for (int c = 0; c < 4; ++c) {
                pixel |= ((sum[n * 4 + c] + (1u << 23)) >> 24) << (8 * c);
            }
            target[n] = pixel;
        }
    }
}
} // namespace

size_t softPortableWeightBytes(const SoftStretchPlan& plan) {
    return static_cast<size_t>(layoutTaps(plan.across)) *
               static_cast<size_t>(lanesOf(plan.across.count)) * 2u +
           static_cast<size_t>(plan.across.count) * 4u +
           static_cast<size_t>(plan.down.count) * static_cast<size_t>(plan.down.maxTaps) * 2u;
}

void softStretchPortable(PlatformBitmap* to, int64_t originX, int64_t originY,
                         const PlatformBitmap* from, const SoftStretchPlan& plan,
                         const SoftStretchWork& work) {
    if (work.acrossMost > kSoftVectorTaps || work.downMost > kSoftVectorTaps) {
        stretchExactly(to, originX, originY, from, plan, work);
        return;
    }
    const SoftAxisPlan& across = plan.across;
    const SoftAxisPlan& down = plan.down;
    int32_t lanes = lanesOf(across.count);
    Layout layout = layoutOf(plan, work.laneWeights);
    prepareWeights(plan, work, from->width, layout);
    AcrossRows acrossRows = {reinterpret_cast<uint32_t*>(work.rows[4]),
                             reinterpret_cast<uint32_t*>(work.rows[4] + lanes)};
    memset(acrossRows.first, 0, static_cast<size_t>(lanes) * 2u); // the padding pixels
    auto* sum = reinterpret_cast<uint16_t*>(work.rows[5]);
    uint8_t* spill = work.rows[6];
    int64_t slotRow[kRowSlots] = {-1, -1, -1, -1, -1, -1, -1, -1};
    // An output reads at most 8 consecutive rows, which then never share a slot.
    auto scaled = [&](int64_t row) {
        int32_t slot = static_cast<int32_t>(row % kRowSlots);
        auto* lanesOfRow =
            reinterpret_cast<uint16_t*>(work.rows[slot / 2] + (slot % 2) * lanes * 2);
        if (slotRow[slot] != row) {
            slotRow[slot] = row;
            scaleRowAcross(softRow(from, row), across.count, work.acrossMost, layout, acrossRows,
                           lanesOfRow);
        }
        return lanesOfRow;
    };
    for (int32_t j = 0; j < down.count; ++j) {
        const uint16_t* w = layout.down + static_cast<size_t>(j) * down.maxTaps;
        int32_t taps = work.downCount[j];
        int64_t first = down.low + work.downStart[j];
        auto* target = reinterpret_cast<uint8_t*>(softRow(to, down.targetFirst + j - originY) +
                                                  (across.targetFirst - originX));
        for (int32_t k = 0; k < taps; k += 2) {
            const uint16_t* a = scaled(first + k);
            const uint16_t* b = k + 1 < taps ? scaled(first + k + 1) : a;
            const uint16_t* wb = k + 1 < taps ? w + k + 1 : &kNoWeight;
            uint16_t keep = k > 0 ? 0xFFFF : 0;
            if (k + 2 < taps) {
                mixPair(sum, a, w + k, b, wb, lanes, keep);
            } else {
                storePair(target, sum, a, w + k, b, wb, across.count, keep, &kRounding, spill);
            }
        }
    }
}
