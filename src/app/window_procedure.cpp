#include "app/app.h"
#include "engine/engine.h"
#include "render/render.h"

intptr_t windowProcedure(PlatformWindow* window, uint32_t message, uintptr_t wParam,
                         intptr_t lParam) {
    switch (message) {
    case kMessageKeyDown:
        if (wParam == kVirtualKeySpace) {
            requestAdvance();
        }
        return 0;
    case kMessagePaint:
        platformValidateWindow(window);
        windowNeedsPaint();
        return 0;
    case kMessageDestroy:
        platformPostQuitMessage(0);
        return 0;
    default:
        return platformDefaultWindowProcedure(window, message, wParam, lParam);
    }
}
