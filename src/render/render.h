// Picture and text: the bitmap font, the advance indicator and the frame.
#pragma once

#include "engine/engine.h"
#include "platform/platform.h"

#include <cstdint>

// Where the last glyph ended and how the marker blinks. Owner: render/font_text.cpp and
// render/indicator.cpp.
struct TextPen {
    int32_t textCursorX;
    int32_t textCursorY;
    int32_t indicatorFrame;
    uint32_t indicatorSwitchTick;
};

// What a built canvas shows, so that an unchanged frame need not be built again.
struct CanvasKey {
    bool valid;
    uint32_t sceneGeneration;
    uint32_t dialogueGeneration;
    bool indicatorShown;
    unsigned char indicatorGlyph;
    // The dialogue's page and length: on the same page, a longer dialogue only grew.
    uint32_t dialoguePage;
    uint32_t dialogueLength;
};

// The window, the drawing targets and sources, and what the last frame built.
// Owner: render/presentation.cpp and render/frame.cpp; made at start-up, kept for the
// whole run, but for the canvas and the back buffer, which the frame makes for each client
// size: at 1:1 in the window's own pixels where the window lends them, and without a back
// buffer.
struct Presentation {
    PlatformWindow* window;
    PlatformSurface* screen;
    PlatformSurface* sceneSurface; // the scene image is selected only to be copied from
    PlatformSurface* fontSurface;
    PlatformBitmap* fontBitmap;
    PlatformSurface* tileSurface;
    PlatformBitmap* tileBitmap;
    PlatformSurface* frameSurface;
    PlatformBitmap* frameBitmap;    // the canvas's own bitmap, when it has one
    PlatformSurface* windowSurface; // none at 1:1
    PlatformBitmap* windowBitmap;   // the back buffer's own bitmap, when it has one
    PlatformBitmap* windowPixels;   // the window's pixels as lent at the last frame
    int32_t lastWidth;
    int32_t lastHeight;
    CanvasKey builtCanvas;
    // The window lost what it showed (a paint came): the next frame shows it all again.
    bool windowNeedsPaint;
};

// Render's part of the run's state.
struct RenderState {
    TextPen pen;
    Presentation presentation;
};

extern RenderState renderState;

// The pen of the dialogue text. It moves in 64-bit steps: line breaks are not
// limited, so y may run far.
struct PenPlace {
    int64_t x;
    int64_t y;
};
enum class PenMove { Skip, Glyph, End };

// Moves the pen over one byte of text as drawText does. Skip: a line break or a byte the
// font cannot draw. Glyph: the glyph goes at *glyph. End: the text wrapped below the last
// row, and nothing more is drawn.
inline PenMove movePen(PenPlace* pen, int64_t startX, unsigned char c, PenPlace* glyph) {
    if (c == '\n') {
        pen->x = startX;
        pen->y += kGlyphHeight;
        return PenMove::Skip;
    }
    if (!isTextGlyph(c)) {
        return PenMove::Skip;
    }
    if (pen->x > kLastGlyphX) {
        pen->x = startX;
        pen->y += kGlyphHeight;
        if (pen->y > kLastGlyphY) {
            return PenMove::End;
        }
    }
    *glyph = *pen;
    pen->x += kGlyphWidth;
    return PenMove::Glyph;
}

void drawText(PlatformSurface* target, PlatformSurface* font, int32_t startX, int32_t startY,
              const char* text);
// drawText from the top-left corner, copying only the glyphs whose row starts in
// [top, bottom); the cursor moves as drawText moves it.
void drawTextRows(PlatformSurface* target, PlatformSurface* font, const char* text, int32_t top,
                  int32_t bottom);
// The canvas rows [top, bottom) that the glyphs of text[from...] cover (top >= bottom when
// none shows), and where drawText of the whole text leaves the cursor.
struct GlyphRows {
    int32_t top;
    int32_t bottom;
    int32_t cursorX;
    int32_t cursorY;
};
GlyphRows glyphRowsFrom(const char* text, uint32_t from);
void drawGlyph(PlatformSurface* target, PlatformSurface* font, int32_t x, int32_t y,
               unsigned char c);
// Where drawGlyph puts the cell of a glyph asked at (x, y); false when it draws none.
bool glyphCellAt(int32_t x, int32_t y, int32_t* cellX, int32_t* cellY);
// The advance indicator: moves its frame counter on when due at the tick `now` and returns
// the glyph to draw after the text, once per frame while a key wait lasts.
unsigned char advanceIndicatorAt(uint32_t now);
unsigned char advanceIndicator();
// A drawing target, or the end of the play with the surfaces' message when memory is short.
PlatformSurface* makeSurface();
PlatformBitmap* makeBitmap(int32_t width, int32_t height);
// Brings the window up to date: builds what changed of the canvas and shows it, scaled.
void composeFrame();

// Gets the window's screen and makes the surfaces, loading the font and the tile; ends the
// process when one cannot be had.
void startPresentation(PlatformWindow* window);
// Deletes the surfaces and their bitmaps and releases the screen.
void releasePresentation();
// The window lost what it showed: the next frame shows all of it again.
void windowNeedsPaint();
// The next frame makes the canvas and the back buffer anew and draws them in full, as the
// first frame at this client size would.
void rebuildNextFrame();

// Back to the top-left corner, the marker at its first frame. The pen holds nothing to free.
void releaseTextPen();
