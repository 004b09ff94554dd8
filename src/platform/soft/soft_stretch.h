// Inner parts of the smoothing stretch, open to tests and benchmarks so both the
// vector and the portable paths can be checked against a reference.
#pragma once

#include "platform/soft/soft_surface.h"

#include <cstdint>

// One axis of a stretch: the outputs that are made and where their source lies.
struct SoftAxisPlan {
    int64_t targetFirst; // target coordinate of the first output made
    int32_t count;       // outputs made
    int64_t outputFirst; // index of the first output made within the whole target span
    int64_t low, high;   // the existing source pixels the span may read
    int64_t length, sourceLength, sourceStart;
    int32_t maxTaps; // most source pixels one output reads
    // Most source pixels any output of the whole span reads, made or not: the inner loops
    // are chosen by it, so a part of a stretch comes out as the same part of the whole.
    int32_t spanTaps;
};

// The target area a stretch may draw into: [left, right) x [top, bottom).
struct SoftBounds {
    int64_t left, top, right, bottom;
};

struct SoftStretchPlan {
    SoftAxisPlan across, down;
};

// Weights are fractions of 65536; per output, `count` weights from `start` (relative to low).
struct SoftStretchWork {
    int32_t* acrossStart;
    int32_t* acrossCount;
    uint32_t* acrossWeights;
    int32_t* downStart;
    int32_t* downCount;
    uint32_t* downWeights;
    int32_t acrossMost, downMost; // the most taps of any output
    uint8_t* rows[8];             // scaled source rows and sums
    uint8_t* vectorWeights;       // the vector path's own weight layout
    int32_t* vectorStart;
};

// Which inner loops run, for tests and benchmarks: the fastest the processor
// has (AVX2, else SSE2), SSE2, or the portable ones.
enum class SoftStretchPath { Fastest, Sse2, Portable };
extern SoftStretchPath softStretchPath;

bool softPlanStretch(SoftStretchPlan* plan, const SoftBounds& bounds, int32_t x, int32_t y,
                     int32_t width, int32_t height, const PlatformBitmap* from, int32_t sourceX,
                     int32_t sourceY, int32_t sourceWidth, int32_t sourceHeight);
// Writes the planned outputs; the target pixel (originX, originY) is `to`'s first pixel.
bool softStretchPlanned(PlatformBitmap* to, int64_t originX, int64_t originY,
                        const PlatformBitmap* from, const SoftStretchPlan& plan);
// False when the vector path cannot take this plan (or is not built).
bool softStretchVector(PlatformBitmap* to, int64_t originX, int64_t originY,
                       const PlatformBitmap* from, const SoftStretchPlan& plan,
                       const SoftStretchWork& work);
void softStretchPortable(PlatformBitmap* to, int64_t originX, int64_t originY,
                         const PlatformBitmap* from, const SoftStretchPlan& plan,
                         const SoftStretchWork& work);
