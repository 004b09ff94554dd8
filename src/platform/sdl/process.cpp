// The fatal report and the end of the process.
#include "platform/platform.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void endProcess(int32_t exitCode) {
    SDL_Quit();
    exit(exitCode);
}
} // namespace

void platformFatal(const char* caption, const char* text, int32_t exitCode) {
    // First the terminal, so the reason is told even where no box can be shown.
    fprintf(stderr, "%s: %s\n", caption, text);
    fflush(stderr);
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
    endProcess(exitCode);
}

void platformExitProcess(int32_t exitCode) {
    endProcess(exitCode);
}
