// Smoothing stretch: the quality gate against floating-point area averaging and
// bilinear references, for the vector and the portable path, and its clipping.
#include "soft_canvas.h"

#include "platform/soft/soft_stretch.h"
#include "platform/soft/soft_surface.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {
// Every path this machine has is checked: AVX2 (where present), SSE2 and portable.
#if defined(__SSE2__)
const SoftStretchPath kPaths[] = {SoftStretchPath::Fastest, SoftStretchPath::Sse2,
                                  SoftStretchPath::Portable};
#else
const SoftStretchPath kPaths[] = {SoftStretchPath::Portable};
#endif

const char* pathName(SoftStretchPath path) {
    return path == SoftStretchPath::Fastest ? "fastest"
           : path == SoftStretchPath::Sse2  ? "SSE2"
                                            : "portable";
}

// A smoothing target (or source) filled with noise.
Canvas makeNoise(int32_t width, int32_t height, uint32_t seed) {
    Canvas canvas = makeCanvas(width, height, seed);
    platformSetSmoothStretch(canvas.surface);
    return canvas;
}

// Per output index of one axis: source indices and weights, in double precision.
struct Taps {
    std::vector<std::vector<std::pair<int32_t, double>>> of;
};

Taps referenceTaps(int32_t sourceLength, int32_t length) {
    Taps taps;
    taps.of.resize(length);
    double scale = static_cast<double>(sourceLength) / length;
    for (int32_t i = 0; i < length; ++i) {
        if (sourceLength == length) {
            taps.of[i].push_back({i, 1.0});
        } else if (sourceLength > length) {
            // The exact area the output pixel covers.
            double a = static_cast<double>(i) * sourceLength / length;
            double b = static_cast<double>(i + 1) * sourceLength / length;
            for (int32_t k = static_cast<int32_t>(std::floor(a)); k < b && k < sourceLength; ++k) {
                double overlap = std::min(b, k + 1.0) - std::max(a, static_cast<double>(k));
                if (overlap > 0) {
                    taps.of[i].push_back({k, overlap / scale});
                }
            }
        } else {
            double u = (i + 0.5) * scale - 0.5;
            u = std::min(std::max(u, 0.0), sourceLength - 1.0);
            int32_t k = static_cast<int32_t>(std::floor(u));
            double f = u - k;
            taps.of[i].push_back({k, 1.0 - f});
            taps.of[i].push_back({std::min(k + 1, sourceLength - 1), f});
        }
    }
    return taps;
}

// The largest difference, in levels, between the stretch and the reference.
double largestError(const PlatformBitmap* source, const PlatformBitmap* result, int32_t width,
                    int32_t height) {
    Taps across = referenceTaps(source->width, width);
    Taps down = referenceTaps(source->height, height);
    std::vector<double> rows(static_cast<size_t>(source->height) * width * 3);
    for (int32_t y = 0; y < source->height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (auto& tap : across.of[x]) {
                    sum += ((source->pixels[y * source->width + tap.first] >> (8 * c)) & 0xFF) *
                           tap.second;
                }
                rows[(static_cast<size_t>(y) * width + x) * 3 + c] = sum;
            }
        }
    }
    double largest = 0;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint32_t got = result->pixels[static_cast<size_t>(y) * result->width + x];
            if ((got >> 24) != 0) {
                return 999;
            }
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (auto& tap : down.of[y]) {
                    sum += rows[(static_cast<size_t>(tap.first) * width + x) * 3 + c] * tap.second;
                }
                largest = std::max(largest, std::fabs(((got >> (8 * c)) & 0xFF) - sum));
            }
        }
    }
    return largest;
}

struct SizeCase {
    int32_t width, height;
};

const SizeCase kGateSizes[] = {
    {800, 450},   {803, 451},  {640, 360},   {1280, 720},  {500, 281},  {1599, 899},
    {1920, 1080}, {1601, 901}, {2000, 1125}, {3840, 2160}, {1600, 450}, {2400, 600},
    {123, 1000},  {100, 56},   {300, 169},   {229, 129},   {1600, 130}, {4, 4},
};

TEST(StretchQuality, WithinOneLevelOfTheFloatingPointReference) {
    Canvas source = makeNoise(1600, 900, 42);
    for (SoftStretchPath path : kPaths) {
        softStretchPath = path;
        for (const SizeCase& size : kGateSizes) {
            SCOPED_TRACE(testing::Message()
                         << size.width << "x" << size.height << " " << pathName(path));
            Canvas target = makeNoise(size.width, size.height, 7);
            platformStretchCopy(target.surface, 0, 0, size.width, size.height, source.surface, 0, 0,
                                1600, 900);
            EXPECT_LE(largestError(source.bitmap, target.bitmap, size.width, size.height), 1.0);
            freeCanvas(target);
        }
    }
    softStretchPath = SoftStretchPath::Fastest;
    freeCanvas(source);
}

// AVX2 does the SSE2 arithmetic on wider registers, the portable path in plain
// loops: all agree bit for bit, whatever the count of outputs left over by the
// wider steps.
TEST(StretchQuality, AllPathsAgreeExactly) {
    if (std::size(kPaths) == 1) {
        GTEST_SKIP() << "only the portable path is built here";
    }
    Canvas source = makeNoise(1600, 900, 17);
    for (const SizeCase& size : kGateSizes) {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
        int32_t extras = size.width * size.height > 4000000 ? 1 : 8;
        for (int32_t extra = 0; extra < extras; ++extra) {
            int32_t width = size.width + extra;
            Canvas narrow = makeNoise(width, size.height, 3);
            softStretchPath = SoftStretchPath::Sse2;
            platformStretchCopy(narrow.surface, 0, 0, width, size.height, source.surface, 0, 0,
                                1600, 900);
            for (SoftStretchPath path : {SoftStretchPath::Fastest, SoftStretchPath::Portable}) {
                Canvas other = makeNoise(width, size.height, 3);
                softStretchPath = path;
                platformStretchCopy(other.surface, 0, 0, width, size.height, source.surface, 0, 0,
                                    1600, 900);
                EXPECT_TRUE(pixelsOf(other.bitmap) == pixelsOf(narrow.bitmap))
                    << width << " " << pathName(path);
                freeCanvas(other);
            }
            freeCanvas(narrow);
        }
    }
    softStretchPath = SoftStretchPath::Fastest;
    freeCanvas(source);
}

TEST(StretchQuality, OneToOneIsAnExactCopy) {
    Canvas source = makeNoise(1600, 900, 3);
    Canvas target = makeNoise(1600, 900, 4);
    platformStretchCopy(target.surface, 0, 0, 1600, 900, source.surface, 0, 0, 1600, 900);
    for (int32_t i = 0; i < 1600 * 900; ++i) {
        ASSERT_EQ(target.bitmap->pixels[i], source.bitmap->pixels[i]) << i;
    }
    freeCanvas(source);
    freeCanvas(target);
}

TEST(StretchQuality, FlatColoursStayExact) {
    const uint32_t colours[] = {0xFFFFFF, 0x000000, 0x123456, 0xFF00FF, 0x01FE80};
    for (SoftStretchPath path : kPaths) {
        softStretchPath = path;
        for (uint32_t colour : colours) {
            Canvas source = makeFlat(160, 90, colour);
            for (const SizeCase& size : {SizeCase{80, 45}, SizeCase{81, 46}, SizeCase{64, 36},
                                         SizeCase{192, 108}, SizeCase{7, 3}, SizeCase{999, 17}}) {
                SCOPED_TRACE(testing::Message() << std::hex << colour << std::dec << " "
                                                << size.width << "x" << size.height);
                Canvas target = makeNoise(size.width, size.height, 2);
                platformStretchCopy(target.surface, 0, 0, size.width, size.height, source.surface,
                                    0, 0, 160, 90);
                for (int32_t i = 0; i < size.width * size.height; ++i) {
                    ASSERT_EQ(target.bitmap->pixels[i], colour) << i;
                }
                freeCanvas(target);
            }
            freeCanvas(source);
        }
    }
    softStretchPath = SoftStretchPath::Fastest;
}

struct ClipCase {
    int32_t x, y;
};

// A rectangle cut by the target's edges shows exactly the matching part of the
// uncut result.
TEST(StretchClip, CutRectangleShowsThePartOfTheWholeResult) {
    const int32_t width = 803, height = 451;
    Canvas source = makeNoise(1600, 900, 11);
    Canvas whole = makeNoise(width, height, 12);
    const ClipCase cases[] = {{-100, -50}, {300, 200},  {-802, 0},  {0, -450},
                              {399, -3},   {-400, 449}, {-1000, 0}, {500, 500}};
    for (SoftStretchPath path : kPaths) {
        softStretchPath = path;
        platformStretchCopy(whole.surface, 0, 0, width, height, source.surface, 0, 0, 1600, 900);
        for (const ClipCase& test : cases) {
            SCOPED_TRACE(testing::Message() << test.x << "," << test.y << " " << pathName(path));
            Canvas target = makeNoise(500, 300, 13);
            std::vector<uint32_t> before(target.bitmap->pixels, target.bitmap->pixels + 500 * 300);
            platformStretchCopy(target.surface, test.x, test.y, width, height, source.surface, 0, 0,
                                1600, 900);
            for (int32_t y = 0; y < 300; ++y) {
                for (int32_t x = 0; x < 500; ++x) {
                    int32_t wx = x - test.x, wy = y - test.y;
                    bool drawn = wx >= 0 && wx < width && wy >= 0 && wy < height;
                    uint32_t expected =
                        drawn ? whole.bitmap->pixels[wy * width + wx] : before[y * 500 + x];
                    ASSERT_EQ(target.bitmap->pixels[y * 500 + x], expected) << x << "," << y;
                }
            }
            freeCanvas(target);
        }
    }
    softStretchPath = SoftStretchPath::Fastest;
    freeCanvas(source);
    freeCanvas(whole);
}

// A part of a stretch, down to one pixel, comes out as the same part of the whole
// stretch, on every path; near a seventh, where some outputs read more than eight source
// pixels, too. Pixels outside the part keep what they were.
TEST(StretchClip, PartShowsThePartOfTheWholeResult) {
    const SizeCase sizes[] = {{803, 451}, {1920, 1080}, {213, 120}, {229, 129}, {1601, 900}};
    const PlatformRect parts[] = {{0, 0, 1, 1},      {5, 7, 1, 40},     {100, 50, 31, 37},
                                  {-20, -20, 60, 9}, {190, 0, 1, 5000}, {0, 0, 1, 5000},
                                  {1, 1, 5000, 5000}};
    Canvas source = makeNoise(1600, 900, 21);
    for (SoftStretchPath path : kPaths) {
        softStretchPath = path;
        for (const SizeCase& size : sizes) {
            Canvas whole = makeNoise(size.width, size.height, 22);
            platformStretchCopy(whole.surface, 0, 0, size.width, size.height, source.surface, 0, 0,
                                1600, 900);
            for (const PlatformRect& part : parts) {
                SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " part "
                                                << part.x << "," << part.y << " " << part.width
                                                << "x" << part.height << " " << pathName(path));
                Canvas target = makeNoise(size.width, size.height, 23);
                std::vector<uint32_t> before = pixelsOf(target.bitmap);
                platformStretchCopyPart(target.surface, 0, 0, size.width, size.height,
                                        source.surface, 0, 0, 1600, 900, &part);
                for (int32_t y = 0; y < size.height; ++y) {
                    for (int32_t x = 0; x < size.width; ++x) {
                        bool inside = x >= part.x && x < part.x + part.width && y >= part.y &&
                                      y < part.y + part.height;
                        size_t i = size_t(y) * size.width + x;
                        ASSERT_EQ(target.bitmap->pixels[i],
                                  inside ? whole.bitmap->pixels[i] : before[i])
                            << x << "," << y;
                    }
                }
                freeCanvas(target);
            }
            freeCanvas(whole);
        }
    }
    softStretchPath = SoftStretchPath::Fastest;
    freeCanvas(source);
}

TEST(StretchClip, SourceBeyondItsBitmapDrawsOnlyWhereSourceExists) {
    Canvas source = makeFlat(10, 10, 0x808080);
    Canvas target = makeFlat(40, 20, 0x000001);
    platformSetSmoothStretch(target.surface);
    // Source columns -10 to 9: only target columns whose centre maps to 0..9 are drawn.
    platformStretchCopy(target.surface, 0, 0, 40, 20, source.surface, -10, 0, 20, 10);
    for (int32_t y = 0; y < 20; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            EXPECT_EQ(target.bitmap->pixels[y * 40 + x], x < 20 ? 0x000001u : 0x808080u)
                << x << "," << y;
        }
    }
    freeCanvas(source);
    freeCanvas(target);
}

struct AbsurdCase {
    int32_t x, y, width, height, sourceX, sourceY, sourceWidth, sourceHeight;
};

TEST(StretchClip, AbsurdRectanglesStayInsideTheBuffers) {
    const AbsurdCase cases[] = {
        {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 0, 64, 36},
        {0, 0, INT32_MAX, INT32_MAX, 0, 0, 64, 36},
        {-5, -5, 100, 100, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
        {0, 0, 100, 100, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
        {0, 0, 3, 3, 0, 0, INT32_MAX, INT32_MAX},
        {0, 0, 100, 100, -1, -1, 2, 2},
        {0, 0, 100, 100, 63, 35, 1, 1},
        {0, 0, -100, 100, 0, 0, 64, 36},
        {0, 0, 100, 100, 0, 0, -64, 36},
        {0, 0, 0, 100, 0, 0, 64, 36},
        {99, 99, 1, 1, 0, 0, 64, 36},
        {INT32_MAX, 0, INT32_MAX, 10, INT32_MIN, 0, INT32_MAX, 10},
        // One output whose span is the whole 32-bit range, centred on the bitmap.
        {0, 0, 1, 1, -(1 << 30) + 10, -(1 << 30) + 10, INT32_MAX, INT32_MAX},
        {5, 5, 1, 2, -(1 << 30) + 10, 0, INT32_MAX, 36},
    };
    Canvas source = makeNoise(64, 36, 5);
    for (SoftStretchPath path : kPaths) {
        softStretchPath = path;
        for (const AbsurdCase& test : cases) {
            Canvas target = makeNoise(100, 100, 6);
            platformStretchCopy(target.surface, test.x, test.y, test.width, test.height,
                                source.surface, test.sourceX, test.sourceY, test.sourceWidth,
                                test.sourceHeight);
            freeCanvas(target);
        }
    }
    softStretchPath = SoftStretchPath::Fastest;
    freeCanvas(source);
}

// The soft layer has one stretch, the smoothing one: a surface never set to it stretches
// the same, enlarging or reducing.
TEST(StretchModes, EveryStretchSmooths) {
    Canvas source = makeNoise(4, 2, 8);
    const SizeCase kSizes[] = {{8, 1}, {7, 3}, {2, 1}, {3, 5}};
    for (const SizeCase& size : kSizes) {
        Canvas plain = makeCanvas(size.width, size.height, 1);
        Canvas smooth = makeNoise(size.width, size.height, 1);
        platformStretchCopy(plain.surface, 0, 0, size.width, size.height, source.surface, 0, 0, 4,
                            2);
        platformStretchCopy(smooth.surface, 0, 0, size.width, size.height, source.surface, 0, 0, 4,
                            2);
        EXPECT_EQ(pixelsOf(plain.bitmap), pixelsOf(smooth.bitmap))
            << size.width << "x" << size.height;
        freeCanvas(plain);
        freeCanvas(smooth);
    }
    freeCanvas(source);
}

TEST(StretchFrames, RepeatedFramesAllocateNothing) {
    Canvas source = makeNoise(1600, 900, 5);
    Canvas target = makeNoise(1920, 1080, 6);
    platformStretchCopy(target.surface, 0, 0, 1920, 1080, source.surface, 0, 0, 1600, 900);
    platformStretchCopy(target.surface, 0, 0, 800, 450, source.surface, 0, 0, 1600, 900);
    uint64_t allocations = platformAllocationCount();
    for (int frame = 0; frame < 3; ++frame) {
        platformStretchCopy(target.surface, 0, 0, 1920, 1080, source.surface, 0, 0, 1600, 900);
        platformStretchCopy(target.surface, 0, 0, 800, 450, source.surface, 0, 0, 1600, 900);
    }
    EXPECT_EQ(platformAllocationCount(), allocations);
    freeCanvas(source);
    freeCanvas(target);
}
} // namespace
