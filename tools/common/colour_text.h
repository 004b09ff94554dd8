// Colours as authors write them on a tool's command line.
#pragma once

#include <cstdint>

// "RRGGBB" or "#RRGGBB" as 0xRRGGBB; false for anything else.
bool parseHexColour(const char* text, uint32_t* colour);
