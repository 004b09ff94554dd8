#include "support/story_driver.h"

#include "app/app.h"
#include "engine/engine.h"
#include "platform/headless/headless.h"
#include "platform/soft/soft_surface.h"
#include "support/fatal_leaks.h"
#include "support/test_files.h"

#include <csetjmp>
#include <unistd.h>

namespace {

struct DriverState {
    const StoryOptions* options;
    StoryResult* result;
    std::jmp_buf exitJump;
    uint32_t startTick;
    KeyWaitWatch waits;
};
DriverState driver;

} // namespace

TestImage headlessScreenImage() {
    const PlatformBitmap* screen = headlessScreen();
    if (screen == nullptr) {
        return TestImage{0, 0, {}};
    }
    size_t count = size_t(screen->width) * size_t(screen->height);
    return TestImage{screen->width, screen->height,
                     std::vector<uint32_t>(screen->pixels, screen->pixels + count)};
}

namespace {

void takeSnapshotWhenDue() {
    StoryResult& result = *driver.result;
    uint32_t delay = driver.options->snapshotDelay;
    if (delay == 0 || result.snapshots.size() >= result.waits.size()) {
        return;
    }
    uint32_t elapsed = platformTickCount() - driver.startTick;
    if (elapsed - result.waits.back().elapsed >= delay) {
        result.snapshots.push_back(headlessScreenImage());
    }
}

void watchFrame() {
    fatalLeaksNextIteration();
    if (keyWaitBegan(&driver.waits)) {
        uint32_t now = platformTickCount();
        driver.result->waits.push_back(
            KeyWait{engineState.effects.dialogue.text, now - driver.startTick});
        if (driver.options->keyDelay != 0) {
            headlessSchedule(HeadlessEvent{now + driver.options->keyDelay, HeadlessEventKind::Key,
                                           uint32_t(kVirtualKeySpace), 0, 0});
        }
    }
    takeSnapshotWhenDue();
    if (driver.options->eachFrame) {
        driver.options->eachFrame();
    }
}

void onExit(int32_t exitCode, const char* caption, const char* text) {
    StoryResult& result = *driver.result;
    result.exitCode = exitCode;
    if (caption != nullptr) {
        result.caption = caption;
        result.text = text;
        result.fatal = exitCode != 3 || result.caption != "time limit";
        result.timedOut = !result.fatal;
    }
    fatalLeaksForgive();
    std::longjmp(driver.exitJump, 1);
}

// Runs ahead to the start with the clock where the reader's would stand, then lets the loop
// take over. False when the play does not go on.
bool startAhead(const PlayStart& start, StoryResult* result) {
    result->startReached = runAheadTo(start, &result->startReport);
    if (!result->startReached) {
        result->exitCode = 0;
        return false;
    }
    headlessSetTick(result->startReport.tick);
    driver.waits.seen = engineState.script.lastStep.keyWaits;
    if (!catchUp()) {
        result->exitCode = 0;
        return false;
    }
    return true;
}

} // namespace

std::vector<std::string> StoryResult::dialogues() const {
    std::vector<std::string> texts;
    for (const KeyWait& wait : waits) {
        texts.push_back(wait.dialogue);
    }
    return texts;
}

StoryResult playStory(const std::string& folder, const StoryOptions& options) {
    StoryResult result;
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr || chdir(folder.c_str()) != 0) {
        result.text = "cannot enter " + folder;
        return result;
    }
    headlessReset(options.startTick);
    headlessSetClientSize(options.clientWidth, options.clientHeight);
    headlessSetLending(options.lending);
    headlessSetTimeLimit(options.timeLimit);
    headlessSetExitHandler(onExit);
    headlessSetFrameHook(watchFrame);
    driver = DriverState{};
    driver.options = &options;
    driver.result = &result;
    driver.startTick = options.startTick;

    for (uint32_t at : options.extraKeys) {
        headlessSchedule(HeadlessEvent{options.startTick + at, HeadlessEventKind::Key,
                                       uint32_t(kVirtualKeySpace), 0, 0});
    }
    if (options.closeAt != 0) {
        headlessSchedule(
            HeadlessEvent{options.startTick + options.closeAt, HeadlessEventKind::Close, 0, 0, 0});
    }
    for (const auto& resize : options.resizes) {
        headlessSchedule(HeadlessEvent{options.startTick + resize.first, HeadlessEventKind::Resize,
                                       0, resize.second.first, resize.second.second});
    }
    fatalLeaksWatch(true);
    if (setjmp(driver.exitJump) == 0) {
        platformFailAllocation(options.failAllocationAt);
        if (options.playFrom) {
            keepPlayPlaces();
        }
        startUp();
        if (!options.playFrom || startAhead(options.start, &result)) {
            result.exitCode = runMainLoop();
        }
    }
    fatalLeaksWatch(false);
    platformFailAllocation(0);
    result.elapsed = platformTickCount() - options.startTick;
    const char* title = headlessWindowTitle();
    result.title = title != nullptr ? title : "";
    result.windowShown = headlessWindowShown();
    for (uint32_t i = 0; i < headlessSoundCount(); ++i) {
        result.sounds.push_back(headlessSound(i));
    }
    headlessSetFrameHook(nullptr);
    headlessSetExitHandler(nullptr);
    // Frees what the run made, so leak checkers see only real leaks.
    releaseRun();
    if (chdir(previous) != 0) {
        perror("chdir");
    }
    return result;
}

StoryResult playScript(const std::string& script, const StoryOptions& options) {
    std::string folder = makeStoryFolder(script);
    StoryResult result = playStory(folder, options);
    removeFolder(folder);
    return result;
}
