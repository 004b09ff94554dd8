// The small animated marker that stands after the last glyph during a key wait.
#include "engine/engine.h"
#include "render/render.h"

namespace {
const unsigned char kPageTurnFrames[] = {123, 124, 125, 124};
const unsigned char kLineEndFrames[] = {126, 127};

bool nextCommandTurnsPage() {
    if (engineState.commands == nullptr) {
        return false;
    }
    const char* next = engineState.commands[engineState.commandPointer];
    return next != nullptr && containsText(next, "turn");
}
} // namespace

unsigned char advanceIndicator() {
    bool pageTurn = nextCommandTurnsPage();
    const unsigned char* frames = pageTurn ? kPageTurnFrames : kLineEndFrames;
    int32_t length = pageTurn ? 4 : 2;
    uint32_t now = platformTickCount();
    if (now - engineState.indicatorSwitchTick > kIndicatorInterval) {
        engineState.indicatorFrame = (engineState.indicatorFrame + 1) % length;
        engineState.indicatorSwitchTick = now;
    }
    return frames[engineState.indicatorFrame % length];
}

void stepIndicator() {
    unsigned char glyph = advanceIndicator();
    drawGlyph(engineState.frameSurface, engineState.fontSurface, engineState.textCursorX,
              engineState.textCursorY, glyph);
}
