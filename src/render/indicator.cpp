// The small animated marker that stands after the last glyph during a key wait.
#include "engine/engine.h"
#include "render/render.h"

namespace {
const unsigned char kPageTurnFrames[] = {123, 124, 125, 124};
const unsigned char kLineEndFrames[] = {126, 127};

bool nextCommandTurnsPage() {
    if (engineState.script.commands == nullptr) {
        return false;
    }
    const char* next = engineState.script.commands[engineState.script.commandPointer];
    return next != nullptr && containsText(next, "turn");
}
} // namespace

unsigned char advanceIndicator() {
    bool pageTurn = nextCommandTurnsPage();
    const unsigned char* frames = pageTurn ? kPageTurnFrames : kLineEndFrames;
    int32_t length = pageTurn ? 4 : 2;
    uint32_t now = platformTickCount();
    if (now - engineState.pen.indicatorSwitchTick > kMarkerInterval) {
        engineState.pen.indicatorFrame = (engineState.pen.indicatorFrame + 1) % length;
        engineState.pen.indicatorSwitchTick = now;
    }
    return frames[engineState.pen.indicatorFrame % length];
}

uint32_t nextIndicatorChange() {
    // It moves on once more than the interval has passed.
    return engineState.pen.indicatorSwitchTick + kMarkerInterval + 1;
}
