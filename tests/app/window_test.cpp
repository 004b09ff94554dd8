// The window: fitting the canvas with its shape kept, tiled bars, resizes, start-up
// failures, the title, closing, and no allocation per frame.
#include "engine/engine.h"
#include "platform/headless/headless.h"
#include "support/story_driver.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kSceneColour = 0x3366CC;

struct Rect {
    int32_t x, y, width, height;
};

// A story held at a command with an empty argument: the frame shows only the scene.
std::string heldSceneStory() {
    std::string folder = makeStoryFolder("{0[cg~scene.bmp][say]}");
    writeFile(folder + "/scene.bmp", encodeBmp24(solidImage(1600, 900, kSceneColour)));
    return folder;
}

// Scene colour inside the drawn rectangle, the tile pattern everywhere else.
::testing::AssertionResult fitted(const TestImage& frame, Rect drawn) {
    TestImage tile = testTile();
    for (int32_t y = 0; y < frame.height; ++y) {
        for (int32_t x = 0; x < frame.width; ++x) {
            bool inside = x >= drawn.x && x < drawn.x + drawn.width && y >= drawn.y &&
                          y < drawn.y + drawn.height;
            uint32_t expected = inside ? kSceneColour : tile.at(x % 32, y % 32);
            if (frame.at(x, y) != expected) {
                return ::testing::AssertionFailure()
                       << "pixel (" << x << "," << y << ") is " << std::hex << frame.at(x, y)
                       << ", expected " << expected;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TestImage frameAfter(const std::string& folder, StoryOptions options, uint32_t elapsed) {
    TestImage captured{0, 0, {}};
    uint32_t start = options.startTick;
    options.timeLimit = elapsed + 100;
    options.eachFrame = [&captured, start, elapsed]() {
        if (captured.width == 0 && platformTickCount() - start >= elapsed) {
            captured = headlessScreenImage();
        }
    };
    playStory(folder, options);
    return captured;
}

} // namespace

TEST(WindowFit, KeepsTheCanvasShapeWithTiledBars) {
    struct Case {
        int32_t width, height;
        Rect drawn;
    } cases[] = {
        {1600, 900, {0, 0, 1600, 900}},   {800, 450, {0, 0, 800, 450}},
        {500, 900, {0, 309, 500, 281}},   {1600, 950, {0, 25, 1600, 900}},
        {1600, 450, {400, 0, 800, 450}},  {803, 900, {0, 224, 802, 451}},
        {1920, 1080, {0, 0, 1920, 1080}}, {1000, 1000, {0, 219, 1000, 562}},
        {33, 7, {10, 0, 12, 7}},
    };
    std::string folder = heldSceneStory();
    for (const Case& c : cases) {
        StoryOptions options;
        options.clientWidth = c.width;
        options.clientHeight = c.height;
        TestImage frame = frameAfter(folder, options, 200);
        ASSERT_EQ(frame.width, c.width);
        ASSERT_EQ(frame.height, c.height);
        EXPECT_TRUE(fitted(frame, c.drawn)) << c.width << "x" << c.height;
    }
    removeFolder(folder);
}

TEST(WindowFit, FollowsResizesAndRepaintsAfterMinimising) {
    std::string folder = heldSceneStory();
    StoryOptions options;
    options.resizes = {{100, {1600, 450}}, {300, {0, 0}}, {500, {1600, 950}}};
    uint32_t start = options.startTick;
    std::vector<std::pair<uint32_t, uint32_t>> presents; // (elapsed, count)
    TestImage halfHeight{0, 0, {}};
    options.eachFrame = [&]() {
        uint32_t elapsed = platformTickCount() - start;
        presents.push_back({elapsed, headlessPresentCount()});
        if (elapsed >= 200 && halfHeight.width == 0) {
            halfHeight = headlessScreenImage();
        }
    };
    options.timeLimit = 700;
    playStory(folder, options);
    EXPECT_TRUE(fitted(halfHeight, Rect{400, 0, 800, 450}));
    TestImage restored = headlessScreenImage();
    EXPECT_TRUE(fitted(restored, Rect{0, 25, 1600, 900}));
    // While minimised nothing reaches the screen.
    uint32_t atMinimise = 0, beforeRestore = 0;
    for (const auto& [elapsed, count] : presents) {
        if (elapsed < 320) {
            atMinimise = count;
        }
        if (elapsed < 500) {
            beforeRestore = count;
        }
    }
    EXPECT_EQ(atMinimise, beforeRestore);
    removeFolder(folder);
}

TEST(WindowFit, AllocatesNothingPerFrameButOnResize) {
    std::string folder = heldSceneStory();
    writeFile(folder + "/script.bexu", "{0[cg~scene.bmp][say~A line with an indicator][say~b]}");
    StoryOptions options;
    options.keyDelay = 3000;
    options.resizes = {{1500, {1280, 720}}};
    uint32_t start = options.startTick;
    std::vector<std::pair<uint32_t, uint64_t>> counts;
    options.eachFrame = [&]() {
        counts.push_back({platformTickCount() - start, platformAllocationCount()});
    };
    playStory(folder, options);
    // Frames come every 16 ms; the resize is taken in at the first frame after 1500 ms.
    uint64_t steady = 0, resized = 0;
    for (const auto& [elapsed, count] : counts) {
        if (elapsed >= 480 && steady == 0) {
            steady = count;
        }
        if (elapsed >= 1600 && resized == 0) {
            resized = count;
        }
        if (elapsed >= 480 && elapsed < 1488) {
            EXPECT_EQ(count, steady) << elapsed;
        }
        if (elapsed >= 1600 && elapsed < 2900) {
            EXPECT_EQ(count, resized) << elapsed;
        }
    }
    EXPECT_GT(resized, steady);
    removeFolder(folder);
}

TEST(StartUp, MissingFilesEndWithTheirMessages) {
    struct Case {
        const char* removed;
        const char* replacement; // written instead, when not null
        const char* caption;
        const char* text;
        bool shown;
    } cases[] = {
        {"script.bexu", nullptr, "Filenotfound", "script.bexu could not be located.", false},
        {"font.bmp", nullptr, "Error", "Failed to load font.bmp", true},
        {"font.bmp", "not a bitmap", "Error", "Failed to load font.bmp", true},
        {"transparency.bmp", nullptr, "Error", "Failed to load transparency.bmp", true},
        {"transparency.bmp", "BM", "Error", "Failed to load transparency.bmp", true},
    };
    for (const Case& c : cases) {
        std::string folder = makeStoryFolder("{0[say~a]}");
        std::string path = folder + "/" + c.removed;
        remove(path.c_str());
        if (c.replacement != nullptr) {
            writeFile(path, std::string(c.replacement));
        }
        StoryResult result = playStory(folder);
        removeFolder(folder);
        EXPECT_TRUE(result.fatal) << c.removed;
        EXPECT_EQ(result.exitCode, 1) << c.removed;
        EXPECT_EQ(result.caption, c.caption);
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(result.windowShown, c.shown) << c.removed;
        EXPECT_TRUE(result.waits.empty());
    }
}

// Memory running out at each allocation of start-up and the first frames in turn: each
// run ends with its start-up message, ends as at the end of the script, or plays; the
// surfaces have their message.
TEST(StartUp, SurfacesWithoutMemoryEndWithTheirMessage) {
    std::string folder = makeStoryFolder("{0[say~a]}");
    const std::string surfaces = "Not enough memory for the window's surfaces.";
    int surfaceFailures = 0;
    int plays = 0;
    for (uint32_t nth = 1; nth < 40; ++nth) {
        StoryOptions options;
        options.failAllocationAt = nth;
        StoryResult result = playStory(folder, options);
        if (!result.waits.empty()) {
            ++plays;
        } else if (result.text == surfaces) {
            ++surfaceFailures;
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_EQ(result.caption, "Error");
            EXPECT_TRUE(result.windowShown);
        } else if (result.exitCode == 1) {
            EXPECT_TRUE(result.text.empty() || result.caption == "Filenotfound" ||
                        result.text.compare(0, 14, "Failed to load") == 0)
                << nth << ": " << result.text;
        } else {
            EXPECT_EQ(result.exitCode, 0) << nth;
            EXPECT_TRUE(result.text.empty()) << nth << ": " << result.text;
        }
    }
    EXPECT_GT(plays, 0);
    // The screen and three surfaces at start-up (before the first scene the frame shows
    // black, with no image); the canvas's surface at the first frame, which draws in the
    // window's own pixels at 1:1.
    EXPECT_GE(surfaceFailures, 5);
    removeFolder(folder);
}

TEST(StartUp, TitleComesWholeFromTheTitleFile) {
    struct Case {
        const char* content; // null: no title file
        size_t length;
        const char* title;
    } cases[] = {
        {nullptr, 0, "Bexu Game"},        {"", 0, "Bexu Game"},
        {"My Story", 8, "My Story"},      {"My Story\n", 9, "My Story\n"},
        {"  padded  ", 10, "  padded  "}, {"cut\0here", 8, "cut"},
    };
    for (const Case& c : cases) {
        std::string folder = makeStoryFolder("{0[say~a]}");
        if (c.content != nullptr) {
            writeFile(folder + "/init.bexc", std::string(c.content, c.length));
        }
        StoryResult result = playStory(folder);
        removeFolder(folder);
        EXPECT_EQ(result.title, c.title);
    }
}

TEST(Shutdown, ClosingTheWindowEndsWithCodeZero) {
    StoryOptions options;
    options.keyDelay = 0;
    options.closeAt = 500;
    StoryResult result = playScript("{0[say~waiting for ever]}", options);
    EXPECT_FALSE(result.fatal);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_GE(result.elapsed, 500u);
    EXPECT_LE(result.elapsed, 500u + 2 * 16u);
}
