#include "app/app.h"
#include "engine/engine.h"

// The other surfaces, the command list and the dialogue go with the process.
void shutDown(int32_t exitCode) {
    platformDeleteSurface(engineState.sceneSurface);
    platformDeleteBitmap(engineState.sceneImage);
    platformReleaseWindowScreen(engineState.window, engineState.screen);
    platformCloseFile(engineState.scriptFile);
    platformExitProcess(exitCode);
}

void runPlayer() {
    resetEngineState();
    startUp();
    shutDown(runMainLoop());
}
