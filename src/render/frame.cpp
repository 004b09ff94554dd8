// Builds the canvas each frame and scales it into the window, shape kept, tiled bars around.
#include "engine/engine.h"
#include "render/render.h"

namespace {

constexpr int32_t kTileSize = 32;

void tileWindowSurface(int32_t width, int32_t height) {
    for (int32_t y = 0; y < height; y += kTileSize) {
        for (int32_t x = 0; x < width; x += kTileSize) {
            platformCopy(engineState.windowSurface, x, y, kTileSize, kTileSize,
                         engineState.tileSurface, 0, 0);
        }
    }
}

// Returns true when the client size changed and the back buffer was made anew.
bool followClientSize(int32_t width, int32_t height) {
    if (width == engineState.lastWidth && height == engineState.lastHeight) {
        return false;
    }
    engineState.lastWidth = width;
    engineState.lastHeight = height;
    PlatformBitmap* bitmap = platformCreateBitmap(engineState.screen, width, height);
    // Without memory for the new size the old back buffer stays; copies clip to it.
    if (bitmap != nullptr) {
        platformSelectBitmap(engineState.windowSurface, bitmap);
        platformDeleteBitmap(engineState.windowBitmap);
        engineState.windowBitmap = bitmap;
    }
    tileWindowSurface(width, height);
    return true;
}

// A scene smaller than the canvas leaves the rest black, never an older frame's pixels.
void copyScene() {
    platformCopy(engineState.frameSurface, 0, 0, kCanvasWidth, kCanvasHeight,
                 engineState.sceneSurface, 0, 0);
    int32_t width = 0;
    int32_t height = 0;
    if (!platformBitmapSize(engineState.sceneImage, &width, &height)) {
        width = 0;
        height = 0;
    }
    if (width < kCanvasWidth) {
        platformFillRect(engineState.frameSurface, width, 0, kCanvasWidth - width, kCanvasHeight,
                         kColorBlack);
    }
    if (height < kCanvasHeight) {
        platformFillRect(engineState.frameSurface, 0, height, kCanvasWidth, kCanvasHeight - height,
                         kColorBlack);
    }
}

// Builds the canvas unless it would come out as the one already built: the scene,
// the dialogue and the indicator glyph are all that is drawn on it.
// Returns true when the canvas was built anew.
bool buildCanvas() {
    CanvasKey key = {true, engineState.sceneGeneration, engineState.dialogueGeneration,
                     engineState.awaitingKey, 0};
    if (key.indicatorShown) {
        key.indicatorGlyph = advanceIndicator();
    }
    const CanvasKey& built = engineState.builtCanvas;
    if (!built.valid || built.dialogueGeneration != key.dialogueGeneration) {
        platformDialogueText(engineState.dialogue.text, engineState.dialogue.length);
    }
    if (built.valid && built.sceneGeneration == key.sceneGeneration &&
        built.dialogueGeneration == key.dialogueGeneration &&
        built.indicatorShown == key.indicatorShown && built.indicatorGlyph == key.indicatorGlyph) {
        return false;
    }
    copyScene();
    drawText(engineState.frameSurface, engineState.fontSurface, 0, 0, engineState.dialogue.text);
    if (key.indicatorShown) {
        drawGlyph(engineState.frameSurface, engineState.fontSurface, engineState.textCursorX,
                  engineState.textCursorY, key.indicatorGlyph);
    }
    engineState.builtCanvas = key;
    return true;
}

} // namespace

void composeFrame() {
    int32_t width = 0;
    int32_t height = 0;
    platformClientSize(engineState.window, &width, &height);
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
        platformCopy(engineState.screen, 0, 0, width, height, engineState.frameSurface, 0, 0);
        return;
    }
    if (resized || rebuilt) {
        platformSetSmoothStretch(engineState.windowSurface);
        platformStretchCopy(engineState.windowSurface, offsetX, offsetY, drawnWidth, drawnHeight,
                            engineState.frameSurface, 0, 0, kCanvasWidth, kCanvasHeight);
    }
    platformCopy(engineState.screen, 0, 0, width, height, engineState.windowSurface, 0, 0);
}
