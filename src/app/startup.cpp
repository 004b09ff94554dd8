// Makes the window and every resource the story needs; reports missing files.
#include "app/app.h"
#include "engine/engine.h"

namespace {

const char kClassName[] = "BexuGame";
const char kDefaultTitle[] = "Bexu Game";

// The optional title file: its whole content, untrimmed, becomes the title.
void applyTitleFile() {
    PlatformFile* file = platformOpenFile("init.bexc");
    if (file == nullptr) {
        return;
    }
    uint32_t size = 0;
    if (platformFileSize(file, &size) && size != 0 && size != UINT32_MAX) {
        auto* title = static_cast<char*>(platformAllocate(static_cast<size_t>(size) + 1, true));
        uint32_t got = 0;
        if (title != nullptr && platformReadFile(file, title, size, &got) && got == size) {
            platformSetWindowTitle(engineState.window, title);
            platformSetConsoleTitle(title);
        }
        platformFree(title);
    }
    platformCloseFile(file);
}

PlatformSurface* makeSurface() {
    PlatformSurface* surface = platformCreateSurface(engineState.screen);
    if (surface == nullptr) {
        platformFatal("Error", "Not enough memory for the window's surfaces.", 1);
    }
    return surface;
}

PlatformBitmap* makeBitmap(int32_t width, int32_t height) {
    PlatformBitmap* bitmap = platformCreateBitmap(engineState.screen, width, height);
    if (bitmap == nullptr) {
        platformFatal("Error", "Not enough memory for the window's surfaces.", 1);
    }
    return bitmap;
}

void loadSheet(PlatformSurface* surface, const char* path, const char* failure) {
    PlatformBitmap* bitmap = platformLoadBitmap(path);
    if (bitmap == nullptr) {
        platformFatal("Error", failure, 1);
    }
    platformSelectBitmap(surface, bitmap);
}

void makeSurfaces() {
    engineState.sceneSurface = makeSurface();
    engineState.fontSurface = makeSurface();
    engineState.tileSurface = makeSurface();
    // The scene before the first cg is black. The frame shows black wherever the scene image
    // ends, so one black pixel shows the same as 1600 x 900 of them, without their 5.8 MB.
    PlatformBitmap* black = makeBitmap(1, 1);
    engineState.sceneSurfaceFirstBitmap = platformSelectBitmap(engineState.sceneSurface, black);
    platformFillRect(engineState.sceneSurface, 0, 0, 1, 1, kColorBlack);
    engineState.sceneImage = black;

    loadSheet(engineState.fontSurface, "font.bmp", "Failed to load font.bmp");
    loadSheet(engineState.tileSurface, "transparency.bmp", "Failed to load transparency.bmp");
    // The canvas and the back buffer follow the client size: the first frame makes them.
}

} // namespace

void startUp() {
    engineState.randomSeed = platformTickCount();
    if (!initDialogue()) {
        platformExitProcess(1);
    }
    if (!platformRegisterWindowClass(kClassName, windowProcedure)) {
        platformExitProcess(1);
    }
    engineState.window =
        platformCreateWindow(kClassName, kDefaultTitle, kCanvasWidth, kCanvasHeight);
    if (engineState.window == nullptr) {
        platformExitProcess(1);
    }
    engineState.scriptFile = platformOpenFile("script.bexu");
    if (engineState.scriptFile == nullptr) {
        platformFatal("Filenotfound", "script.bexu could not be located.", 1);
    }
    applyTitleFile();
    platformShowWindow(engineState.window);
    engineState.screen = platformWindowScreen(engineState.window);
    if (engineState.screen == nullptr) {
        platformFatal("Error", "Not enough memory for the window's surfaces.", 1);
    }
    makeSurfaces();
}
