// The desktop backend's control for tools that host a play in their own window and outlive
// it (bexu-preview): the end of a play is handed to them instead of ending the process.
#pragma once

#include <cstdint>

// Called instead of the message box and the end of the process, with the fatal report's
// caption and text, or none for a plain end; must not return. Null restores the ending.
using SdlExitHandler = void (*)(int32_t exitCode, const char* caption, const char* text);
void sdlSetExitHandler(SdlExitHandler handler);
