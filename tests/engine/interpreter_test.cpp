#include "engine/engine.h"
#include "support/story_driver.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

namespace {
using Lines = std::vector<std::string>;

StoryOptions quickLimit(uint32_t milliseconds) {
    StoryOptions options;
    options.timeLimit = milliseconds;
    return options;
}
} // namespace

TEST(Interpreter, ShowsTheDialogueAtEachKeyWait) {
    struct Case {
        const char* script;
        Lines dialogues;
    } cases[] = {
        {"{0[say~Hello][say~World]}", {"Hello\n", "Hello\nWorld\n"}},
        {"{0[say~a~b]}", {"a~b\n"}},
        {"{0[say~x][turn~page][say~y]}", {"x\n", "y\n"}},
        {"{0[say~x][turn~Page][say~y]}", {"x\n", "x\ny\n"}},
        {"{0[say~x][turn~page ][say~y]}", {"x\n", "x\ny\n"}},
        // Byte for byte: a locale's word order would call these "page".
        {"{0[say~x][turn~pa-ge][say~y]}", {"x\n", "x\ny\n"}},
        {"{0[say~x][turn~pa'ge][say~y]}", {"x\n", "x\ny\n"}},
        {"{0[say~x][turn~page\xAD][say~y]}", {"x\n", "x\ny\n"}},
        {"{0[xyz~abc][say~b]}", {"b\n"}},
        {"{0[~abc][say~b]}", {"b\n"}},
        {"{0[essay~e][saycg~s]}", {"e\n", "e\ns\n"}},
        {"{0[say~ lead and trail ]}", {" lead and trail \n"}},
        {"{0[say~two\nrows]}", {"two\nrows\n"}},
        {"{0[say~a]}{1[say~b]}{2[turn~page]}{3[say~c]}", {"a\n", "a\nb\n", "c\n"}},
        {"{0[stutter~Hi]}", {"Hi\n"}},
        {"{0[stutter1~Hi/there]}", {"Hithere\n"}},
        {"{0[stutter0~a/b]}", {"a/b\n"}},
        {"{0[stutter~Hello 5]}", {"Hello 5\n"}},
    };
    for (const Case& c : cases) {
        StoryResult result = playScript(c.script);
        EXPECT_EQ(result.exitCode, 0) << c.script << " " << result.text;
        EXPECT_EQ(result.dialogues(), c.dialogues) << c.script;
    }
}

TEST(Interpreter, UnclosedBlockPlaysItsRestAgainAsTheNextBlock) {
    StoryResult result = playScript("{0 [say~a] {1 [say~b]");
    EXPECT_EQ(result.dialogues(), (Lines{"a\n", "a\nb\n", "a\nb\nb\n"}));
}

TEST(Interpreter, EmptyArgumentHoldsThePlayForGood) {
    for (const char* held : {"[say]", "[say~]", "[]"}) {
        std::string script = std::string("{0[say~a]") + held + "[say~b]}";
        StoryResult result = playScript(script, quickLimit(5000));
        EXPECT_TRUE(result.timedOut) << script;
        EXPECT_EQ(result.dialogues(), Lines{"a\n"}) << script;
    }
}

TEST(Interpreter, TimedWaitsLastAsAsked) {
    struct Case {
        const char* wait;
        uint32_t startTick;
        uint32_t atLeast;
        uint32_t atMost;
    } cases[] = {
        {"500", 100000, 500, 560},
        {"abc", 100000, 0, 60},
        {"0", 100000, 0, 60},
        {"4294967295", 100000, 0, 60},
        {"3000000000", 100000, 0, 60},
        {"1000", 0xFFFFFF00u, 1000, 1060},
        {"2000x", 0xFFFFFFF0u, 2000, 2060},
    };
    for (const Case& c : cases) {
        std::string script = std::string("{0[say~a][wait~") + c.wait + "][say~b]}";
        StoryOptions options;
        options.startTick = c.startTick;
        options.keyDelay = 100;
        options.timeLimit = 10000;
        StoryResult result = playScript(script, options);
        ASSERT_EQ(result.waits.size(), 2u) << c.wait << " " << result.text;
        uint32_t pause = result.waits[1].elapsed - result.waits[0].elapsed - 100;
        EXPECT_GE(pause, c.atLeast) << c.wait;
        EXPECT_LE(pause, c.atMost) << c.wait;
    }
}

TEST(Interpreter, SpaceDuringATimedWaitIsDropped) {
    StoryOptions options;
    options.keyDelay = 0;
    options.extraKeys = {100, 200};
    options.timeLimit = 3000;
    StoryResult result = playScript("{0[wait~500][say~x][say~y]}", options);
    EXPECT_EQ(result.dialogues(), Lines{"x\n"});
    EXPECT_TRUE(result.timedOut);
}

TEST(Interpreter, SpaceDuringCommandsWithoutWaitEndsTheNextKeyWait) {
    StoryOptions options;
    options.keyDelay = 0;
    options.extraKeys = {20};
    options.timeLimit = 3000;
    StoryResult result = playScript("{0[xyz~1][xyz~2][xyz~3][say~x][say~y]}", options);
    EXPECT_EQ(result.dialogues(), (Lines{"x\n", "x\ny\n"}));
}

TEST(Interpreter, PlaysSoundsByName) {
    StoryResult result =
        playScript("{0[play~a.wav][display~b.wav][play~ c.wav][say~x][play~missing.wav]}");
    EXPECT_EQ(result.sounds, (Lines{"a.wav", "b.wav", " c.wav", "missing.wav"}));
}

TEST(Interpreter, SceneThatCannotLoadEndsThePlayWithItsMessage) {
    for (const char* scene : {"missing.bmp", "script.bexu", " font.bmp", "."}) {
        StoryResult result = playScript(std::string("{0[say~a][cg~") + scene + "][say~b]}");
        EXPECT_TRUE(result.fatal) << scene;
        EXPECT_EQ(result.exitCode, 1) << scene;
        EXPECT_EQ(result.caption, "Error");
        EXPECT_EQ(result.text, "Failed to load scene.");
        EXPECT_EQ(result.dialogues(), Lines{"a\n"});
    }
    StoryResult loads = playScript("{0[cg~font.bmp][say~a][cg~transparency.bmp][say~b]}");
    EXPECT_FALSE(loads.fatal);
    EXPECT_EQ(loads.dialogues(), (Lines{"a\n", "a\nb\n"}));
}

TEST(Interpreter, MissingFirstBlockEndsAtOnce) {
    for (const char* script : {"", "{1[say~a]}", "no blocks at all", "{0"}) {
        StoryResult result = playScript(script);
        EXPECT_EQ(result.exitCode, 0) << script;
        EXPECT_TRUE(result.waits.empty()) << script;
        EXPECT_LE(result.elapsed, 16u) << script;
    }
}

TEST(Interpreter, OneSpaceAfterTheLastLineEndsThePlay) {
    StoryOptions options;
    options.keyDelay = 250;
    StoryResult result = playScript("{0[say~last]}", options);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_GE(result.elapsed, 250u);
    EXPECT_LE(result.elapsed, 250u + 4 * 16u);
}

TEST(Interpreter, SplitThatCannotGetMemoryIsRetried) {
    StoryOptions options;
    int framesWaiting = 0;
    options.eachFrame = [&framesWaiting]() {
        if (engineState.effects.awaitingKey && ++framesWaiting == 2) {
            platformFailAllocation(1); // the next command's name buffer
        }
    };
    StoryResult result = playScript("{0[say~a][say~b]}", options);
    EXPECT_EQ(result.dialogues(), (Lines{"a\n", "a\nb\n"}));
}

TEST(Interpreter, DialogueThatCannotGrowEndsThePlayWithItsMessage) {
    for (const char* command : {"say", "stutter2"}) {
        StoryOptions options;
        int framesWaiting = 0;
        // Armed once the line's first frame is drawn, so only the next command allocates.
        options.eachFrame = [&framesWaiting]() {
            if (engineState.script.commandPointer == 1 && engineState.effects.awaitingKey &&
                ++framesWaiting == 2) {
                platformFailAllocation(3); // name, argument, then the dialogue's growth
            }
        };
        std::string script =
            std::string("{0[say~a][") + command + "~" + std::string(600, 'x') + "][say~b]}";
        StoryResult result = playScript(script, options);
        platformFailAllocation(0);
        EXPECT_TRUE(result.fatal) << command;
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.caption, "Error");
        EXPECT_EQ(result.text, "Could not process dialogue: bad heap alloc");
    }
}

TEST(DialogueBuffer, GrowsByDoublingAndKeepsItsText) {
    struct Case {
        size_t lineLength;
        uint32_t capacity;
    } cases[] = {{0, 512}, {509, 512}, {510, 1024}, {600, 1024}, {1022, 2048}, {5000, 8192}};
    for (const Case& c : cases) {
        ASSERT_TRUE(startCommandEffects(0));
        std::string line(c.lineLength, 'q');
        ASSERT_TRUE(appendDialogueLine(line.c_str()));
        EXPECT_EQ(engineState.effects.dialogue.capacity, c.capacity) << c.lineLength;
        EXPECT_EQ(engineState.effects.dialogue.length, c.lineLength + 1);
        EXPECT_EQ(std::string(engineState.effects.dialogue.text), line + "\n");
        releaseCommandEffects();
    }
}

TEST(DialogueBuffer, FailedGrowthLeavesTheBufferAsItWas) {
    ASSERT_TRUE(startCommandEffects(0));
    ASSERT_TRUE(appendDialogueLine("kept"));
    platformFailAllocation(1);
    EXPECT_FALSE(appendDialogueLine(std::string(700, 'z').c_str()));
    platformFailAllocation(0);
    EXPECT_EQ(engineState.effects.dialogue.capacity, 512u);
    EXPECT_EQ(engineState.effects.dialogue.length, 5u);
    EXPECT_STREQ(engineState.effects.dialogue.text, "kept\n");
    clearDialogue();
    EXPECT_EQ(engineState.effects.dialogue.length, 0u);
    EXPECT_EQ(engineState.effects.dialogue.capacity, 512u);
    for (uint32_t i = 0; i < 512; ++i) {
        ASSERT_EQ(engineState.effects.dialogue.text[i], 0);
    }
    releaseCommandEffects();
}

TEST(Interpreter, EndOfCommandsFinishesWithoutExecuting) {
    ASSERT_TRUE(startCommandEffects(0));
    engineState.script.commands = extractItems("[say~a]", '[', ']');
    engineState.script.scriptState = ScriptState::Running;
    stepScript();
    EXPECT_EQ(engineState.script.commandPointer, 1);
    engineState.effects.awaitingKey = false;
    stepScript();
    EXPECT_EQ(engineState.script.scriptState, ScriptState::Finished);
    EXPECT_EQ(engineState.script.commandPointer, 1);
    EXPECT_FALSE(engineState.effects.awaitingKey);
    EXPECT_STREQ(engineState.effects.dialogue.text, "a\n");
    releaseScriptPosition();
    releaseCommandEffects();
}
