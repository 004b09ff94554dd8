// bexu-new run as built: the story it starts passes the checker and plays through.
#include "support/story_driver.h"
#include "support/test_files.h"
#include "tool_run.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <sys/stat.h>

namespace {

bool fontInstalled() {
    struct stat info;
    return stat("/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf", &info) == 0;
}

TEST(NewStory, PassesTheCheckerAndPlaysThrough) {
    if (!fontInstalled()) {
        GTEST_SKIP() << "DejaVu Sans Mono Bold is not installed (fonts-dejavu-core)";
    }
    std::string parent = makeTempFolder();
    std::string folder = parent + "/harbour";
    ToolRun made = runCommand(builtProgram("bexu-new") + " " + shellQuoted(folder) + " 2>&1");
    ASSERT_EQ(made.exitCode, 0) << made.output;

    ToolRun check = runCommand(builtProgram("bexu-check") + " " + shellQuoted(folder) + " 2>&1");
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(check.output.find(": 1 block, 4 commands, 1 page: clean"), std::string::npos)
        << check.output;
    std::string script = readFile(folder + "/script.bexu");
    EXPECT_EQ(std::count(script.begin(), script.end(), '\n'), 3) << script;

    PlatformBitmap* scene = platformLoadBitmap((folder + "/scene.bmp").c_str());
    ASSERT_NE(scene, nullptr);
    int32_t width = 0;
    int32_t height = 0;
    platformBitmapSize(scene, &width, &height);
    platformDeleteBitmap(scene);
    EXPECT_EQ(width, 1600);
    EXPECT_EQ(height, 900);

    StoryResult played = playStory(folder);
    ASSERT_EQ(played.exitCode, 0) << played.caption << ": " << played.text;
    EXPECT_EQ(played.title, "harbour");
    ASSERT_EQ(played.waits.size(), 2u);
    EXPECT_EQ(played.waits[0].dialogue, "Your story starts here. Press Space to read on.\n");
    ASSERT_EQ(played.sounds.size(), 1u);
    EXPECT_EQ(played.sounds[0], "chime.wav");
    removeFolder(parent);
}

TEST(NewStory, LeavesFoldersWithFilesAlone) {
    std::string folder = makeStoryFolder("{0[say~mine]}");
    std::string before = readFile(folder + "/script.bexu");
    ToolRun made = runCommand(builtProgram("bexu-new") + " " + shellQuoted(folder) + " 2>&1");
    EXPECT_EQ(made.exitCode, 2) << made.output;
    EXPECT_NE(made.output.find("not empty"), std::string::npos) << made.output;
    EXPECT_EQ(readFile(folder + "/script.bexu"), before);

    ToolRun noFont = runCommand(builtProgram("bexu-new") + " " + shellQuoted(folder + "/new") +
                                " --font " + shellQuoted(folder + "/script.bexu") + " 2>&1");
    EXPECT_EQ(noFont.exitCode, 1) << noFont.output;
    EXPECT_NE(noFont.output.find("cannot read the font"), std::string::npos) << noFont.output;
    removeFolder(folder);
}

} // namespace
