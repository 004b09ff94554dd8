// The in-memory backend's controls, for tests and tools: a virtual clock that
// sleeping advances, key presses and resizes scheduled at given ticks, a log of
// sounds and titles, and the frames the window was shown.
//
// Run as a program (bexu-headless), it reads its script from the environment:
//   BEXU_HEADLESS_START_TICK   tick count at start (default 100000)
//   BEXU_HEADLESS_SIZE         client size at start, WxH (default 1600x900)
//   BEXU_HEADLESS_KEYS         ticks at which Space is pressed, comma-separated
//   BEXU_HEADLESS_EVENTS       tick:space | tick:close | tick:size=WxH, comma-separated
//   BEXU_HEADLESS_LIMIT        virtual milliseconds after which the run stops, exit code 3
//   BEXU_HEADLESS_LOG          file that receives one line per event (play, title, dialogue,
//                              fatal, frame)
//   BEXU_HEADLESS_DUMP         folder that receives each distinct presented frame as PPM
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <vector>

// Wake: an event the player has no use for (the pointer moving over the window), which
// ends a sleep of the loop and nothing more.
enum class HeadlessEventKind { Key, Close, Resize, Wake };

struct HeadlessEvent {
    uint32_t tick;
    HeadlessEventKind kind;
    uint32_t key;
    int32_t width;
    int32_t height;
};

// Back to the start: clock, queue, window, logs (configuration from the environment
// is read once, at the first platform call, unless this is called before).
void headlessReset(uint32_t startTick);
void headlessSetTick(uint32_t tick);
void headlessSchedule(const HeadlessEvent& event);
void headlessSetClientSize(int32_t width, int32_t height);
// Stops the run with exit code 3 once the clock passes start + limit (0: no limit).
void headlessSetTimeLimit(uint32_t milliseconds);

// Whether the window lends its pixels to be drawn into (platformWindowPixels); on by
// default. Off, the player keeps bitmaps of its own, as where the desktop keeps the window's.
void headlessSetLending(bool lending);

// What the window shows: the pixels last presented, client-sized (none before the first).
const PlatformBitmap* headlessScreen();
uint32_t headlessPresentCount();
const char* headlessWindowTitle();
bool headlessWindowShown();
// Sounds started, oldest first; the count and the path of entry i.
uint32_t headlessSoundCount();
const char* headlessSound(uint32_t index);

// Lengths of the dialogue handed over as text, one per change, oldest first.
const std::vector<uint32_t>& headlessDialogueLengths();

// Called at the start of every pause, that is once per main-loop iteration, so a
// test can watch the play state and schedule input. Null removes it.
using HeadlessFrameHook = void (*)();
void headlessSetFrameHook(HeadlessFrameHook hook);

// Called instead of ending the process (fatal reports and exits); must not return.
// Lets a test or a fuzzer observe the exit. Null restores ending the process.
using HeadlessExitHandler = void (*)(int32_t exitCode, const char* caption, const char* text);
void headlessSetExitHandler(HeadlessExitHandler handler);
