// bexu-preview STORY [--at script.bexu:LINE[:COL] | --page N]: plays the story in its
// window from a line or a page at once, and plays again to the same place whenever a file
// of the story is saved.
#include "app/app.h"
#include "app/play_from.h"
#include "platform/sdl/sdl_host.h"
#include "preview/story_watch.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: bexu-preview STORY [--at script.bexu:LINE[:COL] | --page N] [--seed N]\n"
    "Plays the story in the folder STORY from the first command at or after LINE (and\n"
    "COL) of its script, or from page N as bexu-shot numbers its pictures (the N-th key\n"
    "wait); from the start without either. Space reads on as in the player. Whenever a\n"
    "file of the story is saved, the story plays again to the line on screen. The\n"
    "stammers come from --seed (bexu-shot's default is 100000), else from the clock.\n";

// Changes come in for this long after the first: an editor's save is several writes.
constexpr int kSettleMs = 30;
// How often a stopped play looks for a change and keeps its window answering.
constexpr uint32_t kIdlePause = 50;
// The dash between the position and the story's title, in the window title's code page.
const char kTitleDash[] = " \x97 ";

struct Preview {
    PlatformWindow* window;
    uint32_t seed; // the stammers stay the same from one save to the next
    PlayStart start;
    StoryWatch watch;
    std::jmp_buf playEnd;
    std::string ended; // why the last play stopped; empty when it was not stopped
    KeyWaitWatch waits;
};
Preview preview;

bool parseNumber(const char* text, uint32_t* value) {
    char* end = nullptr;
    unsigned long number = strtoul(text, &end, 10);
    if (end == text || *end != '\0' || text[0] == '-' || number == 0 || number > UINT32_MAX) {
        return false;
    }
    *value = static_cast<uint32_t>(number);
    return true;
}

// "script.bexu:LINE[:COL]", or "LINE[:COL]".
bool parsePosition(std::string text, PlayStart* start) {
    std::string name = std::string(kScriptFileName) + ":";
    if (text.compare(0, name.size(), name) == 0) {
        text = text.substr(name.size());
    }
    size_t colon = text.find(':');
    start->column = 0;
    if (colon != std::string::npos &&
        !parseNumber(text.substr(colon + 1).c_str(), &start->column)) {
        return false;
    }
    return parseNumber(text.substr(0, colon).c_str(), &start->line);
}

bool parseArguments(int argc, char** argv, std::string* story, PlayStart* start, bool* seedGiven,
                    uint32_t* seed) {
    *start = PlayStart{1, 0, 0};
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        bool hasValue = i + 1 < argc;
        if (argument == "--at" && hasValue) {
            if (!parsePosition(argv[++i], start)) {
                return false;
            }
            start->page = 0;
        } else if (argument == "--page" && hasValue) {
            if (!parseNumber(argv[++i], &start->page)) {
                return false;
            }
        } else if (argument == "--seed" && hasValue) {
            char* end = nullptr;
            const char* text = argv[++i];
            unsigned long value = strtoul(text, &end, 10);
            if (end == text || *end != '\0' || text[0] == '-' || value > UINT32_MAX) {
                return false;
            }
            *seedGiven = true;
            *seed = static_cast<uint32_t>(value);
        } else if (argument.empty() || argument[0] == '-' || !story->empty()) {
            return false;
        } else {
            *story = argument;
        }
    }
    return !story->empty();
}

std::string where(const CommandPlace& place) {
    return std::string(kScriptFileName) + ":" + std::to_string(place.line) + ":" +
           std::to_string(place.column);
}

// "script.bexu:LINE — <title>", in the window title's code page.
void showPosition(const CommandPlace& place) {
    char* title = readTitleFile();
    std::string text = std::string(kScriptFileName) + ":" + std::to_string(place.line) +
                       kTitleDash + (title != nullptr ? title : kDefaultTitle);
    platformFree(title);
    platformSetWindowTitle(preview.window, text.c_str());
}

// A play that ends from inside (its fatal report, or its end) comes back here.
[[noreturn]] void onPlayEnd(int32_t, const char* caption, const char* text) {
    preview.ended = caption != nullptr ? std::string(caption) + ": " + text : "the play ended";
    std::longjmp(preview.playEnd, 1);
}

double millisecondsSince(const timespec& start) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1e3 + (now.tv_nsec - start.tv_nsec) / 1e6;
}

// Runs ahead to the start and hands the play to the reader there.
bool startPlay() {
    timespec began;
    clock_gettime(CLOCK_MONOTONIC, &began);
    if (!startCommandEffects(preview.seed)) {
        preview.ended = "not enough memory to start";
        return false;
    }
    keepPlayPlaces();
    startPlayIn(preview.window);
    PlayStartReport report;
    if (!runAheadTo(preview.start, &report)) {
        preview.ended = report.end == PlayStartEnd::PlayHeld
                            ? "the play holds for good at " + where(report.place) +
                                  " (a command without an argument), before the start"
                            : "the play ends before the start";
        return false;
    }
    showPosition(report.place);
    preview.waits.seen = engineState.script.lastStep.keyWaits;
    printf("bexu-preview: playing from %s (page %u), ready in %.0f ms\n",
           where(report.place).c_str(), report.page + 1, millisecondsSince(began));
    fflush(stdout);
    return catchUp();
}

// The title follows the line on screen, and a reload starts from it.
void followKeyWaits() {
    if (!keyWaitBegan(&preview.waits)) {
        return;
    }
    CommandPlace place;
    if (cursorPlaceOf(&engineState.script, engineState.script.lastStep.index, &place)) {
        showPosition(place);
        preview.start = PlayStart{place.line, place.column, 0};
    }
}

// Plays until a file changes (true) or the window is closed (false).
bool playUntilChange() {
    preview.ended.clear();
    if (setjmp(preview.playEnd) == 0 && startPlay()) {
        int32_t exitCode = -1;
        while (!storyChanged(&preview.watch, kSettleMs)) {
            if (!runLoopIteration(&exitCode)) {
                if (exitCode >= 0) {
                    return false; // the window was closed
                }
                preview.ended = "the story has ended";
                break;
            }
            followKeyWaits();
        }
        if (preview.ended.empty()) {
            return true;
        }
    }
    fprintf(stderr, "bexu-preview: %s; save a file of the story to play again\n",
            preview.ended.c_str());
    return true;
}

// The play stopped: the window keeps answering until a file changes or it is closed.
bool waitForChange() {
    while (!storyChanged(&preview.watch, kSettleMs)) {
        PlatformMessage message;
        while (platformPeekMessage(&message)) {
            if (message.message == kMessageQuit) {
                return false;
            }
            platformDispatchMessage(&message);
        }
        platformSleep(kIdlePause);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string story;
    bool seedGiven = false;
    uint32_t seed = 0;
    if (!parseArguments(argc, argv, &story, &preview.start, &seedGiven, &seed)) {
        fputs(kUsage, stderr);
        return 2;
    }
    if (chdir(story.c_str()) != 0) {
        fprintf(stderr, "bexu-preview: %s: cannot be entered\n", story.c_str());
        return 1;
    }
    if (!startWatching(&preview.watch, ".")) {
        fprintf(stderr, "bexu-preview: %s: cannot be watched for changes\n", story.c_str());
        return 1;
    }
    preview.seed = seedGiven ? seed : platformTickCount();
    preview.window = makeWindow();
    sdlSetExitHandler(onPlayEnd);
    for (;;) {
        bool open = playUntilChange();
        if (open && !preview.ended.empty()) {
            open = waitForChange();
        }
        releaseRun();
        if (!open) {
            break;
        }
        // Folders made since are watched too.
        stopWatching(&preview.watch);
        startWatching(&preview.watch, ".");
        printf("bexu-preview: a file of the story changed\n");
    }
    sdlSetExitHandler(nullptr);
    stopWatching(&preview.watch);
    platformExitProcess(0);
}
