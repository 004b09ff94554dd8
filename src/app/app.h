// The application shell: start-up, the frame loop, the window procedure, shutdown.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// The main routine: never returns.
[[noreturn]] void runPlayer();
void startUp();
// Returns the exit code: the quit message's, or 0 when the script ran out.
int32_t runMainLoop();
[[noreturn]] void shutDown(int32_t exitCode);
// Frees everything the run holds, sub-record by sub-record, and leaves the record at its
// start values. For shutdown and for hosts that play a story inside their own process.
void releaseRun();
intptr_t windowProcedure(PlatformWindow* window, uint32_t message, uintptr_t wParam,
                         intptr_t lParam);
