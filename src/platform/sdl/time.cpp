// Time on Linux: a millisecond tick since boot, like the desktop's tick count,
// so the stutter seed differs from run to run and early ticks are already large.
#include "platform/platform.h"
#include "platform/sdl/sound_device.h"

#include <SDL.h>

#include <ctime>

uint32_t platformTickCount() {
    timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        return SDL_GetTicks();
    }
    // Unsigned arithmetic: the count wraps every 2^32 ms, as it should.
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

// The loop sleeps once per frame: the time to let a played-out sound device go.
void platformSleep(uint32_t milliseconds) {
    closePlayedOutSoundDevice();
    SDL_Delay(milliseconds);
}
