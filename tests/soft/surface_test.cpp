// Surfaces and the same-size copies: every rectangle, however placed, draws
// exactly the pixels that exist on both sides and nothing else.
#include "soft_canvas.h"

#include "platform/soft/soft_surface.h"

#include "platform/headless/headless.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {
bool inside(int64_t value, int64_t start, int64_t length) {
    return value >= start && value < start + length;
}

struct Rect {
    int32_t x, y, width, height, sourceX, sourceY;
};

// Placements around a 9 x 7 target and a 6 x 5 source, from inside to absurd.
const Rect kRects[] = {
    {0, 0, 6, 5, 0, 0},
    {2, 1, 3, 2, 1, 2},
    {-2, -1, 6, 5, 0, 0},
    {5, 4, 6, 5, 0, 0},
    {0, 0, 6, 5, -3, -2},
    {1, 1, 9, 9, 4, 3},
    {-5, 3, 20, 20, -4, -10},
    {8, 6, 1, 1, 5, 4},
    {9, 0, 3, 3, 0, 0},
    {0, 7, 3, 3, 0, 0},
    {0, 0, 3, 3, 6, 0},
    {0, 0, 3, 3, 0, 5},
    {0, 0, 0, 5, 0, 0},
    {0, 0, 5, -1, 0, 0},
    {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 0},
    {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN},
    {-3, -3, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN},
    {0, 0, INT32_MAX, INT32_MAX, -2, -1},
    {2, 2, 4, 4, INT32_MAX, INT32_MAX},
    {INT32_MIN + 1, 0, INT32_MAX, 3, INT32_MIN + 1, 0},
};

// Copies every rectangle of the table, with or without the key, and compares each
// target pixel with what a pixel-by-pixel copy would leave there.
void checkCopies(bool keyed) {
    for (const Rect& rect : kRects) {
        SCOPED_TRACE(testing::Message()
                     << rect.x << "," << rect.y << " " << rect.width << "x" << rect.height
                     << " from " << rect.sourceX << "," << rect.sourceY);
        Canvas target = makeCanvas(9, 7, 1);
        Canvas source = makeCanvas(6, 5, 77);
        for (int32_t i = 0; i < 30; i += 3) {
            source.bitmap->pixels[i] = 0xFF00FF;
        }
        std::vector<uint32_t> before = pixelsOf(target.bitmap);
        if (keyed) {
            platformCopyKeyed(target.surface, rect.x, rect.y, rect.width, rect.height,
                              source.surface, rect.sourceX, rect.sourceY, rect.width, rect.height,
                              kColorMagenta);
        } else {
            platformCopy(target.surface, rect.x, rect.y, rect.width, rect.height, source.surface,
                         rect.sourceX, rect.sourceY);
        }
        for (int64_t ty = 0; ty < 7; ++ty) {
            for (int64_t tx = 0; tx < 9; ++tx) {
                int64_t fx = rect.sourceX + (tx - rect.x);
                int64_t fy = rect.sourceY + (ty - rect.y);
                bool copied = inside(tx, rect.x, rect.width) && inside(ty, rect.y, rect.height) &&
                              inside(fx, 0, 6) && inside(fy, 0, 5) &&
                              (!keyed || source.bitmap->pixels[fy * 6 + fx] != 0xFF00FF);
                uint32_t expected =
                    copied ? source.bitmap->pixels[fy * 6 + fx] : before[ty * 9 + tx];
                ASSERT_EQ(target.bitmap->pixels[ty * 9 + tx], expected) << tx << "," << ty;
            }
        }
        freeCanvas(target);
        freeCanvas(source);
    }
}

TEST(SurfaceCopy, ClipsToTargetAndSource) {
    checkCopies(false);
}

TEST(SurfaceCopy, KeyedCopyLeavesOutTheKeyAndClips) {
    checkCopies(true);
}

TEST(SurfaceCopy, FillClipsToTheBitmap) {
    for (const Rect& rect : kRects) {
        SCOPED_TRACE(testing::Message()
                     << rect.x << "," << rect.y << " " << rect.width << "x" << rect.height);
        Canvas target = makeCanvas(9, 7, 1);
        std::vector<uint32_t> before = pixelsOf(target.bitmap);
        platformFillRect(target.surface, rect.x, rect.y, rect.width, rect.height, 0x00332211);
        for (int64_t ty = 0; ty < 7; ++ty) {
            for (int64_t tx = 0; tx < 9; ++tx) {
                bool filled = inside(tx, rect.x, rect.width) && inside(ty, rect.y, rect.height);
                // Colour references are 0x00BBGGRR; pixels 0x00RRGGBB.
                uint32_t expected = filled ? 0x112233 : before[ty * 9 + tx];
                ASSERT_EQ(target.bitmap->pixels[ty * 9 + tx], expected) << tx << "," << ty;
            }
        }
        freeCanvas(target);
    }
}

struct OverlapCase {
    int32_t x, y, sourceX, sourceY;
};

TEST(SurfaceCopy, OverlappingCopyWithinOneBitmapActsAsThoughThroughATemporary) {
    const OverlapCase cases[] = {{1, 1, 0, 0}, {0, 0, 1, 1}, {2, 0, 0, 0}, {0, 2, 0, 0},
                                 {0, 0, 0, 2}, {1, 0, 0, 1}, {0, 1, 1, 0}};
    for (const OverlapCase& test : cases) {
        SCOPED_TRACE(testing::Message()
                     << test.x << "," << test.y << " from " << test.sourceX << "," << test.sourceY);
        Canvas canvas = makeCanvas(8, 8, 5);
        std::vector<uint32_t> before = pixelsOf(canvas.bitmap);
        platformCopy(canvas.surface, test.x, test.y, 6, 6, canvas.surface, test.sourceX,
                     test.sourceY);
        for (int32_t y = 0; y < 6; ++y) {
            for (int32_t x = 0; x < 6; ++x) {
                ASSERT_EQ(canvas.bitmap->pixels[(test.y + y) * 8 + test.x + x],
                          before[(test.sourceY + y) * 8 + test.sourceX + x]);
            }
        }
        freeCanvas(canvas);
    }
}

TEST(SurfaceCopy, KeyedCopyToAnotherSizeScalesByNearestPixel) {
    Canvas target = makeCanvas(8, 4, 1);
    Canvas source = makeCanvas(4, 2, 9);
    source.bitmap->pixels[1] = 0xFF00FF;
    std::vector<uint32_t> before = pixelsOf(target.bitmap);
    platformCopyKeyed(target.surface, 0, 0, 8, 4, source.surface, 0, 0, 4, 2, kColorMagenta);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            uint32_t from = source.bitmap->pixels[(y / 2) * 4 + x / 2];
            EXPECT_EQ(target.bitmap->pixels[y * 8 + x],
                      from == 0xFF00FF ? before[y * 8 + x] : from);
        }
    }
    freeCanvas(target);
    freeCanvas(source);
}

TEST(SurfaceCopy, KeyedCopySeesChangesToItsSource) {
    // Opaque runs are derived from the source once; drawing into it must renew them.
    Canvas target = makeCanvas(25, 33, 1);
    Canvas font = makeCanvas(50, 33, 3);
    platformFillRect(font.surface, 0, 0, 50, 33, kColorMagenta);
    platformCopyKeyed(target.surface, 0, 0, 25, 33, font.surface, 0, 0, 25, 33, kColorMagenta);
    std::vector<uint32_t> untouched = pixelsOf(target.bitmap);
    platformFillRect(font.surface, 3, 4, 2, 2, 0x0000FF);
    platformCopyKeyed(target.surface, 0, 0, 25, 33, font.surface, 0, 0, 25, 33, kColorMagenta);
    for (int32_t y = 0; y < 33; ++y) {
        for (int32_t x = 0; x < 25; ++x) {
            bool red = x >= 3 && x < 5 && y >= 4 && y < 6;
            EXPECT_EQ(target.bitmap->pixels[y * 25 + x], red ? 0xFF0000 : untouched[y * 25 + x]);
        }
    }
    platformCopy(font.surface, 10, 10, 1, 1, target.surface, 3, 4);
    platformCopyKeyed(target.surface, 0, 0, 25, 33, font.surface, 0, 0, 25, 33, kColorMagenta);
    EXPECT_EQ(target.bitmap->pixels[10 * 25 + 10], 0xFF0000u);
    freeCanvas(target);
    freeCanvas(font);
}

struct SizeCase {
    int32_t width, height;
    bool made;
    int32_t madeWidth, madeHeight;
};

TEST(SurfaceBitmaps, CreationSizes) {
    const SizeCase cases[] = {
        {1600, 900, true, 1600, 900}, {0, 0, true, 1, 1},
        {0, 5, true, 1, 1},           {-1, 5, false, 0, 0},
        {5, -1, false, 0, 0},         {32768, 2048, true, 32768, 2048},
        {32769, 1, false, 0, 0},      {1, 32769, false, 0, 0},
        {32768, 2049, false, 0, 0},   {INT32_MAX, INT32_MAX, false, 0, 0},
        {INT32_MIN, 1, false, 0, 0},
    };
    for (const SizeCase& test : cases) {
        SCOPED_TRACE(testing::Message() << test.width << "x" << test.height);
        PlatformBitmap* bitmap = platformCreateBitmap(nullptr, test.width, test.height);
        ASSERT_EQ(bitmap != nullptr, test.made);
        if (bitmap != nullptr) {
            int32_t width = 0, height = 0;
            EXPECT_TRUE(platformBitmapSize(bitmap, &width, &height));
            EXPECT_EQ(width, test.madeWidth);
            EXPECT_EQ(height, test.madeHeight);
            EXPECT_EQ(bitmap->pixels[width * height - 1], 0u); // starts black
        }
        platformDeleteBitmap(bitmap);
    }
    int32_t width = 7, height = 7;
    EXPECT_FALSE(platformBitmapSize(nullptr, &width, &height));
}

TEST(SurfaceBitmaps, FailedAllocationsGiveNone) {
    platformFailAllocation(1);
    EXPECT_EQ(platformCreateBitmap(nullptr, 10, 10), nullptr);
    platformFailAllocation(1);
    EXPECT_EQ(platformCreateSurface(nullptr), nullptr);
    platformFailAllocation(0);
}

TEST(SurfaceBitmaps, SelectionReturnsThePreviousBitmap) {
    PlatformSurface* surface = platformCreateSurface(nullptr);
    PlatformBitmap* first = platformCreateBitmap(surface, 4, 4);
    PlatformBitmap* second = platformCreateBitmap(surface, 2, 2);
    PlatformBitmap* initial = platformSelectBitmap(surface, first);
    ASSERT_NE(initial, nullptr);
    int32_t width = 0, height = 0;
    EXPECT_TRUE(platformBitmapSize(initial, &width, &height));
    EXPECT_EQ(width, 1);
    EXPECT_EQ(height, 1);
    EXPECT_EQ(platformSelectBitmap(surface, second), first);
    EXPECT_EQ(platformSelectBitmap(surface, initial), second);
    // Drawing into the initial 1 x 1 bitmap stays inside it.
    platformFillRect(surface, -5, -5, 100, 100, 0xFFFFFF);
    // Deleting the surface's own bitmap is refused, as it lives in the surface.
    platformDeleteBitmap(initial);
    platformDeleteSurface(surface);
    platformDeleteBitmap(first);
    platformDeleteBitmap(second);
}

TEST(SurfaceBitmaps, ASelectedBitmapStaysUntilItIsTakenOut) {
    PlatformSurface* first = platformCreateSurface(nullptr);
    PlatformSurface* second = platformCreateSurface(nullptr);
    PlatformBitmap* bitmap = platformCreateBitmap(first, 4, 4);
    PlatformBitmap* initial = platformSelectBitmap(first, bitmap);
    // One surface at a time, as on the desktop.
    EXPECT_EQ(platformSelectBitmap(second, bitmap), nullptr);
    EXPECT_EQ(platformSelectBitmap(second, initial), nullptr);
    // Deleting it while selected is refused: the surface still draws into it.
    platformDeleteBitmap(bitmap);
    platformFillRect(first, 0, 0, 4, 4, 0x0000FF);
    EXPECT_EQ(bitmap->pixels[15], 0xFF0000u);
    EXPECT_EQ(platformSelectBitmap(first, initial), bitmap);
    EXPECT_NE(platformSelectBitmap(second, bitmap), nullptr);
    // Deleting the surface lets its bitmap go.
    platformDeleteSurface(second);
    platformDeleteBitmap(bitmap);
    platformDeleteSurface(first);
}

TEST(SurfaceScreen, CopiesIntoTheWindowScreenReachTheWindow) {
    headlessReset(1000);
    headlessSetClientSize(40, 30);
    ASSERT_TRUE(platformRegisterWindowClass("BexuTest", platformDefaultWindowProcedure));
    PlatformWindow* window = platformCreateWindow("BexuTest", "test", 40, 30);
    ASSERT_NE(window, nullptr);
    PlatformSurface* screen = platformWindowScreen(window);
    Canvas source = makeCanvas(10, 10, 3);
    platformCopy(screen, 35, 25, 10, 10, source.surface, 0, 0);
    const PlatformBitmap* shown = headlessScreen();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->pixels[25 * 40 + 35], source.bitmap->pixels[0]);
    EXPECT_EQ(shown->pixels[29 * 40 + 39], source.bitmap->pixels[4 * 10 + 4]);
    platformFillRect(screen, 0, 0, 2, 2, 0x0000FF);
    EXPECT_EQ(headlessScreen()->pixels[40 + 1], 0xFF0000u);
    platformStretchCopy(screen, 10, 10, 20, 20, source.surface, 0, 0, 10, 10);
    EXPECT_EQ(headlessScreen()->pixels[10 * 40 + 10], source.bitmap->pixels[0]);
    platformReleaseWindowScreen(window, screen);
    freeCanvas(source);
}
} // namespace

namespace {
// Every cell of a font-sized sheet with scattered key pixels, drawn at places inside,
// across the edges and outside the target, matches a pixel-by-pixel keyed copy.
TEST(SurfaceCopy, FontCellsMatchAPixelByPixelKeyedCopy) {
    Canvas sheet = makeCanvas(400, 198, 21);
    uint32_t state = 99;
    for (int32_t i = 0; i < 400 * 198; ++i) {
        state = state * 1664525u + 1013904223u;
        if ((state >> 29) < 5) {
            sheet.bitmap->pixels[i] = 0xFF00FF;
        }
    }
    const int32_t places[][2] = {{0, 0},   {37, 12},  {75, 867}, {1575, 0}, {-3, 10},
                                 {10, -5}, {1590, 5}, {5, 880},  {-25, 0},  {1600, 900}};
    for (uint32_t key : {kColorMagenta, 0x000000u}) {
        Canvas target = makeCanvas(1600, 900, 5);
        std::vector<uint32_t> expected = pixelsOf(target.bitmap);
        uint32_t keyPixel = softPixelOfColor(key);
        for (int32_t c = 0; c < 96; ++c) {
            int32_t sourceX = (c % 16) * 25, sourceY = (c / 16) * 33;
            const int32_t* place = places[c % 10];
            int32_t x = place[0] + (c / 10) * 3, y = place[1];
            platformCopyKeyed(target.surface, x, y, 25, 33, sheet.surface, sourceX, sourceY, 25, 33,
                              key);
            for (int32_t j = 0; j < 33; ++j) {
                for (int32_t i = 0; i < 25; ++i) {
                    uint32_t pixel = sheet.bitmap->pixels[(sourceY + j) * 400 + sourceX + i];
                    if (inside(x + i, 0, 1600) && inside(y + j, 0, 900) && pixel != keyPixel) {
                        expected[(y + j) * 1600 + x + i] = pixel;
                    }
                }
            }
        }
        EXPECT_TRUE(pixelsOf(target.bitmap) == expected) << std::hex << key;
        freeCanvas(target);
    }
    freeCanvas(sheet);
}
} // namespace
