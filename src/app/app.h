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
// How the loop pauses after an iteration. After a command ran (or at the end of the play), a
// frame's length. Else a wait's frame shows and nothing changes until a message comes, the
// deadline of a timed wait passes, or the marker of a key wait with no Space pending moves
// on: the loop sleeps until `wakeTick`, unless a message comes first.
struct LoopPause {
    bool frame;
    uint32_t wakeTick;
};
LoopPause loopPauseAfter(bool commandRan);
[[noreturn]] void shutDown(int32_t exitCode);
// Frees everything the run holds, sub-record by sub-record, and leaves the record at its
// start values. For shutdown and for hosts that play a story inside their own process.
void releaseRun();
intptr_t windowProcedure(PlatformWindow* window, uint32_t message, uintptr_t wParam,
                         intptr_t lParam);
