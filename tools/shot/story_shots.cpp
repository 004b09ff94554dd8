// The real start-up and main loop on the in-memory backend. The frame hook, called
// once per iteration after the script advanced, watches for key waits, keeps the
// next frame (the first that shows the wait) and then presses Space.
#include "shot/story_shots.h"

#include "app/app.h"
#include "app/play_from.h"
#include "check/story_check.h"
#include "common/progress.h"
#include "engine/play_cursor.h"
#include "platform/headless/headless.h"
#include "platform/soft/soft_surface.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

struct Recorder {
    const ShotOptions* options;
    ShotRun* run;
    ShotFinish finish;
    Shot pending; // the key wait whose first frame comes next
    KeyWaitWatch waits;
    bool captureDue;
    uint32_t executed;             // commands the engine had executed at the last frame
    std::vector<ShotEvent> events; // since the last picture
    uint32_t page;                 // key waits met so far
    Progress progress;
};
Recorder recorder;

// Ends the process from inside the play, its frames still on the stack.
[[noreturn]] void stopPlay(ShotEnd end, const std::string& message) {
    endProgress(&recorder.progress);
    recorder.run->end = end;
    recorder.run->message = message;
    recorder.run->after = recorder.events;
    const char* title = headlessWindowTitle();
    recorder.run->title = title != nullptr ? title : "";
    int exitCode = recorder.finish(*recorder.options, *recorder.run);
    fflush(stdout);
    exit(exitCode);
}

// Pressed at the first frame of a key wait, the Space reaches the loop a frame's pause
// later, as a play run ahead to a page has it: both give the same pictures.
void pressSpace() {
    headlessSchedule(HeadlessEvent{platformTickCount() + kFramePause, HeadlessEventKind::Key,
                                   static_cast<uint32_t>(kVirtualKeySpace), 0, 0});
}

void capture() {
    const ShotOptions& options = *recorder.options;
    Shot& shot = recorder.pending;
    shot.page = ++recorder.page;
    const PlatformBitmap* screen = headlessScreen();
    char name[32];
    snprintf(name, sizeof name, "shot-%04u.png", shot.page);
    shot.file = name;
    if (screen == nullptr || !options.writePicture(options.outFolder + "/" + name, screen->width,
                                                   screen->height, screen->pixels)) {
        stopPlay(ShotEnd::WriteFailed, "cannot write " + options.outFolder + "/" + name);
    }
    shot.before.swap(recorder.events);
    recorder.run->shots.push_back(shot);
    advanceProgress(&recorder.progress, 1);
    if (shot.page >= options.lastPage) {
        stopPlay(ShotEnd::Finished, "");
    }
    pressSpace();
}

// Keeps where command `index` of the current block stands, for the sheet to name it.
void notePlace(int32_t index) {
    CommandPlace place;
    std::vector<CommandPlace>& places = recorder.run->places;
    bool known = !places.empty() && places.back().block == currentBlockNumber() &&
                 places.back().index == static_cast<uint32_t>(index);
    if (!known && cursorPlaceOf(&engineState.script, index, &place)) {
        places.push_back(place);
    }
}

// The key wait begun by the say or stutter just executed.
void noteWait() {
    const StepRecord& step = engineState.script.lastStep;
    Shot& shot = recorder.pending;
    shot = Shot{};
    shot.block = step.block;
    shot.command = step.index;
    shot.text = engineState.script.commands[step.index];
    shot.dialogue = engineState.effects.dialogue.text;
    recorder.captureDue = true;
}

// Runs the clock forward to just before the deadline, so the wait ends next time.
void skipTimedWait() {
    uint32_t now = platformTickCount();
    auto left = static_cast<int32_t>(engineState.effects.waitDeadline - now);
    if (left > static_cast<int32_t>(kFramePause)) {
        headlessSetTick(engineState.effects.waitDeadline - kFramePause);
    }
}

// A command without an argument holds the play for good.
void watchHeld() {
    if (!engineState.script.lastStep.held) {
        return;
    }
    int32_t block = currentBlockNumber();
    int32_t pointer = engineState.script.commandPointer;
    notePlace(pointer);
    stopPlay(ShotEnd::Stuck, placeName(*recorder.run, block, pointer) + ": [" +
                                 engineState.script.commands[pointer] +
                                 "] has no argument: the play stops for good");
}

// What the command executed in this iteration did, as the engine recorded it: the main
// loop runs at most one command an iteration.
void noteEffects() {
    const StepRecord& step = engineState.script.lastStep;
    if (step.executed == recorder.executed) {
        return;
    }
    recorder.executed = step.executed;
    notePlace(step.index);
    const char* command = engineState.script.commands[step.index];
    std::string argument = commandArgument(command);
    switch (step.kind) {
    case CommandKind::Cg:
        recorder.events.push_back({ShotEventKind::Scene, step.block, step.index, argument});
        break;
    case CommandKind::Play:
        recorder.events.push_back({ShotEventKind::Sound, step.block, step.index, argument});
        break;
    case CommandKind::Turn:
        if (argument == "page") {
            recorder.events.push_back({ShotEventKind::PageTurn, step.block, step.index, argument});
        }
        break;
    case CommandKind::Wait:
        recorder.events.push_back(
            {ShotEventKind::Wait, step.block, step.index,
             std::to_string(static_cast<uint32_t>(parseLeadingNumber(argument.c_str())))});
        break;
    default:
        break;
    }
}

void onFrame() {
    if (recorder.captureDue) {
        recorder.captureDue = false;
        capture();
    }
    noteEffects();
    if (keyWaitBegan(&recorder.waits)) {
        noteWait();
    }
    if (engineState.effects.timedWait) {
        skipTimedWait();
    }
    watchHeld();
}

// The command a fatal report came from, and the file it names when it loads one.
std::string stoppedBy(const char* text) {
    if (engineState.script.commands == nullptr ||
        engineState.script.commands[engineState.script.commandPointer] == nullptr) {
        return "the player stopped at start";
    }
    int32_t block = currentBlockNumber();
    int32_t pointer = engineState.script.commandPointer;
    const char* command = engineState.script.commands[pointer];
    notePlace(pointer);
    std::string where = placeName(*recorder.run, block, pointer) + ": [" + command + "]";
    if (strcmp(text, kSceneFailedMessage) != 0) {
        return where + " stopped the play";
    }
    std::string file = commandArgument(command);
    PlatformFile* opened = platformOpenFile(file.c_str());
    platformCloseFile(opened);
    return where + " stopped the play: the scene file '" + file + "' " +
           (opened == nullptr ? "cannot be opened" : "does not load as a bitmap") +
           ", and the player says";
}

void onExit(int32_t exitCode, const char* caption, const char* text) {
    if (caption == nullptr) {
        stopPlay(ShotEnd::Fatal, "the player ended with exit code " + std::to_string(exitCode));
    }
    std::string why;
    // The player's load messages name no reason; the loader kept one.
    if (strncmp(text, "Failed to load", 14) == 0) {
        why = std::string(" (") + loadFailureText(platformLoadFailure()) + ")";
    }
    stopPlay(ShotEnd::Fatal, stoppedBy(text) + ": " + caption + ": " + text + why);
}

// Runs ahead to the key wait of that page, in the reader's time; false when the play ends
// before it (a play that holds for good before it stops as it would at its place).
bool runAheadToPage(uint32_t page) {
    PlayStartReport report;
    bool reached = runAheadTo(PlayStart{0, 0, page}, &report);
    if (!reached && report.end == PlayStartEnd::PlayHeld) {
        watchHeld();
    }
    headlessSetTick(report.tick);
    recorder.waits.seen = engineState.script.lastStep.keyWaits;
    recorder.executed = engineState.script.lastStep.executed;
    recorder.page = page - 1;
    return reached && catchUp();
}

} // namespace

int playAndShoot(const ShotOptions& options, ShotFinish finish) {
    ShotRun run;
    // How many key waits the play holds, as bexu-check counts them, for the progress line;
    // the check returns to the current folder when done.
    run.keyWaits = checkStory(options.folder).keyWaits;
    run.scriptName = folderPrefix(options.folder) + kScriptFileName;
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr || chdir(options.folder.c_str()) != 0) {
        run.message = "cannot enter " + options.folder;
        return finish(options, run);
    }
    headlessReset(options.seed);
    headlessSetClientSize(options.width, options.height);
    headlessSetExitHandler(onExit);
    headlessSetFrameHook(onFrame);
    recorder = Recorder{};
    recorder.options = &options;
    recorder.run = &run;
    recorder.finish = finish;
    uint32_t last = std::min(options.lastPage, run.keyWaits);
    startProgress(&recorder.progress, "bexu-shot: pages",
                  last >= options.firstPage ? last - options.firstPage + 1 : 0, false);
    // Where each command stands, as bexu-check names it.
    keepPlayPlaces();
    startUp();
    if (options.firstPage <= 1 || runAheadToPage(options.firstPage)) {
        runMainLoop();
    }
    endProgress(&recorder.progress);
    run.end = ShotEnd::Finished;
    run.after = recorder.events;
    const char* title = headlessWindowTitle();
    run.title = title != nullptr ? title : "";
    headlessSetFrameHook(nullptr);
    headlessSetExitHandler(nullptr);
    releaseRun();
    if (chdir(previous) != 0) {
        perror("bexu-shot: cannot return to the current folder");
    }
    return finish(options, run);
}

const CommandPlace* shotPlace(const ShotRun& run, int32_t block, int32_t command) {
    // Blocks play in rising numbers, commands in order: the places are sorted.
    auto before = [](const CommandPlace& place, std::pair<int32_t, uint32_t> wanted) {
        return std::make_pair(place.block, place.index) < wanted;
    };
    auto wanted = std::make_pair(block, static_cast<uint32_t>(command));
    auto found = std::lower_bound(run.places.begin(), run.places.end(), wanted, before);
    return found != run.places.end() && found->block == block && found->index == wanted.second
               ? &*found
               : nullptr;
}

std::string placeName(const ShotRun& run, int32_t block, int32_t command) {
    const CommandPlace* place = shotPlace(run, block, command);
    if (place == nullptr) {
        return "block " + std::to_string(block) + ", command " + std::to_string(command);
    }
    return run.scriptName + ":" + std::to_string(place->line) + ":" + std::to_string(place->column);
}
