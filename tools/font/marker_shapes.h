// The default frames of the waiting marker, drawn as shapes: a page that turns
// (bytes 123, 124, 125, then 124 again) and an arrow that bobs at a line's end (126, 127).
#pragma once

#include "font/glyph_raster.h"
#include "format/story_format.h"

// Renders the frame of `byte` with the cell's top-left corner at scratch
// (kScratchOriginX, kScratchOriginY - 33).
bool renderMarkerFrame(FT_Library library, unsigned char byte, int32_t outlineRadius,
                       ShapeCoverage* out);
