// The fatal report and the end of the process.
#include "platform/platform.h"
#include "platform/sdl/sdl_host.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

namespace {

SdlExitHandler exitHandler = nullptr;

[[noreturn]] void endProcess(int32_t exitCode) {
    SDL_Quit();
    exit(exitCode);
}

} // namespace

void sdlSetExitHandler(SdlExitHandler handler) {
    exitHandler = handler;
}

void platformFatal(const char* caption, const char* text, int32_t exitCode) {
    // First the terminal, so the reason is told even where no box can be shown.
    fprintf(stderr, "%s: %s\n", caption, text);
    fflush(stderr);
    if (exitHandler != nullptr) {
        exitHandler(exitCode, caption, text);
        abort(); // a handler must not return
    }
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
    endProcess(exitCode);
}

void platformExitProcess(int32_t exitCode) {
    if (exitHandler != nullptr) {
        exitHandler(exitCode, nullptr, nullptr);
        abort();
    }
    endProcess(exitCode);
}
