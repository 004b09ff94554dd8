// The window on SDL2: class registry, one resizable window, the message queue
// that turns SDL events into our message codes, and presenting software pixels
// through the window surface.
#include "platform/platform.h"
#include "platform/sdl/windows_text.h"
#include "platform/soft/soft_surface.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

struct PlatformWindow {
    SDL_Window* handle; // none once destroyed
    uint32_t id;
    WindowProcedure procedure;
    bool needsPaint;
    // The X window lost what it showed (exposed, resized, shown): present every row again.
    bool showAll;
    // What was presented last: the same pixels of the same bitmap need no second showing.
    const SDL_Surface* shownSurface;
    const PlatformBitmap* shownBitmap;
    uint64_t shownRevision;
    SDL_Rect shownRect;
    int64_t shownShiftX;
    int64_t shownShiftY;
};

namespace {

constexpr int kMaxClasses = 8;
constexpr int kMaxWindows = 4;
constexpr size_t kMaxClassName = 64;

struct WindowClass {
    char name[kMaxClassName];
    WindowProcedure procedure;
};

WindowClass classes[kMaxClasses];
int classCount = 0;
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
        case SDL_WINDOWEVENT_EXPOSED:
            window->needsPaint = true;
            window->showAll = true;
            break;
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
        case SDL_WINDOWEVENT_RESTORED:
            window->showAll = true;
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

bool platformRegisterWindowClass(const char* className, WindowProcedure procedure) {
    if (className == nullptr || procedure == nullptr || classCount == kMaxClasses ||
        strlen(className) >= kMaxClassName) {
        return false;
    }
    for (int i = 0; i < classCount; ++i) {
        if (strcmp(classes[i].name, className) == 0) {
            return false; // already registered, as the desktop refuses it
        }
    }
    strcpy(classes[classCount].name, className);
    classes[classCount].procedure = procedure;
    ++classCount;
    return true;
}

PlatformWindow* platformCreateWindow(const char* className, const char* title, int32_t clientWidth,
                                     int32_t clientHeight) {
    const WindowClass* found = nullptr;
    for (int i = 0; i < classCount; ++i) {
        if (className != nullptr && strcmp(classes[i].name, className) == 0) {
            found = &classes[i];
        }
    }
    if (found == nullptr || windowCount == kMaxWindows || clientWidth <= 0 || clientHeight <= 0 ||
        !startVideo(className)) {
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
    window->procedure = found->procedure;
    window->needsPaint = true;
    window->showAll = true;
    return window;
}

void platformShowWindow(PlatformWindow* window) {
    if (window != nullptr && window->handle != nullptr) {
        SDL_ShowWindow(window->handle);
        window->needsPaint = true;
        window->showAll = true;
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
        SDL_SetWindowTitle(window->handle, utf8);
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
    int64_t left = x;
    int64_t top = y;
    int64_t right = int64_t{x} + width;
    int64_t bottom = int64_t{y} + height;
    int64_t shiftX = int64_t{sourceX} - x; // source = target + shift
    int64_t shiftY = int64_t{sourceY} - y;
    left = SDL_max(left, SDL_max(int64_t{0}, -shiftX));
    top = SDL_max(top, SDL_max(int64_t{0}, -shiftY));
    right = SDL_min(right, SDL_min(int64_t{surface->w}, int64_t{source->width} - shiftX));
    bottom = SDL_min(bottom, SDL_min(int64_t{surface->h}, int64_t{source->height} - shiftY));
    if (left >= right || top >= bottom) {
        return;
    }
    SDL_Rect whole = {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                      static_cast<int>(bottom - top)};
    // The loop presents the canvas every frame, mostly unchanged since the last time.
    if (!window->showAll && surface == window->shownSurface && source == window->shownBitmap &&
        source->revision == window->shownRevision && SDL_RectEquals(&whole, &window->shownRect) &&
        shiftX == window->shownShiftX && shiftY == window->shownShiftY) {
        return;
    }
    window->shownSurface = surface;
    window->shownBitmap = source;
    window->shownRevision = source->revision;
    window->shownRect = whole;
    window->shownShiftX = shiftX;
    window->shownShiftY = shiftY;
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) {
        return;
    }
    const int rows = static_cast<int>(bottom - top);
    const int columns = static_cast<int>(right - left);
    const uint32_t* from =
        source->pixels + (top + shiftY) * int64_t{source->width} + (left + shiftX);
    auto* to = static_cast<uint8_t*>(surface->pixels) + top * surface->pitch +
               left * surface->format->BytesPerPixel;
    int firstChanged = 0;
    int lastChanged = rows - 1;
    if (surface->format->format == SDL_PIXELFORMAT_RGB888 ||
        surface->format->format == SDL_PIXELFORMAT_ARGB8888) {
        // Our pixels are 0x00RRGGBB already: row copies. The loop presents the whole
        // canvas every frame, mostly unchanged: only rows that differ go to the X server.
        const size_t rowBytes = static_cast<size_t>(columns) * 4;
        firstChanged = rows;
        lastChanged = -1;
        for (int row = 0; row < rows; ++row) {
            if (window->showAll || memcmp(to, from, rowBytes) != 0) {
                memcpy(to, from, rowBytes);
                firstChanged = SDL_min(firstChanged, row);
                lastChanged = row;
            }
            from += source->width;
            to += surface->pitch;
        }
    } else {
        SDL_ConvertPixels(columns, rows, SDL_PIXELFORMAT_RGB888, from, source->width * 4,
                          surface->format->format, to, surface->pitch);
    }
    if (SDL_MUSTLOCK(surface)) {
        SDL_UnlockSurface(surface);
    }
    window->showAll = false;
    if (lastChanged < firstChanged) {
        return;
    }
    SDL_Rect rect = {static_cast<int>(left), static_cast<int>(top) + firstChanged, columns,
                     lastChanged - firstChanged + 1};
    SDL_UpdateWindowSurfaceRects(window->handle, &rect, 1);
}
