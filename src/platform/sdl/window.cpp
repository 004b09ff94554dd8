// The window on SDL2: class registry, one resizable window, the message queue
// that turns SDL events into our message codes, and presenting software pixels
// through the window surface.
#include "platform/platform.h"
#include "platform/sdl/window_title.h"
#include "platform/sdl/windows_text.h"
#include "platform/soft/soft_surface.h"
#include "platform/window_classes/window_classes.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

struct PlatformWindow {
    SDL_Window* handle; // none once destroyed
    uint32_t id;
    WindowProcedure procedure;
    bool needsPaint;
    // SDL's window surface lent as a bitmap (platformWindowPixels). Two records in turn:
    // a new surface gets the other one, so the caller tells it from the old by its address.
    PlatformBitmap lent[2];
    int lentIndex;
    const SDL_Surface* lentSurface; // the surface lent[lentIndex] shows, none when not lent
};

namespace {

constexpr int kMaxWindows = 4;

// Windows are never freed: messages and the app may still name a destroyed one.
PlatformWindow windows[kMaxWindows];
int windowCount = 0;

bool quitPosted = false;
int32_t quitCode = 0;

PlatformWindow* windowOfId(uint32_t id) {
    for (int i = 0; i < windowCount; ++i) {
        if (windows[i].handle != nullptr && windows[i].id == id) {
            return &windows[i];
        }
    }
    return nullptr;
}

// Virtual key codes of the desktop the message codes come from.
uintptr_t virtualKeyOf(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) {
        return static_cast<uintptr_t>('A' + (key - SDLK_a));
    }
    if (key >= SDLK_0 && key <= SDLK_9) {
        return static_cast<uintptr_t>(key);
    }
    if (key >= SDLK_F1 && key <= SDLK_F12) {
        return static_cast<uintptr_t>(0x70 + (key - SDLK_F1));
    }
    switch (key) {
    case SDLK_SPACE:
        return kVirtualKeySpace;
    case SDLK_BACKSPACE:
        return 0x08;
    case SDLK_TAB:
        return 0x09;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return 0x0D;
    case SDLK_ESCAPE:
        return 0x1B;
    case SDLK_PAGEUP:
        return 0x21;
    case SDLK_PAGEDOWN:
        return 0x22;
    case SDLK_END:
        return 0x23;
    case SDLK_HOME:
        return 0x24;
    case SDLK_LEFT:
        return 0x25;
    case SDLK_UP:
        return 0x26;
    case SDLK_RIGHT:
        return 0x27;
    case SDLK_DOWN:
        return 0x28;
    case SDLK_INSERT:
        return 0x2D;
    case SDLK_DELETE:
        return 0x2E;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
        return 0x10;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
        return 0x11;
    case SDLK_LALT:
    case SDLK_RALT:
        return 0x12;
    default:
        return 0xFF; // no virtual key
    }
}

// One SDL event as one of our messages; false for events the player has no use for.
bool translateEvent(const SDL_Event& event, PlatformMessage* message) {
    switch (event.type) {
    case SDL_KEYDOWN: {
        PlatformWindow* window = windowOfId(event.key.windowID);
        if (window == nullptr) {
            return false;
        }
        // Repeat count 1; bit 30 tells a key repeat, as the desktop's key-down does.
        intptr_t lParam = 1 | (event.key.repeat != 0 ? (intptr_t{1} << 30) : 0);
        *message = {window, kMessageKeyDown, virtualKeyOf(event.key.keysym.sym), lParam};
        return true;
    }
    case SDL_WINDOWEVENT: {
        PlatformWindow* window = windowOfId(event.window.windowID);
        if (window == nullptr) {
            return false;
        }
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
            *message = {window, kMessageClose, 0, 0};
            return true;
        }
        switch (event.window.event) {
        // The X window lost what it showed: its procedure hears of it as a paint.
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
        case SDL_WINDOWEVENT_RESTORED:
            window->needsPaint = true;
            break;
        default:
            break;
        }
        return false;
    }
    default:
        return false;
    }
}

bool startVideo(const char* className) {
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) {
        return true;
    }
    // The OpenGL path re-creates the X window and costs several times the CPU.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // SIGINT and SIGTERM end the player at once, as they end any program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // The class name becomes the X11 WM_CLASS, unless the user chose one.
    SDL_setenv("SDL_VIDEO_X11_WMCLASS", className, 0);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "no display to show a window on: %s\n", SDL_GetError());
        return false;
    }
    // Without a display SDL falls back to drivers that show nothing: unless one was asked
    // for by name, end at once rather than play unseen.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (SDL_getenv("SDL_VIDEODRIVER") == nullptr && driver != nullptr &&
        (strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0 ||
         strcmp(driver, "evdev") == 0)) {
        fprintf(stderr, "no display to show a window on (set DISPLAY or WAYLAND_DISPLAY)\n");
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    // Text input would start an input method per window: the player reads keys only.
    SDL_StopTextInput();
    return true;
}

} // namespace

PlatformWindow* platformCreateWindow(const char* className, const char* title, int32_t clientWidth,
                                     int32_t clientHeight) {
    WindowProcedure procedure = registeredWindowProcedure(className);
    if (procedure == nullptr || windowCount == kMaxWindows || clientWidth <= 0 ||
        clientHeight <= 0 || !startVideo(className)) {
        return nullptr;
    }
    SDL_Window* handle = SDL_CreateWindow(title != nullptr ? title : "", SDL_WINDOWPOS_UNDEFINED,
                                          SDL_WINDOWPOS_UNDEFINED, clientWidth, clientHeight,
                                          SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (handle == nullptr) {
        return nullptr;
    }
    PlatformWindow* window = &windows[windowCount++];
    window->handle = handle;
    window->id = SDL_GetWindowID(handle);
    window->procedure = procedure;
    window->needsPaint = true;
    return window;
}

void platformShowWindow(PlatformWindow* window) {
    if (window != nullptr && window->handle != nullptr) {
        SDL_ShowWindow(window->handle);
        window->needsPaint = true;
    }
}

void platformSetWindowTitle(PlatformWindow* window, const char* title) {
    if (window == nullptr || window->handle == nullptr || title == nullptr) {
        return;
    }
    auto* utf8 = static_cast<char*>(platformAllocate(utf8Room(strlen(title)), false));
    // Without memory for its UTF-8 form the title stays as it was.
    if (utf8 != nullptr) {
        windows1252ToUtf8(title, utf8);
        setSdlWindowTitle(window->handle, utf8);
        platformFree(utf8);
    }
}

// A desktop program started from a terminal has no console of its own: the title
// stays the terminal's. (Only the fatal messages go to the terminal, besides their box.)
void platformSetConsoleTitle(const char*) {}

void platformClientSize(PlatformWindow* window, int32_t* width, int32_t* height) {
    *width = 0;
    *height = 0;
    if (window == nullptr || window->handle == nullptr) {
        return;
    }
    // A minimised window has no client area to draw into.
    if ((SDL_GetWindowFlags(window->handle) & SDL_WINDOW_MINIMIZED) != 0) {
        return;
    }
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(window->handle, &w, &h);
    *width = w > 0 ? w : 0;
    *height = h > 0 ? h : 0;
}

bool platformPeekMessage(PlatformMessage* message) {
    if (quitPosted) {
        quitPosted = false;
        *message = {nullptr, kMessageQuit, static_cast<uintptr_t>(quitCode), 0};
        return true;
    }
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) {
        SDL_Event event;
        while (SDL_PollEvent(&event) != 0) {
            if (translateEvent(event, message)) {
                return true;
            }
        }
    }
    // Paint comes last, once per exposure, after all input.
    for (int i = 0; i < windowCount; ++i) {
        if (windows[i].handle != nullptr && windows[i].needsPaint) {
            windows[i].needsPaint = false;
            *message = {&windows[i], kMessagePaint, 0, 0};
            return true;
        }
    }
    return false;
}

void platformDispatchMessage(const PlatformMessage* message) {
    PlatformWindow* window = message->window;
    if (window == nullptr || window->handle == nullptr) {
        return;
    }
    window->procedure(window, message->message, message->wParam, message->lParam);
}

intptr_t platformDefaultWindowProcedure(PlatformWindow* window, uint32_t message, uintptr_t,
                                        intptr_t) {
    if (window == nullptr || window->handle == nullptr) {
        return 0;
    }
    if (message == kMessageClose) {
        // Closing destroys the window; its procedure hears of it at once.
        SDL_DestroyWindow(window->handle);
        window->handle = nullptr;
        window->procedure(window, kMessageDestroy, 0, 0);
        return 0;
    }
    if (message == kMessagePaint) {
        window->needsPaint = false;
    }
    return 0;
}

void platformValidateWindow(PlatformWindow* window) {
    if (window != nullptr) {
        window->needsPaint = false;
    }
}

void platformPostQuitMessage(int32_t exitCode) {
    quitPosted = true;
    quitCode = exitCode;
}

PlatformSurface* platformWindowScreen(PlatformWindow* window) {
    if (window == nullptr || window->handle == nullptr) {
        return nullptr;
    }
    return softCreateScreen(window);
}

namespace {
// Our pixels are 0x00RRGGBB, rows without gaps: a surface laid out so can be drawn into.
bool layoutOfBitmaps(const SDL_Surface* surface) {
    return (surface->format->format == SDL_PIXELFORMAT_RGB888 ||
            surface->format->format == SDL_PIXELFORMAT_ARGB8888) &&
           surface->pitch == surface->w * 4 && !SDL_MUSTLOCK(surface) && surface->pixels != nullptr;
}
} // namespace

PlatformBitmap* platformWindowPixels(PlatformWindow* window) {
    if (window == nullptr || window->handle == nullptr) {
        return nullptr;
    }
    // After a resize this frees the old surface and makes one of the new size.
    SDL_Surface* surface = SDL_GetWindowSurface(window->handle);
    if (surface == nullptr || !layoutOfBitmaps(surface)) {
        window->lentSurface = nullptr;
        return nullptr;
    }
    // A new surface may come at the old one's address: ours carry the window as a mark.
    if (surface != window->lentSurface || surface->userdata != window) {
        surface->userdata = window;
        window->lentSurface = surface;
        window->lentIndex ^= 1;
        PlatformBitmap& bitmap = window->lent[window->lentIndex];
        bitmap = PlatformBitmap{};
        bitmap.width = surface->w;
        bitmap.height = surface->h;
        bitmap.pixels = static_cast<uint32_t*>(surface->pixels);
        bitmap.lent = true;
    }
    return &window->lent[window->lentIndex];
}

void softPresent(PlatformWindow* window, int32_t x, int32_t y, int32_t width, int32_t height,
                 const PlatformBitmap* source, int32_t sourceX, int32_t sourceY) {
    if (window == nullptr || window->handle == nullptr || source == nullptr ||
        source->pixels == nullptr) {
        return;
    }
    // The window surface follows the window's size: SDL makes a new one after a resize.
    SDL_Surface* surface = SDL_GetWindowSurface(window->handle);
    if (surface == nullptr) {
        return;
    }
    // Clip to the source bitmap and to the window surface, in 64 bits so no sum overflows.
    int64_t shiftX = int64_t{sourceX} - x; // source = target + shift
    int64_t shiftY = int64_t{sourceY} - y;
    int64_t left = SDL_max(int64_t{x}, SDL_max(int64_t{0}, -shiftX));
    int64_t top = SDL_max(int64_t{y}, SDL_max(int64_t{0}, -shiftY));
    int64_t right =
        SDL_min(int64_t{x} + width, SDL_min(int64_t{surface->w}, int64_t{source->width} - shiftX));
    int64_t bottom = SDL_min(int64_t{y} + height,
                             SDL_min(int64_t{surface->h}, int64_t{source->height} - shiftY));
    if (left >= right || top >= bottom) {
        return;
    }
    SDL_Rect rect = {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                     static_cast<int>(bottom - top)};
    // Drawn into the surface's own pixels, in place: only the showing is left to do.
    bool inPlace = surface == window->lentSurface && source == &window->lent[window->lentIndex] &&
                   shiftX == 0 && shiftY == 0;
    if (!inPlace) {
        if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) {
            return;
        }
        const uint32_t* from =
            source->pixels + (top + shiftY) * int64_t{source->width} + (left + shiftX);
        auto* to = static_cast<uint8_t*>(surface->pixels) + top * surface->pitch +
                   left * surface->format->BytesPerPixel;
        SDL_ConvertPixels(rect.w, rect.h, SDL_PIXELFORMAT_RGB888, from, source->width * 4,
                          surface->format->format, to, surface->pitch);
        if (SDL_MUSTLOCK(surface)) {
            SDL_UnlockSurface(surface);
        }
    }
    SDL_UpdateWindowSurfaceRects(window->handle, &rect, 1);
}

// The desktop window has no text beside its pixels for a screen reader.
void platformDialogueText(const char*, uint32_t) {}
