// The small animated marker that stands after the last glyph during a key wait.
#include "engine/engine.h"
#include "render/render.h"

namespace {

bool nextCommandTurnsPage() {
    if (engineState.script.commands == nullptr) {
        return false;
    }
    const char* next = engineState.script.commands[engineState.script.commandPointer];
    return next != nullptr && containsText(next, "turn");
}
} // namespace

unsigned char advanceIndicator() {
    return advanceIndicatorAt(platformTickCount());
}

unsigned char advanceIndicatorAt(uint32_t now) {
    bool pageTurn = nextCommandTurnsPage();
    const unsigned char* frames = pageTurn ? kPageTurnMarker : kLineEndMarker;
    int32_t length = pageTurn ? sizeof kPageTurnMarker : sizeof kLineEndMarker;
    if (now - renderState.pen.indicatorSwitchTick > kMarkerInterval) {
        renderState.pen.indicatorFrame = (renderState.pen.indicatorFrame + 1) % length;
        renderState.pen.indicatorSwitchTick = now;
    }
    return frames[renderState.pen.indicatorFrame % length];
}
