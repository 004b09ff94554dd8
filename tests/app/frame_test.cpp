// Whole stories on the headless backend, checked at the pixel level against what
// the story's own files say should be on screen.
#include "engine/engine.h"
#include "platform/headless/headless.h"
#include "platform/soft/soft_surface.h"
#include "render/render.h"
#include "support/story_driver.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint32_t kMagenta = 0xFF00FF;

// Expects the cell of byte c at (x, y): font pixels where opaque, `background` elsewhere.
::testing::AssertionResult glyphAt(const TestImage& frame, unsigned char c, int32_t x, int32_t y,
                                   uint32_t background = 0) {
    for (int32_t dy = 0; dy < 33; ++dy) {
        for (int32_t dx = 0; dx < 25; ++dx) {
            uint32_t font = testFontPixel(c, dx, dy);
            uint32_t expected = font == kMagenta ? background : font;
            uint32_t actual = frame.at(x + dx, y + dy);
            if (actual != expected) {
                return ::testing::AssertionFailure()
                       << "byte " << int(c) << " at (" << x << "," << y << "): pixel (" << dx << ","
                       << dy << ") is " << std::hex << actual << ", expected " << expected;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult blankAt(const TestImage& frame, int32_t x, int32_t y, int32_t width,
                                   int32_t height, uint32_t colour = 0) {
    for (int32_t row = y; row < y + height; ++row) {
        for (int32_t column = x; column < x + width; ++column) {
            if (frame.at(column, row) != colour) {
                return ::testing::AssertionFailure() << "pixel (" << column << "," << row << ") is "
                                                     << std::hex << frame.at(column, row);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

StoryResult snapshots(const std::string& script, uint32_t keyDelay = 200) {
    StoryOptions options;
    options.keyDelay = keyDelay;
    options.snapshotDelay = 40;
    return playScript(script, options);
}

// The marker glyphs drawn at (x, 0) while the story waits for Space, each change once.
std::vector<unsigned char> markersSeen(const std::string& script, uint32_t keyDelay, int32_t x) {
    std::vector<unsigned char> seen;
    StoryOptions options;
    options.keyDelay = keyDelay;
    options.eachFrame = [&seen, x]() {
        if (!engineState.effects.awaitingKey) {
            return;
        }
        TestImage frame = headlessScreenImage();
        for (unsigned char c = 123; c <= 127; ++c) {
            if (glyphAt(frame, c, x, 0) && (seen.empty() || seen.back() != c)) {
                seen.push_back(c);
            }
        }
    };
    playScript(script, options);
    return seen;
}

} // namespace

TEST(FrameText, GlyphsStandWhereThePenPutsThem) {
    StoryResult result = snapshots("{0[say~Hi][say~a\nb][turn~page][say~x\x7B|~\t\ry]}");
    ASSERT_EQ(result.snapshots.size(), 3u);
    const TestImage& hi = result.snapshots[0];
    EXPECT_TRUE(glyphAt(hi, 'H', 0, 0));
    EXPECT_TRUE(glyphAt(hi, 'i', 25, 0));
    const TestImage& ab = result.snapshots[1];
    EXPECT_TRUE(glyphAt(ab, 'a', 0, 33));
    EXPECT_TRUE(glyphAt(ab, 'b', 0, 66));
    const TestImage& skipped = result.snapshots[2];
    EXPECT_TRUE(glyphAt(skipped, 'x', 0, 0));
    EXPECT_TRUE(glyphAt(skipped, 'y', 25, 0));
    EXPECT_TRUE(blankAt(skipped, 0, 33, 1600, 33));
}

TEST(FrameText, LongLinesWrapAndStopBelowRow26) {
    std::string line(64, 'a');
    line += 'b';
    std::string flood(64 * 30, 'c');
    StoryResult result = snapshots("{0[say~" + line + "][turn~page][say~" + flood + "]}");
    ASSERT_EQ(result.snapshots.size(), 2u);
    EXPECT_TRUE(glyphAt(result.snapshots[0], 'a', 1575, 0));
    EXPECT_TRUE(glyphAt(result.snapshots[0], 'b', 0, 33));
    const TestImage& full = result.snapshots[1];
    EXPECT_TRUE(glyphAt(full, 'c', 0, 858));
    EXPECT_TRUE(glyphAt(full, 'c', 1575, 858));
    EXPECT_TRUE(blankAt(full, 0, 891, 1600, 9));
}

TEST(FrameIndicator, FollowsTheNextCommand) {
    struct Case {
        const char* next;
        unsigned char firstFrame; // the first key wait of a run moves on one frame at once
    } cases[] = {
        {"[turn~page]", 124},
        {"[say~Return]", 124},
        {"[say~RETURN]", 127},
        {"", 127},
    };
    for (const Case& c : cases) {
        StoryResult result = snapshots(std::string("{0[say~Hi]") + c.next + "}");
        ASSERT_FALSE(result.snapshots.empty()) << c.next;
        EXPECT_TRUE(glyphAt(result.snapshots[0], c.firstFrame, 50, 0)) << c.next;
    }
}

TEST(FrameIndicator, CyclesEvery300Milliseconds) {
    std::vector<unsigned char> seen = markersSeen("{0[say~Hi][turn~page]}", 2000, 50);
    // Two seconds of frames: 124 at once, then 125, 124, 123, 124, ... about every 300 ms.
    ASSERT_GE(seen.size(), 6u);
    std::vector<unsigned char> expected = {124, 125, 124, 123, 124, 125};
    EXPECT_EQ(std::vector<unsigned char>(seen.begin(), seen.begin() + 6), expected);
}

// The marker stands after the last glyph, at the start of the next row when that is
// past the right edge, and not at all when the next row is below 867.
TEST(FrameIndicator, StandsAfterTheLastGlyphOrOnTheNextRow) {
    std::string row(64, 'a');
    std::string rows25(25, '\n');
    StoryResult result =
        snapshots("{0[say~Hi][say~\n][turn~page][say~" + row + "][turn~page][say~" + rows25 + row +
                  "][turn~page][say~" + rows25 + "\n" + row + "]}");
    ASSERT_EQ(result.snapshots.size(), 5u);
    auto markerAt = [](const TestImage& frame, int32_t x, int32_t y) {
        for (unsigned char c = 123; c <= 127; ++c) {
            if (glyphAt(frame, c, x, y)) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(markerAt(result.snapshots[0], 50, 0));
    // A lone line break moves no glyph: the cursor and the marker stay after "Hi".
    EXPECT_TRUE(markerAt(result.snapshots[1], 50, 0));
    EXPECT_TRUE(blankAt(result.snapshots[1], 0, 33, 1600, 99));
    EXPECT_TRUE(markerAt(result.snapshots[2], 0, 33));
    EXPECT_TRUE(markerAt(result.snapshots[3], 0, 858));
    // Row 26 is full: the marker's next row would begin at 891, and it is left out.
    EXPECT_TRUE(glyphAt(result.snapshots[4], 'a', 1575, 858));
    EXPECT_TRUE(blankAt(result.snapshots[4], 0, 891, 1600, 9));
}

// One frame counter serves both sequences: the line-end marker goes on from where the
// page-turn one left it.
TEST(FrameIndicator, BothSequencesShareOneCounter) {
    std::vector<unsigned char> seen = markersSeen("{0[say~a][turn~page][say~b]}", 450, 25);
    // Counter 1 and 2 while the page turn is next (124, 125); 2, 3, 0 after it (126, 127, 126).
    EXPECT_EQ(seen, (std::vector<unsigned char>{124, 125, 126, 127, 126}));
}

TEST(FrameScene, SmallerScenesShowBlackWhereTheyEndAndLargerOnesTheirCorner) {
    std::string folder = makeStoryFolder("{0[cg~big.bmp][say~a][cg~small.bmp][say~b]}");
    TestImage big = solidImage(2000, 1000, 0x3366CC);
    for (int32_t y = 0; y < 1000; ++y) {
        for (int32_t x = 1600; x < 2000; ++x) {
            big.pixels[size_t(y) * 2000 + x] = 0xFF0000;
        }
    }
    writeFile(folder + "/big.bmp", encodeBmp24(big));
    writeFile(folder + "/small.bmp", encodeBmp24(solidImage(300, 200, 0x00FF00)));
    StoryOptions options;
    options.keyDelay = 200;
    options.snapshotDelay = 40;
    StoryResult result = playStory(folder, options);
    removeFolder(folder);
    ASSERT_EQ(result.snapshots.size(), 2u);
    EXPECT_TRUE(blankAt(result.snapshots[0], 0, 100, 1600, 800, 0x3366CC));
    EXPECT_TRUE(blankAt(result.snapshots[1], 50, 33, 250, 167, 0x00FF00));
    EXPECT_TRUE(blankAt(result.snapshots[1], 300, 0, 1300, 900));
    EXPECT_TRUE(blankAt(result.snapshots[1], 0, 200, 1600, 700));
}

// The dialogue goes to the backend as text once per change: grown by each line,
// emptied by a page turn, and not again while only the marker blinks.
TEST(FrameText, DialogueIsHandedOverAsTextOncePerChange) {
    StoryResult result = playScript("{0[say~Hi][wait~500][say~a\nb][turn~page][say~c]}");
    EXPECT_EQ(result.exitCode, 0);
    const std::vector<uint32_t> expected = {0, 3, 7, 0, 2};
    EXPECT_EQ(headlessDialogueLengths(), expected);
}

namespace {

// A scene of noise, so that any pixel stretched from the wrong source shows.
std::string noiseStory(const std::string& script) {
    std::string folder = makeStoryFolder(script);
    TestImage noise = solidImage(1600, 900, 0);
    uint32_t state = 7;
    for (uint32_t& pixel : noise.pixels) {
        state = state * 1664525u + 1013904223u;
        pixel = state >> 8;
    }
    writeFile(folder + "/noise.bmp", encodeBmp24(noise));
    writeFile(folder + "/small.bmp", encodeBmp24(solidImage(300, 200, 0x00FF00)));
    return folder;
}

// What the window shows now, hashed in four independent lanes.
uint64_t windowHash() {
    const PlatformBitmap* screen = headlessScreen();
    size_t count = size_t(screen->width) * size_t(screen->height);
    uint64_t lanes[4] = {1469598103934665603ull, 2, 3,
                         uint64_t(screen->width) << 32 | screen->height};
    for (size_t i = 0; i < count; ++i) {
        lanes[i % 4] = (lanes[i % 4] ^ screen->pixels[i]) * 1099511628211ull;
    }
    return lanes[0] ^ (lanes[1] * 3) ^ (lanes[2] * 5) ^ (lanes[3] * 7);
}

// Frames whose window is compared: those after which the window showed something new, and
// every eighth, which catches an update that was left out.
constexpr size_t kSampleEvery = 8;

struct FrameHashes {
    std::vector<bool> checked;    // per frame
    std::vector<uint64_t> hashes; // per frame, 0 where not checked
};

// Plays the story and hashes the window after the frames to check. Given `rebuilt`, the
// frames checked there are drawn by a full rebuild: the canvas and the back buffer are made
// anew before each of them.
FrameHashes windowAfterFrames(const std::string& folder, StoryOptions options,
                              const std::vector<bool>* rebuilt) {
    FrameHashes result;
    uint32_t presents = 0;
    options.keyDelay = 650; // two marker changes per wait
    options.eachFrame = [&]() {
        size_t frame = result.hashes.size();
        bool check = rebuilt != nullptr
                         ? frame < rebuilt->size() && (*rebuilt)[frame]
                         : headlessPresentCount() != presents || frame % kSampleEvery == 0;
        presents = headlessPresentCount();
        result.checked.push_back(check);
        result.hashes.push_back(check ? windowHash() : 0);
        if (rebuilt != nullptr && frame + 1 < rebuilt->size() && (*rebuilt)[frame + 1]) {
            rebuildNextFrame();
        }
    };
    playStory(folder, options);
    return result;
}

} // namespace

// Whatever came before (marker changes, resizes, new lines, page turns, scenes), the window
// shows what a full rebuild shows, at 1:1 and scaled: the marker mid-row, wrapped to the next
// row, cut by the canvas's bottom and below it, over a scene and over black; lines added
// after a timed wait, with no glyph the font draws (the marker stays where the last page
// left it), over several rows, and below the canvas.
TEST(FrameUpdates, WindowEqualsAFullRebuild) {
    std::string full(64, 'w');
    std::string story = "{0[cg~noise.bmp][say~Hi][say~" + full + "][say~Return][wait~100][say~" +
                        std::string(40, 'q') +
                        "][turn~page][say~||][say~Top][wait~100][say~z\n\ny][turn~page][say~" +
                        std::string(26, '\n') + full + "][turn~page][say~" + std::string(27, '\n') +
                        "z][cg~small.bmp][say~b]}";
    using Resizes = std::vector<std::pair<uint32_t, std::pair<int32_t, int32_t>>>;
    const Resizes sequence = {{400, {1280, 720}},  {900, {1600, 900}},  {1300, {33, 7}},
                              {1500, {0, 0}},      {1700, {1600, 950}}, {2200, {1601, 900}},
                              {2600, {1600, 900}}, {2900, {640, 1000}}};
    struct Case {
        int32_t width, height;
        bool lending;
        Resizes resizes;
    } cases[] = {
        {1600, 900, true, sequence}, {1600, 900, false, sequence}, {1920, 1080, true, {}},
        {803, 900, false, {}},       {213, 120, true, {}},
    };
    std::string folder = noiseStory(story);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << (c.lending ? " lent" : "")
                                        << (c.resizes.empty() ? "" : " resized"));
        StoryOptions options;
        options.clientWidth = c.width;
        options.clientHeight = c.height;
        options.lending = c.lending;
        options.resizes = c.resizes;
        FrameHashes incremental = windowAfterFrames(folder, options, nullptr);
        FrameHashes rebuilt = windowAfterFrames(folder, options, &incremental.checked);
        ASSERT_EQ(incremental.hashes.size(), rebuilt.hashes.size());
        ASSERT_GT(incremental.hashes.size(), 200u);
        for (size_t frame = 0; frame < incremental.hashes.size(); ++frame) {
            ASSERT_EQ(incremental.hashes[frame], rebuilt.hashes[frame]) << "frame " << frame;
        }
    }
    removeFolder(folder);
}

// A page turned and filled again between two frames, longer than before, only looks as if
// the dialogue grew: nothing of the old page may stay.
TEST(FrameUpdates, APageRefilledBetweenFramesShowsNothingOfTheOld) {
    bool refilled = false;
    TestImage after;
    StoryOptions options;
    options.keyDelay = 100;
    int32_t waitFrames = 0;
    options.eachFrame = [&]() {
        if (!engineState.effects.timedWait) {
            return;
        }
        // Once a frame has shown the wait's canvas, without the marker.
        if (++waitFrames == 3) {
            clearDialogue();
            refilled = appendDialogueLine(std::string(20, 'c').c_str());
        } else if (refilled && after.pixels.empty()) {
            after = headlessScreenImage();
        }
    };
    playScript("{0[say~a\n\n\nbbbb][wait~300]}", options);
    ASSERT_TRUE(refilled);
    ASSERT_FALSE(after.pixels.empty());
    EXPECT_TRUE(glyphAt(after, 'c', 0, 0));
    EXPECT_TRUE(blankAt(after, 0, 99, 1600, 33));
}
