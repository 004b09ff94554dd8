// Makes the window and every resource the story needs; reports missing files.
#include "app/app.h"
#include "engine/engine.h"
#include "render/render.h"

char* readTitleFile() {
    PlatformFile* file = platformOpenFile(kTitleFileName);
    if (file == nullptr) {
        return nullptr;
    }
    char* title = nullptr;
    uint32_t size = 0;
    if (platformFileSize(file, &size) && size != 0 && size != UINT32_MAX) {
        title = static_cast<char*>(platformAllocate(static_cast<size_t>(size) + 1, true));
        uint32_t got = 0;
        if (title != nullptr && (!platformReadFile(file, title, size, &got) || got != size)) {
            platformFree(title);
            title = nullptr;
        }
    }
    platformCloseFile(file);
    return title;
}

PlatformWindow* makeWindow() {
    if (!platformRegisterWindowClass(kWindowClassName, windowProcedure)) {
        platformExitProcess(1);
    }
    PlatformWindow* window =
        platformCreateWindow(kWindowClassName, kDefaultTitle, kCanvasWidth, kCanvasHeight);
    if (window == nullptr) {
        platformExitProcess(1);
    }
    return window;
}

void startPlayIn(PlatformWindow* window) {
    if (!startScriptPosition(kScriptFileName)) {
        platformFatal(kScriptMissingCaption, kScriptMissingMessage, 1);
    }
    // The optional title file: its whole content, untrimmed, becomes the title.
    char* title = readTitleFile();
    if (title != nullptr) {
        platformSetWindowTitle(window, title);
        platformSetConsoleTitle(title);
        platformFree(title);
    }
    platformShowWindow(window);
    startPresentation(window);
}

void startUp() {
    if (!startCommandEffects(platformTickCount())) {
        platformExitProcess(1);
    }
    startPlayIn(makeWindow());
}
