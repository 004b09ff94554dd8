// The real start-up and main loop on the in-memory backend. The frame hook, called
// once per iteration after the script advanced, watches for key waits, keeps the
// next frame (the first that shows the wait) and then presses Space.
#include "shot/story_shots.h"

#include "app/app.h"
#include "engine/engine.h"
#include "platform/headless/headless.h"
#include "platform/soft/soft_surface.h"
#include "shot/png_writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr uint32_t kFramePause = 16;
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
};
Recorder recorder;

// Ends the process from inside the play, its frames still on the stack.
[[noreturn]] void stopPlay(ShotEnd end, const std::string& message) {
    recorder.run->end = end;
    recorder.run->message = message;
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
    if (screen == nullptr || !writePng(recorder.options->outFolder + "/" + name, screen->width,
                                       screen->height, screen->pixels)) {
        stopPlay(ShotEnd::WriteFailed, "cannot write " + recorder.options->outFolder + "/" + name);
    }
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
        const char* command = engineState.script.commands[engineState.script.commandPointer];
        stopPlay(ShotEnd::Stuck,
                 "the play stops for good at block " + std::to_string(currentBlockNumber()) +
                     ", command " + std::to_string(engineState.script.commandPointer) + " '" +
                     (command != nullptr ? command : "") + "', which has no argument");
    }
}

void onFrame() {
    if (recorder.captureDue) {
        recorder.captureDue = false;
        capture();
    }
    if (keyWaitBegan(&recorder.waits)) {
        noteWait();
    }
    if (engineState.effects.timedWait) {
        skipTimedWait();
    }
    watchStuck();
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
    stopPlay(ShotEnd::Fatal, std::string("the player stopped: ") + caption + ": " + text + why);
}

std::string htmlText(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

int playAndShoot(const ShotOptions& options, ShotFinish finish) {
    ShotRun run;
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
    runMainLoop();
    run.end = ShotEnd::Finished;
    headlessSetFrameHook(nullptr);
    headlessSetExitHandler(nullptr);
    releaseRun();
    if (chdir(previous) != 0) {
        perror("bexu-shot: cannot return to the current folder");
    }
    return finish(options, run);
}

bool writeIndex(const ShotOptions& options, const ShotRun& run) {
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"iso-8859-1\">\n<title>" +
        htmlText(options.folder) +
        " - bexu-shot</title>\n<style>\nbody{font-family:sans-serif;background:#222;color:#ddd}\n"
        "figure{display:inline-block;margin:8px;width:400px;vertical-align:top}\n"
        "img{width:400px;border:1px solid #555}\nfigcaption{font-size:12px;word-wrap:break-word}\n"
        "</style></head><body>\n<h1>" +
        htmlText(options.folder) + "</h1>\n<p>" + std::to_string(run.shots.size()) +
        " key waits at " + std::to_string(options.width) + " x " + std::to_string(options.height) +
        ", stutter seed " + std::to_string(options.seed) + ".</p>\n";
    for (const Shot& shot : run.shots) {
        html += "<figure><a href=\"" + shot.file + "\"><img src=\"" + shot.file + "\" alt=\"" +
                htmlText(shot.dialogue) + "\"></a><figcaption>" + shot.file + ": block " +
                std::to_string(shot.block) + ", command " + std::to_string(shot.command) +
                " <code>[" + htmlText(shot.text) + "]</code></figcaption></figure>\n";
    }
    if (run.end != ShotEnd::Finished) {
        html += "<p><strong>" + htmlText(run.message) + "</strong></p>\n";
    }
    html += "</body></html>\n";
    std::string path = options.outFolder + "/index.html";
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = fwrite(html.data(), 1, html.size(), file) == html.size();
    return fclose(file) == 0 && written;
}
