// The frame loop: messages, the frame, at most one command, the next block, a pause.
#include "app/app.h"
#include "engine/engine.h"
#include "render/render.h"

namespace {

// Returns false when the quit message came; its code goes to *exitCode.
bool drainMessages(int32_t* exitCode) {
    PlatformMessage message;
    while (platformPeekMessage(&message)) {
        if (message.message == kMessageQuit) {
            *exitCode = static_cast<int32_t>(message.wParam);
            return false;
        }
        platformDispatchMessage(&message);
    }
    return true;
}

} // namespace

bool runLoopIteration(int32_t* exitCode) {
    bool running = drainMessages(exitCode);
    composeFrame();
    advancePlay(platformTickCount());
    if (engineState.script.scriptState != ScriptState::Running && !loadNextBlock()) {
        running = false;
    }
    platformSleep(kFramePause);
    return running;
}

int32_t runMainLoop() {
    // The play running out is an ordinary end.
    int32_t exitCode = 0;
    while (runLoopIteration(&exitCode)) {
    }
    return exitCode;
}
