// Picture and text: the bitmap font, the advance indicator and the frame.
#pragma once

#include "platform/platform.h"

#include <cstdint>

constexpr int32_t kGlyphWidth = 25;
constexpr int32_t kGlyphHeight = 33;
constexpr uint32_t kIndicatorInterval = 300;

void drawText(PlatformSurface* target, PlatformSurface* font, int32_t startX, int32_t startY,
              const char* text);
void drawGlyph(PlatformSurface* target, PlatformSurface* font, int32_t x, int32_t y,
               unsigned char c);
// Where drawGlyph puts the cell of a glyph asked at (x, y); false when it draws none.
bool glyphCellAt(int32_t x, int32_t y, int32_t* cellX, int32_t* cellY);
// Advances and draws the advance indicator; run once per frame while a key wait lasts.
void stepIndicator();
// The advancing half of it: moves the frame counter on when due, returns the glyph to draw.
unsigned char advanceIndicator();
// Brings the window up to date: builds what changed of the canvas and shows it, scaled.
void composeFrame();
