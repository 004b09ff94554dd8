// Time in the browser: milliseconds of the page's monotonic clock, counted on from a
// start value read at the first call, which is the player's random seed. The page
// gives the start value (a test may fix it, as the headless player's start tick);
// by default it comes from the wall clock, so the stammers differ from run to run.
#include "platform/platform.h"

#include <emscripten.h>

namespace {
// clang-format off
EM_JS(uint32_t, startTickOfPage, (), {
    var given = Module.startTick;
    return (given !== undefined ? Number(given) : Date.now()) >>> 0;
});
// clang-format on
} // namespace

namespace {
bool started = false;
double startTime = 0;
uint32_t startTick = 0;
} // namespace

uint32_t platformTickCount() {
    double now = emscripten_get_now();
    if (!started) {
        started = true;
        startTime = now;
        startTick = startTickOfPage();
    }
    // Unsigned arithmetic: the count wraps every 2^32 ms, as it should.
    return startTick + static_cast<uint32_t>(static_cast<uint64_t>(now - startTime));
}

void webSetTickCount(uint32_t tick) {
    platformTickCount();
    startTime = emscripten_get_now();
    startTick = tick;
}

// Yields to the browser, which runs its handlers and paints meanwhile.
void platformSleep(uint32_t milliseconds) {
    emscripten_sleep(milliseconds);
}
