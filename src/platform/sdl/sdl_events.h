// What the SDL backend's window and event files share.
#pragma once

#include "platform/platform.h"

#include <SDL.h>

#include <cstdint>

// The window whose SDL window has this id; none once it is destroyed.
PlatformWindow* sdlWindowOfId(uint32_t id);
// Notes a new window's display connection, for the loop's sleep.
void sdlNoteWindow(SDL_Window* handle);
