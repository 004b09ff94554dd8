// SDL's events translated into the window core's messages, and the loop's sleep until the
// next one.
#include "platform/sdl/sdl_events.h"
#include "platform/sdl/sound_device.h"
#include "platform/window_core/window_core.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <poll.h>

namespace {

// A long sleep wakes this often to let the sound device go once it has played out.
constexpr uint32_t kLongestSlice = 1000;

// The player's window procedure knows one key, Space; every other key still reaches it,
// as on the desktop the message codes come from, as "no virtual key".
constexpr uintptr_t kNoVirtualKey = 0xFF;

uintptr_t virtualKeyOf(SDL_Keycode key) {
    return key == SDLK_SPACE ? kVirtualKeySpace : kNoVirtualKey;
}

// One SDL event into the core: a key-down or a close request is queued, a lost picture
// becomes a paint. False for the events the player has no use for.
bool takeEvent(const SDL_Event& event) {
    if (event.type == SDL_KEYDOWN) {
        // Repeat count 1; bit 30 tells a key repeat, as the desktop's key-down does.
        intptr_t lParam = 1 | (event.key.repeat != 0 ? (intptr_t{1} << 30) : 0);
        return corePostMessage(sdlWindowOfId(event.key.windowID), kMessageKeyDown,
                               virtualKeyOf(event.key.keysym.sym), lParam);
    }
    if (event.type != SDL_WINDOWEVENT) {
        return false;
    }
    PlatformWindow* window = sdlWindowOfId(event.window.windowID);
    switch (event.window.event) {
    case SDL_WINDOWEVENT_CLOSE:
        return corePostMessage(window, kMessageClose, 0, 0);
    // The X window lost what it showed: its procedure hears of it as a paint.
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_RESTORED:
        coreInvalidateWindow(window);
        return coreWindowLive(window);
    default:
        return false;
    }
}

// Moves SDL's events into the core; true when one of them was for the player. Events stay
// in SDL's queue while the core's is full.
bool takeEvents() {
    bool taken = false;
    SDL_Event event;
    while (coreQueueRoom() > 0 && SDL_PollEvent(&event) != 0) {
        taken = takeEvent(event) || taken;
    }
    return taken;
}

// The X server connection and its descriptor (-1 under other video drivers). Sleeping on it
// takes a few system calls; SDL's own wait takes in the events twice over on every sleep, which
// costs the player's waits several times the time.
Display* xDisplay = nullptr;
int xConnection = -1;

// Whether events wait to be taken without reading the connection: in SDL's queue, or read
// by Xlib already (while it waited for a reply). Sleeping on the descriptor would miss those.
bool eventsWaiting() {
    if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
        return true;
    }
    return xDisplay == nullptr || XEventsQueued(xDisplay, QueuedAlready) > 0;
}

// Sleeps up to `milliseconds` for the next native event; false when the time ran out.
bool sleepForEvent(uint32_t milliseconds) {
    if (xConnection < 0) {
        return SDL_WaitEventTimeout(nullptr, static_cast<int>(milliseconds)) != 0;
    }
    pollfd events = {xConnection, POLLIN, 0};
    return poll(&events, 1, static_cast<int>(milliseconds)) != 0;
}

} // namespace

void sdlNoteWindow(SDL_Window* handle) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (xConnection < 0 && SDL_GetWindowWMInfo(handle, &info) == SDL_TRUE &&
        info.subsystem == SDL_SYSWM_X11) {
        xDisplay = info.info.x11.display;
        xConnection = ConnectionNumber(xDisplay);
    }
}

// Set when the last sleep ran out with the connection quiet: the loop's next look for
// messages then has nothing to read, unless events are waiting already.
namespace {
bool sleptOutQuietly = false;
} // namespace

void nativePumpEvents() {
    bool quiet = sleptOutQuietly && !eventsWaiting();
    sleptOutQuietly = false;
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0 && !quiet) {
        takeEvents();
    }
}

// Events the player has no use for (the pointer moving) do not end the wait. The sound
// device is let go as the loop's frame pause lets it go.
bool nativeWaitForEvents(uint32_t timeoutMs) {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        closePlayedOutSoundDevice();
        SDL_Delay(timeoutMs);
        return false;
    }
    uint32_t start = SDL_GetTicks();
    // The loop took in the events just before it slept: the connection is read again only
    // once it has something.
    bool readable = eventsWaiting();
    for (;;) {
        closePlayedOutSoundDevice();
        if (readable && takeEvents()) {
            return true;
        }
        uint32_t waited = SDL_GetTicks() - start;
        if (waited >= timeoutMs) {
            return false;
        }
        uint32_t left = timeoutMs - waited;
        uint32_t slice = left < kLongestSlice ? left : kLongestSlice;
        readable = sleepForEvent(slice);
        // The rest of the time has passed, though the ticks may not show it yet.
        if (!readable && slice == left) {
            sleptOutQuietly = xConnection >= 0;
            return false;
        }
    }
}
