// Builds the canvas each frame and scales it into the window, shape kept, tiled bars around.
#include "engine/engine.h"
#include "render/render.h"

namespace {

constexpr int32_t kTileSize = 32;

void tileWindowSurface(int32_t width, int32_t height) {
    for (int32_t y = 0; y < height; y += kTileSize) {
        for (int32_t x = 0; x < width; x += kTileSize) {
            platformCopy(engineState.presentation.windowSurface, x, y, kTileSize, kTileSize,
                         engineState.presentation.tileSurface, 0, 0);
        }
    }
}

// Returns true when the client size changed and the back buffer was made anew.
bool followClientSize(int32_t width, int32_t height) {
    if (width == engineState.presentation.lastWidth &&
        height == engineState.presentation.lastHeight) {
        return false;
    }
    engineState.presentation.lastWidth = width;
    engineState.presentation.lastHeight = height;
    PlatformBitmap* bitmap = platformCreateBitmap(engineState.presentation.screen, width, height);
    // Without memory for the new size the old back buffer stays; copies clip to it.
    if (bitmap != nullptr) {
        platformSelectBitmap(engineState.presentation.windowSurface, bitmap);
        platformDeleteBitmap(engineState.presentation.windowBitmap);
        engineState.presentation.windowBitmap = bitmap;
    }
    tileWindowSurface(width, height);
    return true;
}

// A scene smaller than the canvas leaves the rest black, never an older frame's pixels.
void copyScene() {
    platformCopy(engineState.presentation.frameSurface, 0, 0, kCanvasWidth, kCanvasHeight,
                 engineState.presentation.sceneSurface, 0, 0);
    int32_t width = 0;
    int32_t height = 0;
    if (!platformBitmapSize(engineState.effects.sceneImage, &width, &height)) {
        width = 0;
        height = 0;
    }
    if (width < kCanvasWidth) {
        platformFillRect(engineState.presentation.frameSurface, width, 0, kCanvasWidth - width,
                         kCanvasHeight, kColorBlack);
    }
    if (height < kCanvasHeight) {
        platformFillRect(engineState.presentation.frameSurface, 0, height, kCanvasWidth,
                         kCanvasHeight - height, kColorBlack);
    }
}

// Builds the canvas unless it would come out as the one already built: the scene,
// the dialogue and the indicator glyph are all that is drawn on it.
// Returns true when the canvas was built anew.
bool buildCanvas() {
    CanvasKey key = {true, engineState.effects.sceneGeneration,
                     engineState.effects.dialogueGeneration, engineState.effects.awaitingKey, 0};
    if (key.indicatorShown) {
        key.indicatorGlyph = advanceIndicator();
    }
    const CanvasKey& built = engineState.presentation.builtCanvas;
    if (built.valid && built.sceneGeneration == key.sceneGeneration &&
        built.dialogueGeneration == key.dialogueGeneration &&
        built.indicatorShown == key.indicatorShown && built.indicatorGlyph == key.indicatorGlyph) {
        return false;
    }
    copyScene();
    drawText(engineState.presentation.frameSurface, engineState.presentation.fontSurface, 0, 0,
             engineState.effects.dialogue.text);
    if (key.indicatorShown) {
        drawGlyph(engineState.presentation.frameSurface, engineState.presentation.fontSurface,
                  engineState.pen.textCursorX, engineState.pen.textCursorY, key.indicatorGlyph);
    }
    engineState.presentation.builtCanvas = key;
    return true;
}

} // namespace

void composeFrame() {
    int32_t width = 0;
    int32_t height = 0;
    platformClientSize(engineState.presentation.window, &width, &height);
    bool resized = followClientSize(width, height);
    bool rebuilt = buildCanvas();

    double scaleX = width / static_cast<double>(kCanvasWidth);
    double scaleY = height / static_cast<double>(kCanvasHeight);
    double scale = scaleY > scaleX ? scaleX : scaleY;
    auto drawnWidth = static_cast<int32_t>(scale * kCanvasWidth);
    auto drawnHeight = static_cast<int32_t>(scale * kCanvasHeight);
    int32_t offsetX = (width - drawnWidth) / 2;
    int32_t offsetY = (height - drawnHeight) / 2;

    // A window exactly the canvas's size would get a plain copy of it: show the canvas itself.
    // Leaving this size is a resize, which stretches into the new back buffer.
    if (width == kCanvasWidth && height == kCanvasHeight) {
        platformCopy(engineState.presentation.screen, 0, 0, width, height,
                     engineState.presentation.frameSurface, 0, 0);
        return;
    }
    if (resized || rebuilt) {
        platformSetSmoothStretch(engineState.presentation.windowSurface);
        platformStretchCopy(engineState.presentation.windowSurface, offsetX, offsetY, drawnWidth,
                            drawnHeight, engineState.presentation.frameSurface, 0, 0, kCanvasWidth,
                            kCanvasHeight);
    }
    platformCopy(engineState.presentation.screen, 0, 0, width, height,
                 engineState.presentation.windowSurface, 0, 0);
}
