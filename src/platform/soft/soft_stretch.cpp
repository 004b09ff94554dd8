// Smoothing stretch: area averaging where an axis shrinks, bilinear interpolation
// where it grows, a plain copy at 1:1. The filter is separable: each source row
// is first scaled across, then the scaled rows are mixed down each column.
#include "platform/soft/soft_stretch.h"
#include "platform/soft/soft_internal.h"
#include "platform/soft/soft_surface.h"
#include "platform/soft/soft_vector.h"

#include <cstring>

namespace {
// Working memory that only grows, so a steady frame size allocates nothing per frame.
struct Scratch {
    uint8_t* block;
    size_t size;
};
Scratch scratch = {nullptr, 0};

// The scratch memory, its start rounded up to 64 bytes for whole-vector access.
uint8_t* scratchOf(size_t size) {
    if (size > scratch.size) {
        void* grown = platformAllocate(size + 63, false);
        if (grown == nullptr) {
            return nullptr;
        }
        platformFree(scratch.block);
        scratch.block = static_cast<uint8_t*>(grown);
        scratch.size = size;
    }
    return scratch.block + (64 - reinterpret_cast<uintptr_t>(scratch.block) % 64) % 64;
}

size_t alignUp(size_t size) {
    return (size + 63u) & ~size_t{63};
}

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int64_t maxOf(int64_t a, int64_t b) {
    return a > b ? a : b;
}
int64_t minOf(int64_t a, int64_t b) {
    return a < b ? a : b;
}

// Makes the rounded weights of one output sum to exactly 65536.
void balanceWeights(uint32_t* weights, int32_t count) {
    uint32_t sum = 0;
    int32_t largest = 0;
    for (int32_t k = 0; k < count; ++k) {
        sum += weights[k];
        largest = weights[k] > weights[largest] ? k : largest;
    }
    weights[largest] += 65536u - sum; // unsigned wrap-around gives the exact correction
}

int64_t greatestCommonDivisor(int64_t a, int64_t b) {
    while (b != 0) {
        int64_t rest = a % b;
        a = b;
        b = rest;
    }
    return a;
}

// The most source pixels an output of the whole span reads. Shrinking, output i covers
// [i * sourceLength, (i + 1) * sourceLength) in units of 1 / length; its start lies
// r = i * sourceLength mod length into a pixel, and r runs through every multiple of
// gcd(sourceLength, length) below length, so the widest cover starts at length - gcd.
int32_t spanTapsOf(int64_t length, int64_t sourceLength, int64_t low, int64_t high) {
    if (sourceLength == length) {
        return 1;
    }
    int64_t most = 2;
    if (sourceLength > length) {
        int64_t start = length - greatestCommonDivisor(sourceLength, length);
        most = (start + sourceLength + length - 1) / length;
    }
    return static_cast<int32_t>(minOf(most, high - low));
}

// Axis set-up. Output i of [0, length) lies at targetStart + i and reads the
// source span from sourceStart + i * sourceLength / length on. Only outputs inside
// [targetLow, targetHigh) whose centre maps into existing source pixels [low, high)
// are made. Source positions are kept relative to sourceStart, which keeps every
// product below 2^63 for any 32-bit arguments.
bool planAxis(SoftAxisPlan* plan, int64_t targetStart, int64_t length, int64_t targetLow,
              int64_t targetHigh, int64_t sourceStart, int64_t sourceLength, int64_t sourceSize) {
    int64_t low = maxOf(sourceStart, 0);
    int64_t high = minOf(sourceStart + sourceLength, sourceSize);
    if (low >= high) {
        return false;
    }
    int64_t first = maxOf(0, targetLow - targetStart);
    int64_t last = minOf(length, targetHigh - targetStart);
    // The centre of output i, in units of 1 / (2 * length), is (2i + 1) * sourceLength.
    int64_t needLow = 2 * (low - sourceStart) * length;
    first = maxOf(first, floorDiv(needLow + sourceLength - 1, 2 * sourceLength));
    int64_t needHigh = 2 * (high - sourceStart) * length;
    last = minOf(last, floorDiv(needHigh - sourceLength - 1, 2 * sourceLength) + 1);
    if (first >= last) {
        return false;
    }
    plan->targetFirst = targetStart + first;
    plan->count = static_cast<int32_t>(last - first);
    plan->outputFirst = first;
    plan->low = low;
    plan->high = high;
    plan->length = length;
    plan->sourceStart = sourceStart;
    plan->sourceLength = sourceLength;
    // A span covers at most sourceLength / length + 2 pixels, and only existing ones.
    plan->maxTaps = static_cast<int32_t>(
        sourceLength > length ? minOf(sourceLength / length + 2, high - low) : 2);
    plan->spanTaps = spanTapsOf(length, sourceLength, low, high);
    return true;
}

// Fills the taps of the planned outputs: for output n, tapCount[n] weights for the
// source pixels from low + tapStart[n] on.
// Returns the most taps any output has.
int32_t fillAxisTaps(const SoftAxisPlan* plan, int32_t* tapStart, int32_t* tapCount,
                     uint32_t* weights) {
    int32_t most = 1;
    int64_t length = plan->length;
    int64_t sourceLength = plan->sourceLength;
    int64_t lowRel = plan->low - plan->sourceStart;
    int64_t highRel = plan->high - plan->sourceStart;
    for (int32_t n = 0; n < plan->count; ++n) {
        int64_t i = plan->outputFirst + n;
        uint32_t* w = weights + static_cast<size_t>(n) * plan->maxTaps;
        if (sourceLength == length) {
            tapStart[n] = static_cast<int32_t>(i - lowRel);
            tapCount[n] = 1;
            w[0] = 65536;
        } else if (sourceLength > length) {
            // Area average over [a, b), in units of 1 / length, cut to existing pixels.
            int64_t a = maxOf(i * sourceLength, lowRel * length);
            int64_t b = minOf((i + 1) * sourceLength, highRel * length);
            int64_t k0 = a / length;
            int32_t count = static_cast<int32_t>((b + length - 1) / length - k0);
            for (int32_t k = 0; k < count; ++k) {
                int64_t overlap = minOf(b, (k0 + k + 1) * length) - maxOf(a, (k0 + k) * length);
                w[k] = static_cast<uint32_t>((overlap * 65536 + (b - a) / 2) / (b - a));
            }
            balanceWeights(w, count);
            tapStart[n] = static_cast<int32_t>(k0 - lowRel);
            tapCount[n] = count;
        } else {
            // Bilinear: the centre less half a source pixel, in units of 1 / (2 * length),
            // held inside the existing pixels.
            int64_t twice = 2 * length;
            int64_t u = (2 * i + 1) * sourceLength - length;
            u = minOf(maxOf(u, lowRel * twice), (highRel - 1) * twice);
            int64_t k0 = u / twice;
            uint32_t right = static_cast<uint32_t>(((u - k0 * twice) * 65536 + length) / twice);
            tapStart[n] = static_cast<int32_t>(k0 - lowRel);
            if (right == 0) {
                tapCount[n] = 1;
                w[0] = 65536;
            } else {
                tapCount[n] = 2;
                w[0] = 65536 - right;
                w[1] = right;
            }
        }
        most = tapCount[n] > most ? tapCount[n] : most;
    }
    return most;
}

void copyUnscaled(PlatformBitmap* to, int64_t originX, int64_t originY, const PlatformBitmap* from,
                  const SoftAxisPlan& across, const SoftAxisPlan& down) {
    int64_t sourceX = across.sourceStart + across.outputFirst;
    int64_t sourceY = down.sourceStart + down.outputFirst;
    for (int32_t j = 0; j < down.count; ++j) {
        memcpy(softRow(to, down.targetFirst + j - originY) + (across.targetFirst - originX),
               softRow(from, sourceY + j) + sourceX, static_cast<size_t>(across.count) * 4u);
    }
}
} // namespace

SoftStretchPath softStretchPath = SoftStretchPath::Fastest;

bool softPlanStretch(SoftStretchPlan* plan, const SoftBounds& bounds, int32_t x, int32_t y,
                     int32_t width, int32_t height, const PlatformBitmap* from, int32_t sourceX,
                     int32_t sourceY, int32_t sourceWidth, int32_t sourceHeight) {
    if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0) {
        return false;
    }
    return planAxis(&plan->across, x, width, bounds.left, bounds.right, sourceX, sourceWidth,
                    from->width) &&
           planAxis(&plan->down, y, height, bounds.top, bounds.bottom, sourceY, sourceHeight,
                    from->height);
}

bool softStretchPlanned(PlatformBitmap* to, int64_t originX, int64_t originY,
                        const PlatformBitmap* from, const SoftStretchPlan& plan) {
    const SoftAxisPlan& across = plan.across;
    const SoftAxisPlan& down = plan.down;
    if (across.length == across.sourceLength && down.length == down.sourceLength) {
        copyUnscaled(to, originX, originY, from, across, down);
        return true;
    }
    size_t acrossTaps = static_cast<size_t>(across.count) * across.maxTaps;
    size_t downTaps = static_cast<size_t>(down.count) * down.maxTaps;
    // Rows hold up to four 32-bit lanes per pixel and 4 pixels of padding.
    size_t rowBytes = alignUp((static_cast<size_t>(across.count) + 4u) * 16u);
    size_t vectorWeights = static_cast<size_t>(across.count + 4) * kSoftVectorWeightBytes;
    size_t portableWeights = softPortableWeightBytes(plan);
    size_t sizes[] = {
        static_cast<size_t>(across.count) * 8u, // acrossStart, acrossCount
        static_cast<size_t>(down.count) * 8u,   // downStart, downCount
        acrossTaps * 4u,
        downTaps * 4u,
        8 * rowBytes,
        vectorWeights > portableWeights ? vectorWeights : portableWeights,
        static_cast<size_t>(across.count + 4) * 4u, // vector starts
    };
    size_t need = 0;
    for (size_t size : sizes) {
        need += alignUp(size);
    }
    uint8_t* memory = scratchOf(need);
    if (memory == nullptr) {
        return false;
    }
    uint8_t* parts[7];
    for (int i = 0; i < 7; ++i) {
        parts[i] = memory;
        memory += alignUp(sizes[i]);
    }
    SoftStretchWork work;
    work.acrossStart = reinterpret_cast<int32_t*>(parts[0]);
    work.acrossCount = work.acrossStart + across.count;
    work.downStart = reinterpret_cast<int32_t*>(parts[1]);
    work.downCount = work.downStart + down.count;
    work.acrossWeights = reinterpret_cast<uint32_t*>(parts[2]);
    work.downWeights = reinterpret_cast<uint32_t*>(parts[3]);
    for (int i = 0; i < 8; ++i) {
        work.rows[i] = parts[4] + i * rowBytes;
    }
    work.laneWeights = parts[5];
    work.vectorStart = reinterpret_cast<int32_t*>(parts[6]);
    int32_t acrossMost =
        fillAxisTaps(&across, work.acrossStart, work.acrossCount, work.acrossWeights);
    int32_t downMost = fillAxisTaps(&down, work.downStart, work.downCount, work.downWeights);
    work.acrossMost = acrossMost > across.spanTaps ? acrossMost : across.spanTaps;
    work.downMost = downMost > down.spanTaps ? downMost : down.spanTaps;
    if (!softStretchVector(to, originX, originY, from, plan, work)) {
        softStretchPortable(to, originX, originY, from, plan, work);
    }
    return true;
}

// The soft layer has only the smoothing stretch: there is no other mode to set.
void platformSetSmoothStretch(PlatformSurface*) {}

void platformStretchCopy(PlatformSurface* target, int32_t x, int32_t y, int32_t width,
                         int32_t height, PlatformSurface* source, int32_t sourceX, int32_t sourceY,
                         int32_t sourceWidth, int32_t sourceHeight) {
    platformStretchCopyPart(target, x, y, width, height, source, sourceX, sourceY, sourceWidth,
                            sourceHeight, nullptr);
}

void platformStretchCopyPart(PlatformSurface* target, int32_t x, int32_t y, int32_t width,
                             int32_t height, PlatformSurface* source, int32_t sourceX,
                             int32_t sourceY, int32_t sourceWidth, int32_t sourceHeight,
                             const PlatformRect* part) {
    if (target == nullptr || source == nullptr) {
        return;
    }
    const PlatformBitmap* from = source->selected;
    SoftBounds bounds = {0, 0, target->selected->width, target->selected->height};
    if (target->window != nullptr) {
        int32_t clientWidth = 0, clientHeight = 0;
        platformClientSize(target->window, &clientWidth, &clientHeight);
        bounds = {0, 0, clientWidth, clientHeight};
    }
    if (part != nullptr) {
        bounds.left = maxOf(bounds.left, part->x);
        bounds.top = maxOf(bounds.top, part->y);
        bounds.right = minOf(bounds.right, int64_t{part->x} + part->width);
        bounds.bottom = minOf(bounds.bottom, int64_t{part->y} + part->height);
    }
    SoftStretchPlan plan;
    if (target->window == nullptr) {
        PlatformBitmap* to = target->selected;
        if (softPlanStretch(&plan, bounds, x, y, width, height, from, sourceX, sourceY, sourceWidth,
                            sourceHeight)) {
            softBitmapChanged(to);
            softStretchPlanned(to, 0, 0, from, plan);
        }
        return;
    }
    // The screen is the backend's: scale into a bitmap of the visible part and show
    // that, always smoothly (the player sets that mode on its back buffer only).
    if (!softPlanStretch(&plan, bounds, x, y, width, height, from, sourceX, sourceY, sourceWidth,
                         sourceHeight)) {
        return;
    }
    PlatformBitmap* shown = softCreateBitmap(plan.across.count, plan.down.count);
    if (shown == nullptr) {
        return;
    }
    if (softStretchPlanned(shown, plan.across.targetFirst, plan.down.targetFirst, from, plan)) {
        softPresent(target->window, static_cast<int32_t>(plan.across.targetFirst),
                    static_cast<int32_t>(plan.down.targetFirst), plan.across.count, plan.down.count,
                    shown, 0, 0);
    }
    platformDeleteBitmap(shown);
}
