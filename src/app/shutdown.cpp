#include "app/app.h"
#include "engine/engine.h"
#include "render/render.h"

void releaseRun() {
    releaseScriptPosition();
    // The scene image leaves its surface before the surfaces go.
    releaseCommandEffects();
    releasePresentation();
    releaseTextPen();
    releaseInput();
}

void shutDown(int32_t exitCode) {
    releaseRun();
    platformExitProcess(exitCode);
}

void runPlayer() {
    startUp();
    shutDown(runMainLoop());
}
