// The real start-up and main loop on the in-memory backend. The frame hook, called
// once per iteration after the script advanced, watches for key waits, keeps the
// next frame (the first that shows the wait) and then presses Space.
#include "shot/story_shots.h"

#include "app/app.h"
#include "engine/engine.h"
#include "platform/headless/headless.h"
#include "platform/soft/soft_surface.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Iterations without a command and without a wait: the play has stopped for good
// (a command with an empty argument).
constexpr uint32_t kStuckIterations = 4;

struct Recorder {
    const ShotOptions* options;
    ShotRun* run;
    ShotFinish finish;
    Shot pending; // the key wait whose first frame comes next
    KeyWaitWatch waits;
    bool captureDue;
    int32_t lastBlock;
    int32_t lastPointer;
    uint32_t idle;
    std::vector<ShotEvent> events; // since the last picture
    uint32_t sceneGeneration;
    uint32_t dialogueGeneration;
    uint32_t soundCount;
};
Recorder recorder;

// Ends the process from inside the play, its frames still on the stack.
[[noreturn]] void stopPlay(ShotEnd end, const std::string& message) {
    recorder.run->end = end;
    recorder.run->message = message;
    recorder.run->after = recorder.events;
    const char* title = headlessWindowTitle();
    recorder.run->title = title != nullptr ? title : "";
    int exitCode = recorder.finish(*recorder.options, *recorder.run);
    fflush(stdout);
    exit(exitCode);
}

void capture() {
    const PlatformBitmap* screen = headlessScreen();
    Shot& shot = recorder.pending;
    char name[32];
    snprintf(name, sizeof name, "shot-%04zu.png", recorder.run->shots.size() + 1);
    shot.file = name;
    if (screen == nullptr ||
        !recorder.options->writePicture(recorder.options->outFolder + "/" + name, screen->width,
                                        screen->height, screen->pixels)) {
        stopPlay(ShotEnd::WriteFailed, "cannot write " + recorder.options->outFolder + "/" + name);
    }
    shot.before.swap(recorder.events);
    recorder.run->shots.push_back(shot);
    headlessSchedule(HeadlessEvent{platformTickCount(), HeadlessEventKind::Key,
                                   static_cast<uint32_t>(kVirtualKeySpace), 0, 0});
}

void noteWait() {
    int32_t pointer = engineState.script.commandPointer;
    Shot& shot = recorder.pending;
    shot = Shot{};
    shot.block = currentBlockNumber();
    shot.command = pointer - 1;
    if (engineState.script.commands != nullptr && pointer > 0) {
        shot.text = engineState.script.commands[pointer - 1];
    }
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

void watchStuck() {
    bool moved = currentBlockNumber() != recorder.lastBlock ||
                 engineState.script.commandPointer != recorder.lastPointer;
    recorder.lastBlock = currentBlockNumber();
    recorder.lastPointer = engineState.script.commandPointer;
    bool idle = !moved && !engineState.effects.awaitingKey && !engineState.effects.timedWait &&
                engineState.script.scriptState == ScriptState::Running;
    recorder.idle = idle ? recorder.idle + 1 : 0;
    if (recorder.idle >= kStuckIterations) {
        int32_t block = currentBlockNumber();
        int32_t pointer = engineState.script.commandPointer;
        stopPlay(ShotEnd::Stuck, placeName(*recorder.run, block, pointer) + ": [" +
                                     engineState.script.commands[pointer] +
                                     "] has no argument: the play stops for good");
    }
}

std::string argumentOf(const char* command) {
    const char* tilde = strchr(command, '~');
    return tilde != nullptr ? tilde + 1 : "";
}

// The main loop runs at most one command an iteration: when the pointer moved on by
// one, what changed since the last iteration is that command's doing.
void noteEffects() {
    int32_t block = currentBlockNumber();
    int32_t pointer = engineState.script.commandPointer;
    bool stepped = engineState.script.commands != nullptr && block == recorder.lastBlock &&
                   pointer == recorder.lastPointer + 1;
    uint32_t sounds = headlessSoundCount();
    if (stepped) {
        std::string argument = argumentOf(engineState.script.commands[pointer - 1]);
        if (engineState.effects.sceneGeneration != recorder.sceneGeneration) {
            recorder.events.push_back({ShotEventKind::Scene, block, pointer - 1, argument});
        }
        if (sounds != recorder.soundCount) {
            recorder.events.push_back({ShotEventKind::Sound, block, pointer - 1, argument});
        }
        bool turned = engineState.effects.dialogueGeneration != recorder.dialogueGeneration &&
                      engineState.effects.dialogue.length == 0;
        if (turned) {
            recorder.events.push_back({ShotEventKind::PageTurn, block, pointer - 1, argument});
        }
        if (engineState.effects.timedWait) {
            recorder.events.push_back(
                {ShotEventKind::Wait, block, pointer - 1,
                 std::to_string(static_cast<uint32_t>(parseLeadingNumber(argument.c_str())))});
        }
    }
    recorder.sceneGeneration = engineState.effects.sceneGeneration;
    recorder.dialogueGeneration = engineState.effects.dialogueGeneration;
    recorder.soundCount = sounds;
}

void onFrame() {
    if (recorder.captureDue) {
        recorder.captureDue = false;
        capture();
    }
    if (keyWaitBegan(&recorder.waits)) {
        noteWait();
    }
    noteEffects();
    if (engineState.effects.timedWait) {
        skipTimedWait();
    }
    watchStuck();
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
    std::string where = placeName(*recorder.run, block, pointer) + ": [" + command + "]";
    if (strcmp(text, "Failed to load scene.") != 0) {
        return where + " stopped the play";
    }
    std::string file = argumentOf(command);
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

} // namespace

int playAndShoot(const ShotOptions& options, ShotFinish finish) {
    ShotRun run;
    // Positions as bexu-check gives them; it returns to the current folder when done.
    run.places = checkStory(options.folder).places;
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr || chdir(options.folder.c_str()) != 0) {
        run.message = "cannot enter " + options.folder;
        return finish(options, run);
    }
    resetEngineState();
    headlessReset(options.seed);
    headlessSetClientSize(options.width, options.height);
    headlessSetExitHandler(onExit);
    headlessSetFrameHook(onFrame);
    recorder = Recorder{};
    recorder.options = &options;
    recorder.run = &run;
    recorder.finish = finish;
    recorder.waits.block = -1;
    recorder.lastBlock = -1;
    startUp();
    recorder.lastBlock = currentBlockNumber();
    recorder.lastPointer = engineState.script.commandPointer;
    recorder.sceneGeneration = engineState.effects.sceneGeneration;
    recorder.dialogueGeneration = engineState.effects.dialogueGeneration;
    runMainLoop();
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

std::string placeName(const ShotRun& run, int32_t block, int32_t command) {
    const CommandPlace* place = findPlace(run.places, block, static_cast<uint32_t>(command));
    if (place == nullptr) {
        return "block " + std::to_string(block) + ", command " + std::to_string(command);
    }
    return "script.bexu:" + std::to_string(place->line) + ":" + std::to_string(place->column);
}
