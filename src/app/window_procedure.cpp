#include "app/app.h"
#include "engine/engine.h"

intptr_t windowProcedure(PlatformWindow* window, uint32_t message, uintptr_t wParam,
                         intptr_t lParam) {
    switch (message) {
    case kMessageKeyDown:
        if (wParam == kVirtualKeySpace) {
            engineState.input.advanceRequested = true;
        }
        return 0;
    case kMessagePaint:
        platformValidateWindow(window);
        engineState.presentation.windowNeedsPaint = true;
        return 0;
    case kMessageDestroy:
        platformPostQuitMessage(0);
        return 0;
    default:
        return platformDefaultWindowProcedure(window, message, wParam, lParam);
    }
}

void resetInput() {
    engineState.input = InputState{};
}
