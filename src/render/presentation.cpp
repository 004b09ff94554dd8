// The lifetime of the drawing targets and sources, made once the window exists.
#include "engine/engine.h"
#include "render/render.h"

RenderState renderState;

namespace {
const char kNoSurfaces[] = "Not enough memory for the window's surfaces.";
} // namespace

PlatformSurface* makeSurface() {
    PlatformSurface* surface = platformCreateSurface(renderState.presentation.screen);
    if (surface == nullptr) {
        platformFatal(kErrorCaption, kNoSurfaces, 1);
    }
    return surface;
}

PlatformBitmap* makeBitmap(int32_t width, int32_t height) {
    PlatformBitmap* bitmap = platformCreateBitmap(renderState.presentation.screen, width, height);
    if (bitmap == nullptr) {
        platformFatal(kErrorCaption, kNoSurfaces, 1);
    }
    return bitmap;
}

namespace {

PlatformBitmap* loadSheet(PlatformSurface* surface, const char* path, const char* failure) {
    PlatformBitmap* bitmap = platformLoadBitmap(path);
    if (bitmap == nullptr) {
        platformFatal("Error", failure, 1);
    }
    platformSelectBitmap(surface, bitmap);
    return bitmap;
}

} // namespace

void startPresentation(PlatformWindow* window) {
    Presentation& presentation = renderState.presentation;
    presentation.window = window;
    presentation.screen = platformWindowScreen(window);
    if (presentation.screen == nullptr) {
        platformFatal(kErrorCaption, kNoSurfaces, 1);
    }
    presentation.sceneSurface = makeSurface();
    presentation.fontSurface = makeSurface();
    presentation.tileSurface = makeSurface();
    // The scene image is the engine's: the frame selects it only while it copies from it.

    presentation.fontBitmap =
        loadSheet(presentation.fontSurface, kFontFileName, kFontFailedMessage);
    presentation.tileBitmap =
        loadSheet(presentation.tileSurface, kTileFileName, kTileFailedMessage);
    // The canvas and the back buffer follow the client size: the first frame makes them.
}

void windowNeedsPaint() {
    renderState.presentation.windowNeedsPaint = true;
}

void rebuildNextFrame() {
    Presentation& presentation = renderState.presentation;
    presentation.builtCanvas = CanvasKey{};
    // The next frame takes the client size and the window's pixels anew, makes the canvas
    // and the back buffer for them and tiles the bars again.
    presentation.lastWidth = -1;
    presentation.lastHeight = -1;
    presentation.windowPixels = nullptr;
}

void releasePresentation() {
    Presentation& presentation = renderState.presentation;
    // A selected bitmap cannot be deleted: the surfaces go first.
    PlatformSurface* surfaces[] = {presentation.sceneSurface, presentation.fontSurface,
                                   presentation.tileSurface, presentation.frameSurface,
                                   presentation.windowSurface};
    for (PlatformSurface* surface : surfaces) {
        platformDeleteSurface(surface);
    }
    // The window's lent pixels are its own.
    PlatformBitmap* bitmaps[] = {presentation.fontBitmap, presentation.tileBitmap,
                                 presentation.frameBitmap, presentation.windowBitmap};
    for (PlatformBitmap* bitmap : bitmaps) {
        platformDeleteBitmap(bitmap);
    }
    if (presentation.screen != nullptr) {
        platformReleaseWindowScreen(presentation.window, presentation.screen);
    }
    presentation = Presentation{};
}
