// The window on SDL2: one resizable window, and presenting software pixels through the
// window surface.
#include "platform/platform.h"
#include "platform/sdl/sdl_events.h"
#include "platform/sdl/window_title.h"
#include "platform/sdl/windows_text.h"
#include "platform/soft/soft_surface.h"
#include "platform/window_core/window_core.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

struct NativeWindow {
    SDL_Window* handle; // none once destroyed
    // SDL's window surface lent as a bitmap (platformWindowPixels). Two records in turn:
    // a new surface gets the other one, so the caller tells it from the old by its address.
    PlatformBitmap lent[2];
    int lentIndex;
    const SDL_Surface* lentSurface; // the surface lent[lentIndex] shows, none when not lent
};

namespace {

constexpr int kMaxWindows = 4;
constexpr char kWindowData[] = "bexu";

// Never freed, as the core's windows are not.
NativeWindow natives[kMaxWindows];
int nativeCount = 0;

SDL_Window* handleOf(PlatformWindow* window) {
    return coreWindowLive(window) ? window->native->handle : nullptr;
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

PlatformWindow* sdlWindowOfId(uint32_t id) {
    SDL_Window* handle = SDL_GetWindowFromID(id);
    return handle != nullptr ? static_cast<PlatformWindow*>(SDL_GetWindowData(handle, kWindowData))
                             : nullptr;
}

PlatformWindow* platformCreateWindow(const char* className, const char* title, int32_t clientWidth,
                                     int32_t clientHeight) {
    if (nativeCount == kMaxWindows || clientWidth <= 0 || clientHeight <= 0 ||
        !startVideo(className)) {
        return nullptr;
    }
    SDL_Window* handle = SDL_CreateWindow(title != nullptr ? title : "", SDL_WINDOWPOS_UNDEFINED,
                                          SDL_WINDOWPOS_UNDEFINED, clientWidth, clientHeight,
                                          SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (handle == nullptr) {
        return nullptr;
    }
    NativeWindow* native = &natives[nativeCount];
    PlatformWindow* window = coreCreateWindow(className, native);
    if (window == nullptr) {
        SDL_DestroyWindow(handle);
        return nullptr;
    }
    ++nativeCount;
    native->handle = handle;
    SDL_SetWindowData(handle, kWindowData, window);
    sdlNoteWindow(handle);
    return window;
}

void platformShowWindow(PlatformWindow* window) {
    if (handleOf(window) != nullptr) {
        SDL_ShowWindow(handleOf(window));
        coreInvalidateWindow(window);
        coreUpdateWindow(window);
    }
}

void platformSetWindowTitle(PlatformWindow* window, const char* title) {
    if (handleOf(window) == nullptr || title == nullptr) {
        return;
    }
    auto* utf8 = static_cast<char*>(platformAllocate(utf8Room(strlen(title)), false));
    // Without memory for its UTF-8 form the title stays as it was.
    if (utf8 != nullptr) {
        windows1252ToUtf8(title, utf8);
        setSdlWindowTitle(handleOf(window), utf8);
        platformFree(utf8);
    }
}

// A desktop program started from a terminal has no console of its own: the title
// stays the terminal's. (Only the fatal messages go to the terminal, besides their box.)
void platformSetConsoleTitle(const char*) {}

void platformClientSize(PlatformWindow* window, int32_t* width, int32_t* height) {
    *width = 0;
    *height = 0;
    SDL_Window* handle = handleOf(window);
    // A minimised window has no client area to draw into.
    if (handle == nullptr || (SDL_GetWindowFlags(handle) & SDL_WINDOW_MINIMIZED) != 0) {
        return;
    }
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(handle, &w, &h);
    *width = w > 0 ? w : 0;
    *height = h > 0 ? h : 0;
}

void nativeDestroyWindow(PlatformWindow* window) {
    SDL_DestroyWindow(window->native->handle);
    window->native->handle = nullptr;
}

PlatformSurface* platformWindowScreen(PlatformWindow* window) {
    if (handleOf(window) == nullptr) {
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
    if (handleOf(window) == nullptr) {
        return nullptr;
    }
    NativeWindow* native = window->native;
    // After a resize this frees the old surface and makes one of the new size.
    SDL_Surface* surface = SDL_GetWindowSurface(native->handle);
    if (surface == nullptr || !layoutOfBitmaps(surface)) {
        native->lentSurface = nullptr;
        return nullptr;
    }
    // A new surface may come at the old one's address: ours carry the window as a mark.
    if (surface != native->lentSurface || surface->userdata != window) {
        surface->userdata = window;
        native->lentSurface = surface;
        native->lentIndex ^= 1;
        PlatformBitmap& bitmap = native->lent[native->lentIndex];
        bitmap = PlatformBitmap{};
        bitmap.width = surface->w;
        bitmap.height = surface->h;
        bitmap.pixels = static_cast<uint32_t*>(surface->pixels);
        bitmap.lent = true;
    }
    return &native->lent[native->lentIndex];
}

void softPresent(PlatformWindow* window, int32_t x, int32_t y, int32_t width, int32_t height,
                 const PlatformBitmap* source, int32_t sourceX, int32_t sourceY) {
    if (handleOf(window) == nullptr || source == nullptr || source->pixels == nullptr) {
        return;
    }
    NativeWindow* native = window->native;
    // The window surface follows the window's size: SDL makes a new one after a resize.
    SDL_Surface* surface = SDL_GetWindowSurface(native->handle);
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
    bool inPlace = surface == native->lentSurface && source == &native->lent[native->lentIndex] &&
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
    SDL_UpdateWindowSurfaceRects(native->handle, &rect, 1);
}

// The desktop window has no text beside its pixels for a screen reader.
void platformDialogueText(const char*, uint32_t) {}
