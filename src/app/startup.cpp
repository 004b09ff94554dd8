// Makes the window and every resource the story needs; reports missing files.
#include "app/app.h"
#include "engine/engine.h"
#include "render/render.h"

namespace {

// The optional title file: its whole content, untrimmed, becomes the title.
void applyTitleFile(PlatformWindow* window) {
    PlatformFile* file = platformOpenFile(kTitleFileName);
    if (file == nullptr) {
        return;
    }
    uint32_t size = 0;
    if (platformFileSize(file, &size) && size != 0 && size != UINT32_MAX) {
        auto* title = static_cast<char*>(platformAllocate(static_cast<size_t>(size) + 1, true));
        uint32_t got = 0;
        if (title != nullptr && platformReadFile(file, title, size, &got) && got == size) {
            platformSetWindowTitle(window, title);
            platformSetConsoleTitle(title);
        }
        platformFree(title);
    }
    platformCloseFile(file);
}

} // namespace

void startUp() {
    if (!startCommandEffects(platformTickCount())) {
        platformExitProcess(1);
    }
    if (!platformRegisterWindowClass(kWindowClassName, windowProcedure)) {
        platformExitProcess(1);
    }
    PlatformWindow* window =
        platformCreateWindow(kWindowClassName, kDefaultTitle, kCanvasWidth, kCanvasHeight);
    if (window == nullptr) {
        platformExitProcess(1);
    }
    if (!startScriptPosition(kScriptFileName)) {
        platformFatal(kScriptMissingCaption, kScriptMissingMessage, 1);
    }
    applyTitleFile(window);
    platformShowWindow(window);
    startPresentation(window);
}
