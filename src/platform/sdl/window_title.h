// The window's title on SDL.
#pragma once

#include <SDL.h>

// Sets the title, `utf8`. On X11, SDL converts it through Xlib in the process's locale;
// in the C locale that conversion fails for some characters (dashes and quotes of the
// Windows code page among them) and SDL then leaves out _NET_WM_NAME, the property
// window managers show, and writes WM_NAME garbled. So there both properties are set
// here directly, as UTF-8, which needs no locale.
void setSdlWindowTitle(SDL_Window* window, const char* utf8);
