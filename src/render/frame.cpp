// Builds the canvas and shows it in the window, scaled with its shape kept and tiled bars
// around it. Only what changed is drawn and shown: a new scene or dialogue rebuilds the
// canvas, a marker change redraws the marker's cell, and a frame with nothing new draws
// nothing. What the window shows is always what a full rebuild would show.
#include "engine/engine.h"
#include "render/render.h"

namespace {

constexpr PlatformRect kWholeCanvas = {0, 0, kCanvasWidth, kCanvasHeight};

bool showsOneToOne(int32_t width, int32_t height) {
    return width == kCanvasWidth && height == kCanvasHeight;
}

// Where the canvas stands in a client area of width x height: scaled by the smaller of
// the two ratios, the products truncated, centred.
PlatformRect fitCanvas(int32_t width, int32_t height) {
    double scaleX = width / static_cast<double>(kCanvasWidth);
    double scaleY = height / static_cast<double>(kCanvasHeight);
    double scale = scaleY > scaleX ? scaleX : scaleY;
    auto drawnWidth = static_cast<int32_t>(scale * kCanvasWidth);
    auto drawnHeight = static_cast<int32_t>(scale * kCanvasHeight);
    return {(width - drawnWidth) / 2, (height - drawnHeight) / 2, drawnWidth, drawnHeight};
}

int64_t floorDiv(int64_t a, int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// One axis of windowPartOf: the outputs [first, last) of a stretch from `sourceLength`
// to `length` that may read source pixels [from, to). An output reads the source under
// it and, enlarging, the next pixel on either side; a pixel more on each side of the
// source and one output more on each side stay clear of rounding.
void outputsReading(int64_t from, int64_t to, int64_t sourceLength, int64_t length, int64_t* first,
                    int64_t* last) {
    *first = floorDiv((from - 1) * length, sourceLength) - 1;
    *last = floorDiv((to + 1) * length + sourceLength - 1, sourceLength) + 1;
    *first = *first < 0 ? 0 : *first;
    *last = *last > length ? length : *last;
}

// The window pixels of the fitted canvas whose smoothing filter reads any pixel of `area`.
PlatformRect windowPartOf(const PlatformRect& area, const PlatformRect& fit) {
    int64_t left = 0, right = 0, top = 0, bottom = 0;
    outputsReading(area.x, int64_t{area.x} + area.width, kCanvasWidth, fit.width, &left, &right);
    outputsReading(area.y, int64_t{area.y} + area.height, kCanvasHeight, fit.height, &top, &bottom);
    return {fit.x + static_cast<int32_t>(left), fit.y + static_cast<int32_t>(top),
            static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top)};
}

void tileWindowSurface(int32_t width, int32_t height) {
    for (int32_t y = 0; y < height; y += kTileSize) {
        for (int32_t x = 0; x < width; x += kTileSize) {
            platformCopy(renderState.presentation.windowSurface, x, y, kTileSize, kTileSize,
                         renderState.presentation.tileSurface, 0, 0);
        }
    }
}

void releaseBitmap(PlatformBitmap** bitmap) {
    platformDeleteBitmap(*bitmap);
    *bitmap = nullptr;
}

// Makes the canvas and the back buffer for a client size. At 1:1 the canvas is drawn in
// the window's own pixels where the window lends them, else in a bitmap of its own that is
// copied to the screen; scaled, the canvas has its own bitmap and is stretched into the
// back buffer, which is the window's pixels where lent. Returns true when the canvas is a
// new bitmap that holds nothing yet.
bool arrangeTargets(int32_t width, int32_t height, PlatformBitmap* pixels) {
    Presentation& presentation = renderState.presentation;
    // Without memory for a window that shows something the play ends with the surfaces'
    // message, as when start-up makes them; a minimised or closed window shows nothing.
    bool shown = width > 0 && height > 0;
    // Surfaces made anew hold nothing from before, lent pixels of an old size included.
    platformDeleteSurface(presentation.frameSurface);
    platformDeleteSurface(presentation.windowSurface);
    presentation.frameSurface = shown ? makeSurface() : platformCreateSurface(presentation.screen);
    presentation.windowSurface = nullptr;
    bool oneToOne = showsOneToOne(width, height);
    if (oneToOne && pixels != nullptr) {
        platformSelectBitmap(presentation.frameSurface, pixels);
        releaseBitmap(&presentation.frameBitmap);
        releaseBitmap(&presentation.windowBitmap);
        return true;
    }
    bool newCanvas = presentation.frameBitmap == nullptr;
    if (newCanvas) {
        presentation.frameBitmap =
            shown ? makeBitmap(kCanvasWidth, kCanvasHeight)
                  : platformCreateBitmap(presentation.screen, kCanvasWidth, kCanvasHeight);
    }
    platformSelectBitmap(presentation.frameSurface, presentation.frameBitmap);
    if (oneToOne) {
        releaseBitmap(&presentation.windowBitmap);
        return newCanvas;
    }
    presentation.windowSurface = shown ? makeSurface() : platformCreateSurface(presentation.screen);
    if (pixels != nullptr) {
        platformSelectBitmap(presentation.windowSurface, pixels);
        releaseBitmap(&presentation.windowBitmap);
    } else {
        // Without memory for the new size the old back buffer stays; copies clip to it.
        PlatformBitmap* bitmap = shown && presentation.windowBitmap == nullptr
                                     ? makeBitmap(width, height)
                                     : platformCreateBitmap(presentation.screen, width, height);
        if (bitmap != nullptr) {
            releaseBitmap(&presentation.windowBitmap);
            presentation.windowBitmap = bitmap;
        }
        platformSelectBitmap(presentation.windowSurface, presentation.windowBitmap);
    }
    tileWindowSurface(width, height);
    return newCanvas;
}

// Follows the client size and the window's pixels; true when the targets were made anew.
bool followClientSize(int32_t width, int32_t height) {
    Presentation& presentation = renderState.presentation;
    PlatformBitmap* pixels = platformWindowPixels(presentation.window);
    if (width == presentation.lastWidth && height == presentation.lastHeight &&
        pixels == presentation.windowPixels && presentation.frameSurface != nullptr) {
        return false;
    }
    presentation.lastWidth = width;
    presentation.lastHeight = height;
    presentation.windowPixels = pixels;
    int32_t pixelsWidth = 0;
    int32_t pixelsHeight = 0;
    bool fits = platformBitmapSize(pixels, &pixelsWidth, &pixelsHeight) && pixelsWidth == width &&
                pixelsHeight == height;
    if (arrangeTargets(width, height, fits ? pixels : nullptr)) {
        presentation.builtCanvas.valid = false;
    }
    return true;
}

// What the canvas shows now: the scene, the dialogue and the marker glyph are all that
// is drawn on it. Moves the marker on when its time has come.
CanvasKey currentCanvas() {
    CanvasKey key = {true,
                     engineState.effects.sceneGeneration,
                     engineState.effects.dialogueGeneration,
                     engineState.effects.awaitingKey,
                     0,
                     engineState.effects.dialoguePage,
                     engineState.effects.dialogue.length};
    if (key.indicatorShown) {
        key.indicatorGlyph = advanceIndicator();
    }
    return key;
}

// The scene over `area` of the canvas; where the scene image is smaller than the canvas,
// or before the first scene, the rest is black, never an older frame's pixels.
void copyScene(const PlatformRect& area) {
    Presentation& presentation = renderState.presentation;
    PlatformBitmap* image = engineState.effects.sceneImage;
    int32_t width = 0;
    int32_t height = 0;
    if (platformBitmapSize(image, &width, &height)) {
        // Selected only for the copy, so the engine may destroy its image at any time.
        PlatformBitmap* own = platformSelectBitmap(presentation.sceneSurface, image);
        platformCopy(presentation.frameSurface, area.x, area.y, area.width, area.height,
                     presentation.sceneSurface, area.x, area.y);
        platformSelectBitmap(presentation.sceneSurface, own);
    }
    int32_t right = area.x + area.width;
    int32_t bottom = area.y + area.height;
    if (width < right) {
        int32_t left = width > area.x ? width : area.x;
        platformFillRect(presentation.frameSurface, left, area.y, right - left, area.height,
                         kColorBlack);
    }
    if (height < bottom) {
        int32_t top = height > area.y ? height : area.y;
        platformFillRect(presentation.frameSurface, area.x, top, area.width, bottom - top,
                         kColorBlack);
    }
}

void drawMarker(const CanvasKey& key) {
    if (key.indicatorShown) {
        drawGlyph(renderState.presentation.frameSurface, renderState.presentation.fontSurface,
                  renderState.pen.textCursorX, renderState.pen.textCursorY, key.indicatorGlyph);
    }
}

void buildCanvas(const CanvasKey& key) {
    copyScene(kWholeCanvas);
    drawText(renderState.presentation.frameSurface, renderState.presentation.fontSurface, 0, 0,
             engineState.effects.dialogue.text);
    drawMarker(key);
}

// Redraws the marker's cell alone: the scene under it and the new glyph, if any. No text
// stands there: glyphs sit on the glyph grid in reading order and the marker follows the
// last one drawn. False when the cell lies off the canvas, so nothing visible changed.
bool redrawMarkerCell(const CanvasKey& key, PlatformRect* cell) {
    int32_t x = 0;
    int32_t y = 0;
    if (!glyphCellAt(renderState.pen.textCursorX, renderState.pen.textCursorY, &x, &y) ||
        x >= kCanvasWidth || y >= kCanvasHeight) {
        return false;
    }
    *cell = {x, y, kGlyphWidth,
             kCanvasHeight - y < kGlyphHeight ? kCanvasHeight - y : kGlyphHeight};
    copyScene(*cell);
    drawMarker(key);
    return true;
}

// Widens the rows [*top, *bottom) to the marker's cell at the cursor, where that shows.
void widenToMarkerCell(int32_t cursorX, int32_t cursorY, int32_t* top, int32_t* bottom) {
    int32_t x = 0;
    int32_t y = 0;
    if (!glyphCellAt(cursorX, cursorY, &x, &y) || y >= kCanvasHeight) {
        return;
    }
    int32_t end = kCanvasHeight - y < kGlyphHeight ? kCanvasHeight : y + kGlyphHeight;
    *top = y < *top ? y : *top;
    *bottom = end > *bottom ? end : *bottom;
}

// Redraws the rows that lines added since the canvas was built changed: their glyphs and
// the marker's old and new cells. Added glyphs follow the cursor in reading order, so no
// row outside them changes. False when the dialogue did more than grow on the same page
// or the scene changed: then the canvas is built anew.
bool redrawAddedLines(const CanvasKey& built, const CanvasKey& key, PlatformRect* area) {
    if (!built.valid || built.sceneGeneration != key.sceneGeneration ||
        built.dialoguePage != key.dialoguePage || key.dialogueLength < built.dialogueLength) {
        return false;
    }
    const char* text = engineState.effects.dialogue.text;
    GlyphRows rows = glyphRowsFrom(text, built.dialogueLength);
    if (built.indicatorShown) {
        widenToMarkerCell(renderState.pen.textCursorX, renderState.pen.textCursorY, &rows.top,
                          &rows.bottom);
    }
    if (key.indicatorShown) {
        widenToMarkerCell(rows.cursorX, rows.cursorY, &rows.top, &rows.bottom);
    }
    *area = {0, rows.top, kCanvasWidth, rows.bottom > rows.top ? rows.bottom - rows.top : 0};
    if (area->height > 0) {
        copyScene(*area);
    }
    // Also where nothing shows, the cursor must move on, as a full build moves it.
    Presentation& presentation = renderState.presentation;
    drawTextRows(presentation.frameSurface, presentation.fontSurface, text, rows.top, rows.bottom);
    if (area->height > 0) {
        drawMarker(key);
    }
    return true;
}

// Shows `area` of the canvas. Scaled, only the window pixels that read it are stretched
// again, and they come out as the whole stretch makes them.
void showCanvasPart(const PlatformRect& area, int32_t width, int32_t height) {
    Presentation& presentation = renderState.presentation;
    if (showsOneToOne(width, height)) {
        platformCopy(presentation.screen, area.x, area.y, area.width, area.height,
                     presentation.frameSurface, area.x, area.y);
        return;
    }
    PlatformRect fit = fitCanvas(width, height);
    if (fit.width <= 0 || fit.height <= 0) {
        return;
    }
    PlatformRect part = windowPartOf(area, fit);
    platformSetSmoothStretch(presentation.windowSurface);
    platformStretchCopyPart(presentation.windowSurface, fit.x, fit.y, fit.width, fit.height,
                            presentation.frameSurface, 0, 0, kCanvasWidth, kCanvasHeight, &part);
    platformCopy(presentation.screen, part.x, part.y, part.width, part.height,
                 presentation.windowSurface, part.x, part.y);
}

// Shows the whole client area; `stretch` when the back buffer does not hold the canvas yet.
void showWindow(int32_t width, int32_t height, bool stretch) {
    Presentation& presentation = renderState.presentation;
    if (showsOneToOne(width, height)) {
        platformCopy(presentation.screen, 0, 0, width, height, presentation.frameSurface, 0, 0);
        return;
    }
    if (stretch) {
        PlatformRect fit = fitCanvas(width, height);
        platformSetSmoothStretch(presentation.windowSurface);
        platformStretchCopy(presentation.windowSurface, fit.x, fit.y, fit.width, fit.height,
                            presentation.frameSurface, 0, 0, kCanvasWidth, kCanvasHeight);
    }
    platformCopy(presentation.screen, 0, 0, width, height, presentation.windowSurface, 0, 0);
}

} // namespace

void composeFrame() {
    Presentation& presentation = renderState.presentation;
    int32_t width = 0;
    int32_t height = 0;
    platformClientSize(presentation.window, &width, &height);
    bool rearranged = followClientSize(width, height);
    bool showAll = rearranged || presentation.windowNeedsPaint;
    presentation.windowNeedsPaint = false;
    CanvasKey key = currentCanvas();
    CanvasKey built = presentation.builtCanvas;
    presentation.builtCanvas = key;
    if (!built.valid || built.dialogueGeneration != key.dialogueGeneration) {
        platformDialogueText(engineState.effects.dialogue.text,
                             engineState.effects.dialogue.length);
    }
    if (!built.valid || built.sceneGeneration != key.sceneGeneration ||
        built.dialogueGeneration != key.dialogueGeneration) {
        PlatformRect added;
        if (!showAll && redrawAddedLines(built, key, &added)) {
            if (added.height > 0) {
                showCanvasPart(added, width, height);
            }
            return;
        }
        buildCanvas(key);
        if (showAll) {
            showWindow(width, height, true);
        } else {
            showCanvasPart(kWholeCanvas, width, height);
        }
        return;
    }
    PlatformRect cell;
    bool markerChanged =
        built.indicatorShown != key.indicatorShown || built.indicatorGlyph != key.indicatorGlyph;
    // A new back buffer gets the whole canvas stretched below; any other holds the old cell.
    if (markerChanged && redrawMarkerCell(key, &cell) && !rearranged) {
        showCanvasPart(cell, width, height);
    }
    if (showAll) {
        showWindow(width, height, rearranged);
    }
}
