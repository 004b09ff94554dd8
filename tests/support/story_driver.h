// Plays a whole story in-process on the headless backend: the real start-up and
// main loop, a virtual clock, and Space pressed a little after each key wait begins.
#pragma once

#include "app/play_from.h"
#include "support/test_files.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct StoryOptions {
    uint32_t startTick = 100000;
    // Space comes this long after each key wait begins; 0 presses nothing.
    uint32_t keyDelay = 50;
    // Virtual milliseconds before the run is stopped.
    uint32_t timeLimit = 10 * 60 * 1000;
    int32_t clientWidth = 1600;
    int32_t clientHeight = 900;
    // Whether the window lends its pixels to be drawn into (off: the player keeps its own).
    bool lending = true;
    // When not 0: the window's pixels are kept this long after each key wait began.
    uint32_t snapshotDelay = 0;
    // More Space presses, at virtual ms since the start.
    std::vector<uint32_t> extraKeys;
    // Window events at virtual ms since the start: a close request, client-size changes.
    uint32_t closeAt = 0;
    std::vector<std::pair<uint32_t, std::pair<int32_t, int32_t>>> resizes;
    // When not 0: the nth allocation from the start of the run fails.
    uint32_t failAllocationAt = 0;
    // Called once per main-loop iteration, after the script advanced.
    std::function<void()> eachFrame;
    // When set, the play runs ahead to this start and the loop takes over there.
    bool playFrom = false;
    PlayStart start = {};
};

struct KeyWait {
    std::string dialogue;
    uint32_t elapsed; // virtual ms since the start when the wait began
};

struct StoryResult {
    int32_t exitCode = -1;
    bool fatal = false;
    bool timedOut = false;
    std::string caption;
    std::string text;
    std::string title;
    bool windowShown = false;
    std::vector<KeyWait> waits;
    std::vector<TestImage> snapshots; // one per key wait, with snapshotDelay
    std::vector<std::string> sounds;
    uint32_t elapsed = 0;
    // With playFrom: how the run ahead ended.
    bool startReached = false;
    PlayStartReport startReport = {};
    // The dialogue at each wait, for compact expectations.
    std::vector<std::string> dialogues() const;
};

// What the headless window shows now.
TestImage headlessScreenImage();

StoryResult playStory(const std::string& folder, const StoryOptions& options = StoryOptions());
// Writes the script with the test font and tile into a temporary folder, plays it, removes it.
StoryResult playScript(const std::string& script, const StoryOptions& options = StoryOptions());
