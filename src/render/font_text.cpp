// Dialogue text in the bitmap font: 25 x 33 cells, 16 to a row, magenta transparent.
#include "engine/engine.h"
#include "render/render.h"

namespace {

void copyCell(PlatformSurface* target, PlatformSurface* font, int32_t x, int32_t y,
              unsigned char c) {
    int32_t cell = c - 32;
    platformCopyKeyed(target, x, y, kGlyphWidth, kGlyphHeight, font, (cell % 16) * kGlyphWidth,
                      (cell / 16) * kGlyphHeight, kGlyphWidth, kGlyphHeight, kColorMagenta);
}
} // namespace

void drawText(PlatformSurface* target, PlatformSurface* font, int32_t startX, int32_t startY,
              const char* text) {
    PenPlace pen = {startX, startY};
    for (const char* p = text; *p != '\0'; ++p) {
        auto c = static_cast<unsigned char>(*p);
        PenPlace glyph;
        PenMove move = movePen(&pen, startX, c, &glyph);
        if (move == PenMove::End) {
            return;
        }
        if (move == PenMove::Skip) {
            continue;
        }
        // Rows below the canvas cannot show: only the pen moves there, so a long dialogue
        // without a page turn costs a scan per frame, not a clipped copy per glyph.
        if (glyph.y < kCanvasHeight) {
            copyCell(target, font, static_cast<int32_t>(glyph.x), static_cast<int32_t>(glyph.y), c);
        }
        engineState.pen.textCursorX = static_cast<int32_t>(pen.x);
        engineState.pen.textCursorY = static_cast<int32_t>(pen.y > INT32_MAX ? INT32_MAX : pen.y);
    }
}

bool glyphCellAt(int32_t x, int32_t y, int32_t* cellX, int32_t* cellY) {
    int64_t row = y;
    if (x > kLastGlyphX) {
        x = 0;
        row += kGlyphHeight;
        if (row > kLastGlyphY) {
            return false;
        }
    }
    *cellX = x;
    *cellY = static_cast<int32_t>(row);
    return true;
}

void drawGlyph(PlatformSurface* target, PlatformSurface* font, int32_t x, int32_t y,
               unsigned char c) {
    int32_t cellX = 0;
    int32_t cellY = 0;
    if (glyphCellAt(x, y, &cellX, &cellY)) {
        copyCell(target, font, cellX, cellY, c);
    }
}

void resetTextPen() {
    engineState.pen = TextPen{};
}
