// The lifetime of the drawing targets and sources, made once the window exists.
#include "engine/engine.h"
#include "render/render.h"

namespace {

const char kNoSurfaces[] = "Not enough memory for the window's surfaces.";

PlatformSurface* makeSurface() {
    PlatformSurface* surface = platformCreateSurface(engineState.presentation.screen);
    if (surface == nullptr) {
        platformFatal("Error", kNoSurfaces, 1);
    }
    return surface;
}

PlatformBitmap* makeBitmap(int32_t width, int32_t height) {
    PlatformBitmap* bitmap = platformCreateBitmap(engineState.presentation.screen, width, height);
    if (bitmap == nullptr) {
        platformFatal("Error", kNoSurfaces, 1);
    }
    return bitmap;
}

PlatformBitmap* loadSheet(PlatformSurface* surface, const char* path, const char* failure) {
    PlatformBitmap* bitmap = platformLoadBitmap(path);
    if (bitmap == nullptr) {
        platformFatal("Error", failure, 1);
    }
    platformSelectBitmap(surface, bitmap);
    return bitmap;
}

} // namespace

void startPresentation() {
    Presentation& presentation = engineState.presentation;
    presentation.screen = platformWindowScreen(presentation.window);
    if (presentation.screen == nullptr) {
        platformFatal("Error", kNoSurfaces, 1);
    }
    presentation.sceneSurface = makeSurface();
    presentation.fontSurface = makeSurface();
    presentation.tileSurface = makeSurface();
    // The black canvas is the first scene image: the first scene shown replaces it.
    PlatformBitmap* black = makeBitmap(kCanvasWidth, kCanvasHeight);
    presentation.sceneSurfaceFirstBitmap = platformSelectBitmap(presentation.sceneSurface, black);
    platformFillRect(presentation.sceneSurface, 0, 0, kCanvasWidth, kCanvasHeight, kColorBlack);
    engineState.effects.sceneImage = black;

    presentation.fontBitmap =
        loadSheet(presentation.fontSurface, "font.bmp", "Failed to load font.bmp");
    presentation.tileBitmap =
        loadSheet(presentation.tileSurface, "transparency.bmp", "Failed to load transparency.bmp");

    presentation.frameSurface = makeSurface();
    presentation.frameBitmap = makeBitmap(kCanvasWidth, kCanvasHeight);
    platformSelectBitmap(presentation.frameSurface, presentation.frameBitmap);
    presentation.windowSurface = makeSurface();
    // A placeholder until the first frame learns the client size.
    presentation.windowBitmap = makeBitmap(kCanvasWidth, kCanvasWidth);
    platformSelectBitmap(presentation.windowSurface, presentation.windowBitmap);
}

void resetPresentation() {
    Presentation& presentation = engineState.presentation;
    presentation.builtCanvas = CanvasKey{};
    // The next frame takes the client size anew and tiles the bars again.
    presentation.lastWidth = 0;
    presentation.lastHeight = 0;
}

void releasePresentation() {
    Presentation& presentation = engineState.presentation;
    // A selected bitmap cannot be deleted: the surfaces go first.
    PlatformSurface* surfaces[] = {presentation.sceneSurface, presentation.fontSurface,
                                   presentation.tileSurface, presentation.frameSurface,
                                   presentation.windowSurface};
    for (PlatformSurface* surface : surfaces) {
        platformDeleteSurface(surface);
    }
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
