#include "platform/sdl/window_title.h"

#include <SDL_syswm.h>

#include <cstring>

void setSdlWindowTitle(SDL_Window* window, const char* utf8) {
    SDL_SetWindowTitle(window, utf8);
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
        return;
    }
    Display* display = info.info.x11.display;
    Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
    const Atom names[] = {XInternAtom(display, "_NET_WM_NAME", False), XA_WM_NAME};
    for (Atom name : names) {
        XChangeProperty(display, info.info.x11.window, name, utf8String, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(utf8),
                        static_cast<int>(strlen(utf8)));
    }
    XFlush(display);
#endif
}
