// The application shell: start-up, the frame loop, the window procedure, shutdown.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// The main routine: never returns.
[[noreturn]] void runPlayer();
// The player's start-up: the stutter's seed from the clock and the dialogue, the window,
// then startPlayIn.
void startUp();
// The window of the player's class, hidden; ends the process when it cannot be had.
PlatformWindow* makeWindow();
// The play's start in a window: the script (the player's message when it is missing), the
// title, the window shown, the surfaces. The command effects are started before.
void startPlayIn(PlatformWindow* window);
// The title file's whole content, up to a zero byte; none without one, or when empty.
char* readTitleFile();
// Returns the exit code: the quit message's, or 0 when the script ran out.
int32_t runMainLoop();
// One iteration of the loop; false when the loop ends, the exit code then in *exitCode.
bool runLoopIteration(int32_t* exitCode);
[[noreturn]] void shutDown(int32_t exitCode);
// Frees everything the run holds, sub-record by sub-record, and leaves the record at its
// start values. For shutdown and for hosts that play a story inside their own process.
void releaseRun();
intptr_t windowProcedure(PlatformWindow* window, uint32_t message, uintptr_t wParam,
                         intptr_t lParam);
