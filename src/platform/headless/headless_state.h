// The in-memory backend's private record.
#pragma once

#include "platform/headless/headless.h"
#include "platform/soft/soft_surface.h"
#include "platform/window_core/window_core.h"

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

struct NativeWindow {
    std::string title;
    int32_t clientWidth;
    int32_t clientHeight;
    bool shown;
};

struct HeadlessState {
    bool configured;
    uint32_t tick;
    uint32_t startTick;
    uint32_t timeLimit;
    int32_t startWidth;
    int32_t startHeight;
    std::vector<HeadlessEvent> schedule; // kept in tick order
    std::deque<NativeWindow> natives;    // of every window made since the reset
    PlatformWindow* window;              // the last one made
    // The window's pixels as the player draws them (lent, client-sized, two in turn so a
    // new one never has the old one's address) and as presented, what the window shows.
    bool lending;
    PlatformBitmap* pixels[2];
    int pixelsIndex;
    PlatformBitmap* screen;
    uint32_t presentCount;
    std::vector<std::string> sounds;
    std::vector<uint32_t> dialogueLengths;
    HeadlessExitHandler exitHandler;
    HeadlessFrameHook frameHook;
    FILE* log;
    std::string dumpFolder;
    uint64_t lastDumpHash;
    uint32_t dumpCount;
};

HeadlessState& headless();
// Reads the environment's configuration once, unless a test has reset the backend.
void headlessConfigure();
void headlessLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void headlessDumpScreen();
// The loop pauses: the frame hook runs.
void headlessPauseBegins();
// Moves the clock on; past the time limit the run ends.
void headlessAdvanceClock(uint32_t milliseconds);
// Frees the lent pixels, taking them out of any surface first.
void headlessFreePixels(PlatformBitmap** pixels);
