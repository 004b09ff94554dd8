// Dialogue text in the bitmap font: one cell a glyph, the transparent colour left out.
#include "engine/engine.h"
#include "render/render.h"

#include <cstddef>
#include <cstdint>

namespace {

void copyCell(PlatformSurface* target, PlatformSurface* font, int32_t x, int32_t y,
              unsigned char c) {
    platformCopyKeyed(target, x, y, kGlyphWidth, kGlyphHeight, font, glyphCellX(c), glyphCellY(c),
                      kGlyphWidth, kGlyphHeight, kTransparentColor);
}
} // namespace

namespace {

// Walks the pen over the text as drawText draws it: `visit(index, x, y)` for each glyph
// that shows on the canvas. Returns whether any glyph was placed, shown or not, and then
// where the cursor stands after the last one.
template <typename Visit>
bool walkGlyphs(int64_t startX, int64_t startY, const char* text, Visit visit, int32_t* cursorX,
                int32_t* cursorY) {
    PenPlace pen = {startX, startY};
    bool placed = false;
    for (const char* p = text; *p != '\0'; ++p) {
        PenPlace glyph;
        PenMove move = movePen(&pen, startX, static_cast<unsigned char>(*p), &glyph);
        if (move == PenMove::End) {
            break;
        }
        if (move == PenMove::Skip) {
            continue;
        }
        // Rows below the canvas cannot show: only the pen moves there, so a long dialogue
        // without a page turn costs a scan per frame, not a clipped copy per glyph.
        if (glyph.y < kCanvasHeight) {
            visit(p - text, static_cast<int32_t>(glyph.x), static_cast<int32_t>(glyph.y));
        }
        placed = true;
        *cursorX = static_cast<int32_t>(pen.x);
        *cursorY = static_cast<int32_t>(pen.y > INT32_MAX ? INT32_MAX : pen.y);
    }
    return placed;
}

void drawTextBetween(PlatformSurface* target, PlatformSurface* font, int32_t startX, int32_t startY,
                     const char* text, int32_t top, int32_t bottom) {
    auto draw = [&](ptrdiff_t index, int32_t x, int32_t y) {
        if (y >= top && y < bottom) {
            copyCell(target, font, x, y, static_cast<unsigned char>(text[index]));
        }
    };
    int32_t cursorX = 0;
    int32_t cursorY = 0;
    if (walkGlyphs(startX, startY, text, draw, &cursorX, &cursorY)) {
        renderState.pen.textCursorX = cursorX;
        renderState.pen.textCursorY = cursorY;
    }
}
} // namespace

void drawText(PlatformSurface* target, PlatformSurface* font, int32_t startX, int32_t startY,
              const char* text) {
    drawTextBetween(target, font, startX, startY, text, INT32_MIN, INT32_MAX);
}

void drawTextRows(PlatformSurface* target, PlatformSurface* font, const char* text, int32_t top,
                  int32_t bottom) {
    drawTextBetween(target, font, 0, 0, text, top, bottom);
}

GlyphRows glyphRowsFrom(const char* text, uint32_t from) {
    GlyphRows rows = {kCanvasHeight, 0, renderState.pen.textCursorX, renderState.pen.textCursorY};
    auto note = [&](ptrdiff_t index, int32_t, int32_t y) {
        if (index >= static_cast<ptrdiff_t>(from)) {
            rows.top = y < rows.top ? y : rows.top;
            rows.bottom = y + kGlyphHeight;
        }
    };
    int32_t cursorX = 0;
    int32_t cursorY = 0;
    if (walkGlyphs(0, 0, text, note, &cursorX, &cursorY)) {
        rows.cursorX = cursorX;
        rows.cursorY = cursorY;
    }
    rows.bottom = rows.bottom > kCanvasHeight ? kCanvasHeight : rows.bottom;
    return rows;
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

void releaseTextPen() {
    renderState.pen = TextPen{};
}
