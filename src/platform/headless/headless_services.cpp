// Virtual clock, scheduled events, sound log, fatal report and process end.
#include "format/story_format.h"
#include "platform/headless/headless_state.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kDefaultStartTick = 100000;
constexpr int32_t kExitTimeLimit = 3;

bool parseSize(const char* text, int32_t* width, int32_t* height) {
    long w = 0;
    long h = 0;
    if (sscanf(text, "%ldx%ld", &w, &h) != 2 || w < 0 || h < 0 || w > 16384 || h > 16384) {
        return false;
    }
    *width = static_cast<int32_t>(w);
    *height = static_cast<int32_t>(h);
    return true;
}

// One "tick:what" item of BEXU_HEADLESS_EVENTS.
void scheduleItem(const std::string& item) {
    size_t colon = item.find(':');
    if (colon == std::string::npos) {
        return;
    }
    HeadlessEvent event = {};
    // Environment ticks count from the start of the run.
    event.tick = headless().startTick + static_cast<uint32_t>(strtoul(item.c_str(), nullptr, 10));
    std::string what = item.substr(colon + 1);
    if (what == "space") {
        event.kind = HeadlessEventKind::Key;
        event.key = kVirtualKeySpace;
    } else if (what == "close") {
        event.kind = HeadlessEventKind::Close;
    } else if (what.rfind("size=", 0) == 0 &&
               parseSize(what.c_str() + 5, &event.width, &event.height)) {
        event.kind = HeadlessEventKind::Resize;
    } else {
        fprintf(stderr, "bexu-headless: unknown event '%s'\n", item.c_str());
        exit(2);
    }
    headlessSchedule(event);
}

void forEachItem(const char* list, void (*handle)(const std::string&)) {
    std::string text = list;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!item.empty()) {
            handle(item);
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
}

void scheduleKeyItem(const std::string& tick) {
    scheduleItem(tick + ":space");
}

[[noreturn]] void endProcess(int32_t exitCode, const char* caption, const char* text) {
    HeadlessState& state = headless();
    if (state.exitHandler != nullptr) {
        state.exitHandler(exitCode, caption, text);
    }
    headlessLog("exit %d", exitCode);
    if (state.log != nullptr) {
        fclose(state.log);
    }
    fflush(stdout);
    _Exit(exitCode);
}

} // namespace

HeadlessState& headless() {
    static HeadlessState state;
    return state;
}

void headlessFreePixels(PlatformBitmap** pixels) {
    PlatformBitmap* bitmap = *pixels;
    if (bitmap == nullptr) {
        return;
    }
    if (bitmap->selectedIn != nullptr) {
        platformSelectBitmap(bitmap->selectedIn, &bitmap->selectedIn->empty);
    }
    bitmap->lent = false;
    platformDeleteBitmap(bitmap);
    *pixels = nullptr;
}

void headlessReset(uint32_t startTick) {
    HeadlessState& state = headless();
    if (state.log != nullptr) {
        fclose(state.log);
    }
    state.configured = true;
    state.tick = startTick;
    state.startTick = startTick;
    state.timeLimit = 0;
    state.startWidth = kCanvasWidth;
    state.startHeight = kCanvasHeight;
    state.classes.clear();
    state.schedule.clear();
    state.queue.clear();
    delete state.window;
    state.window = nullptr;
    if (state.screen != nullptr) {
        platformDeleteBitmap(state.screen);
        state.screen = nullptr;
    }
    headlessFreePixels(&state.pixels[0]);
    headlessFreePixels(&state.pixels[1]);
    state.lending = true;
    state.presentCount = 0;
    state.sounds.clear();
    state.dialogueLengths.clear();
    state.exitHandler = nullptr;
    state.frameHook = nullptr;
    state.log = nullptr;
    state.dumpFolder.clear();
    state.lastDumpHash = 0;
    state.dumpCount = 0;
}

void headlessConfigure() {
    HeadlessState& state = headless();
    if (state.configured) {
        return;
    }
    const char* start = getenv("BEXU_HEADLESS_START_TICK");
    headlessReset(start != nullptr ? static_cast<uint32_t>(strtoul(start, nullptr, 10))
                                   : kDefaultStartTick);
    if (const char* size = getenv("BEXU_HEADLESS_SIZE")) {
        parseSize(size, &state.startWidth, &state.startHeight);
    }
    if (const char* keys = getenv("BEXU_HEADLESS_KEYS")) {
        forEachItem(keys, scheduleKeyItem);
    }
    if (const char* events = getenv("BEXU_HEADLESS_EVENTS")) {
        forEachItem(events, scheduleItem);
    }
    if (const char* limit = getenv("BEXU_HEADLESS_LIMIT")) {
        state.timeLimit = static_cast<uint32_t>(strtoul(limit, nullptr, 10));
    }
    if (const char* log = getenv("BEXU_HEADLESS_LOG")) {
        state.log = fopen(log, "w");
    }
    if (const char* dump = getenv("BEXU_HEADLESS_DUMP")) {
        state.dumpFolder = dump;
    }
}

void headlessLog(const char* format, ...) {
    HeadlessState& state = headless();
    if (state.log == nullptr) {
        return;
    }
    fprintf(state.log, "%u ", state.tick - state.startTick);
    va_list arguments;
    va_start(arguments, format);
    vfprintf(state.log, format, arguments);
    va_end(arguments);
    fputc('\n', state.log);
    fflush(state.log);
}

void headlessSetTick(uint32_t tick) {
    headless().tick = tick;
}

void headlessSchedule(const HeadlessEvent& event) {
    HeadlessState& state = headless();
    // Ticks are compared as distances from the start so a schedule may cross the wrap-around.
    uint32_t start = state.startTick;
    auto later = std::upper_bound(state.schedule.begin(), state.schedule.end(), event,
                                  [start](const HeadlessEvent& a, const HeadlessEvent& b) {
                                      return a.tick - start < b.tick - start;
                                  });
    state.schedule.insert(later, event);
}

void headlessSetTimeLimit(uint32_t milliseconds) {
    headless().timeLimit = milliseconds;
}

void headlessSetExitHandler(HeadlessExitHandler handler) {
    headless().exitHandler = handler;
}

uint32_t headlessSoundCount() {
    return static_cast<uint32_t>(headless().sounds.size());
}

const char* headlessSound(uint32_t index) {
    return index < headless().sounds.size() ? headless().sounds[index].c_str() : nullptr;
}

uint32_t platformTickCount() {
    headlessConfigure();
    return headless().tick;
}

void headlessSetFrameHook(HeadlessFrameHook hook) {
    headless().frameHook = hook;
}

void platformSleep(uint32_t milliseconds) {
    headlessConfigure();
    HeadlessState& state = headless();
    if (state.frameHook != nullptr) {
        state.frameHook();
    }
    state.tick += milliseconds;
    if (state.timeLimit != 0 && state.tick - state.startTick > state.timeLimit) {
        fprintf(stderr, "bexu-headless: time limit of %u ms reached\n", state.timeLimit);
        endProcess(kExitTimeLimit, "time limit", "time limit reached");
    }
}

void platformPlaySound(const char* path) {
    headless().sounds.push_back(path);
    headlessLog("play %s", path);
}

void platformFatal(const char* caption, const char* text, int32_t exitCode) {
    fprintf(stderr, "%s: %s\n", caption, text);
    headlessLog("fatal %s: %s", caption, text);
    endProcess(exitCode, caption, text);
}

void platformExitProcess(int32_t exitCode) {
    endProcess(exitCode, nullptr, nullptr);
}

void platformSetConsoleTitle(const char*) {
    // The headless program has no console title; the window title is what tests read.
}
