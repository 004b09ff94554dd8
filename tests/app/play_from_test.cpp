// Play from a position: from every key wait of a story, the run that starts there shows
// what the run from the beginning shows, frame for frame, with Space pressed at the first
// frame of every wait.
#include "support/story_driver.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Space at the first frame of each wait, used at the next iteration; the first frame kept.
StoryOptions readerOptions() {
    StoryOptions options;
    options.keyDelay = 2 * kFramePause;
    options.snapshotDelay = kFramePause;
    options.timeLimit = 20 * 60 * 1000;
    options.clientWidth = 800;
    options.clientHeight = 450;
    return options;
}

StoryResult playFrom(const std::string& folder, PlayStart start) {
    StoryOptions options = readerOptions();
    options.playFrom = true;
    options.start = start;
    return playStory(folder, options);
}

TestImage noiseScene(int32_t width, int32_t height, uint32_t salt) {
    TestImage image = solidImage(width, height, 0);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        image.pixels[i] = uint32_t((i + salt) * 2654435761u) & 0xFFFFFF;
    }
    return image;
}

// Stammers, a page turned after many lines, a scene changed mid-page, timed waits, a turn
// the marker announces and a line that wraps.
const char kStammers[] =
    "{0[cg~a.bmp][say~One.][stutter3~S/so the g/gulls c/came][wait~700][say~Two.]"
    "[stutter4~We/ll %see w/what c/comes][cg~b.bmp][say~The scene changed mid-page.]"
    "[say~Three.][say~Four.][say~Five.][say~Six.][say~Seven.][say~Eight.][turn~page]}"
    "{1[stutter2~a/b c/d e/f g/h][wait~48][say~A line that runs on past the edge of the canvas "
    "and wraps to the row below it.][play~x.wav][turn~page][say~End.]}";

// Many lines on one page, then a page turn, and blocks that hold nothing to say.
std::string longPage() {
    std::string script = "{0[cg~a.bmp]";
    for (int i = 0; i < 30; ++i) {
        script += "[say~Line " + std::to_string(i) + " of the long page.]";
    }
    script += "[turn~page][say~After the turn.]}{1}{2[wait~2500][cg~b.bmp][say~Last.]}";
    return script;
}

std::string storyWithScenes(const std::string& script) {
    std::string folder = makeStoryFolder(script);
    writeFile(folder + "/a.bmp", encodeBmp24(noiseScene(1600, 900, 1)));
    writeFile(folder + "/b.bmp", encodeBmp24(noiseScene(1200, 700, 7)));
    return folder;
}

// From every `stride`-th wait, and from the last.
void expectSameFromEveryWait(const std::string& folder, uint32_t stride = 1) {
    StoryResult whole = playStory(folder, readerOptions());
    ASSERT_EQ(whole.exitCode, 0) << whole.text;
    ASSERT_EQ(whole.snapshots.size(), whole.waits.size());
    ASSERT_GT(whole.waits.size(), 2u);
    auto pages = static_cast<uint32_t>(whole.waits.size());
    for (uint32_t page = 1; page <= pages;
         page = page == pages || page + stride <= pages ? page + stride : pages) {
        StoryResult from = playFrom(folder, PlayStart{0, 0, page});
        ASSERT_TRUE(from.startReached) << page;
        EXPECT_EQ(from.startReport.page, page - 1);
        ASSERT_EQ(from.waits.size(), whole.waits.size() - (page - 1)) << page;
        for (size_t k = 0; k < from.waits.size(); ++k) {
            const size_t at = page - 1 + k;
            EXPECT_EQ(from.waits[k].dialogue, whole.waits[at].dialogue) << page << " " << k;
            // The clock stands where the reader's did: the marker and the waits agree.
            EXPECT_EQ(from.waits[k].elapsed, whole.waits[at].elapsed) << page << " " << k;
            EXPECT_TRUE(from.snapshots[k].pixels == whole.snapshots[at].pixels)
                << "page " << page << ", wait " << at + 1;
        }
        EXPECT_EQ(from.exitCode, whole.exitCode);
        // The same command named by its line and column starts the same play.
        const CommandPlace& place = from.startReport.place;
        StoryResult byLine = playFrom(folder, PlayStart{place.line, place.column, 0});
        ASSERT_TRUE(byLine.startReached) << page;
        ASSERT_FALSE(byLine.snapshots.empty());
        EXPECT_TRUE(byLine.snapshots[0].pixels == whole.snapshots[page - 1].pixels) << page;
    }
}

} // namespace

TEST(PlayFrom, EveryWaitOfTheDemoShowsAsReadThrough) {
    expectSameFromEveryWait(BEXU_SOURCE_DIR "/examples/demo");
}

TEST(PlayFrom, EveryWaitOfStammersScenesAndWaitsShowsAsReadThrough) {
    std::string folder = storyWithScenes(kStammers);
    expectSameFromEveryWait(folder);
    removeFolder(folder);
}

TEST(PlayFrom, EveryWaitOfALongPageShowsAsReadThrough) {
    std::string folder = storyWithScenes(longPage());
    expectSameFromEveryWait(folder, 5);
    removeFolder(folder);
}

// A position between commands starts at the next command the play meets; one past the
// last, in a block that never plays, or behind a command that holds the play, is not
// reached and says why.
TEST(PlayFrom, PositionsStartAtTheNextCommandOrSayWhyNot) {
    std::string folder = storyWithScenes("{0[say~a]\n  [say~b]\n[say~c]}\n{2[say~never]}\n"
                                         "{1[say~d][say][say~held]}");
    struct Case {
        PlayStart start;
        bool reached;
        PlayStartEnd end;
        uint32_t line;
        uint32_t column;
    } cases[] = {
        {{1, 1, 0}, true, PlayStartEnd::Reached, 1, 3},
        {{1, 9, 0}, true, PlayStartEnd::Reached, 2, 3},
        {{2, 0, 0}, true, PlayStartEnd::Reached, 2, 3},
        {{2, 200, 0}, true, PlayStartEnd::Reached, 3, 1},
        {{3, 2, 0}, true, PlayStartEnd::Reached, 5, 3},
        {{4, 1, 0}, true, PlayStartEnd::Reached, 5, 3},
        {{0, 0, 3}, true, PlayStartEnd::Reached, 3, 1},
        {{0, 0, 4}, true, PlayStartEnd::Reached, 5, 3},
        {{5, 11, 0}, false, PlayStartEnd::PlayHeld, 5, 10},
        {{0, 0, 5}, false, PlayStartEnd::PlayHeld, 5, 10},
        {{90, 1, 0}, false, PlayStartEnd::PlayHeld, 5, 10},
    };
    for (const Case& c : cases) {
        StoryResult result = playFrom(folder, c.start);
        std::string name = std::to_string(c.start.line) + ":" + std::to_string(c.start.column) +
                           " page " + std::to_string(c.start.page);
        EXPECT_EQ(result.startReached, c.reached) << name;
        EXPECT_EQ(result.startReport.end, c.end) << name;
        EXPECT_EQ(result.startReport.place.line, c.line) << name;
        EXPECT_EQ(result.startReport.place.column, c.column) << name;
    }
    StoryResult beyond = playFrom(folder, PlayStart{0, 0, 2});
    EXPECT_EQ(beyond.dialogues().front(), "a\nb\n");
    removeFolder(folder);
    std::string ends = storyWithScenes("{0[say~a][say~b]}");
    StoryResult pastTheEnd = playFrom(ends, PlayStart{9, 1, 0});
    EXPECT_FALSE(pastTheEnd.startReached);
    EXPECT_EQ(pastTheEnd.startReport.end, PlayStartEnd::PlayEnded);
    EXPECT_EQ(pastTheEnd.startReport.page, 2u);
    removeFolder(ends);
}

// Ahead of the reader no sound plays; the command started at plays its own.
TEST(PlayFrom, RunsAheadInSilence) {
    std::string folder = storyWithScenes("{0[play~one.wav][say~a][play~two.wav][say~b]}");
    StoryResult fromSound = playFrom(folder, PlayStart{1, 18, 0});
    EXPECT_EQ(fromSound.sounds, std::vector<std::string>{"two.wav"});
    StoryResult fromLine = playFrom(folder, PlayStart{0, 0, 2});
    EXPECT_TRUE(fromLine.sounds.empty());
    removeFolder(folder);
}

// A scene that is missing on the way stops the play there with the player's message, as
// it stops the reader's.
TEST(PlayFrom, AMissingSceneOnTheWayStopsThePlay) {
    std::string folder = storyWithScenes("{0[say~a][cg~gone.bmp][cg~a.bmp][say~b]}");
    StoryResult result = playFrom(folder, PlayStart{0, 0, 2});
    EXPECT_TRUE(result.fatal);
    EXPECT_EQ(result.text, kSceneFailedMessage);
    removeFolder(folder);
}
