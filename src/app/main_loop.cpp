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

uint32_t millisecondsUntil(uint32_t tick) {
    auto left = static_cast<int32_t>(tick - platformTickCount());
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

} // namespace

LoopPause loopPauseAfter(bool commandRan) {
    const CommandEffects& effects = engineState.effects;
    if (commandRan) {
        return {true, 0};
    }
    if (effects.timedWait) {
        return {false, effects.waitDeadline};
    }
    // No command ran: a key wait holds, and no Space came.
    return {false, nextIndicatorChange()};
}

bool runLoopIteration(int32_t* exitCode) {
    bool running = drainMessages(exitCode);
    composeFrame();
    bool commandRan = advancePlay(platformTickCount());
    if (engineState.script.scriptState != ScriptState::Running && !loadNextBlock()) {
        running = false;
    }
    LoopPause pause = loopPauseAfter(commandRan || !running);
    if (pause.frame) {
        platformSleep(kFramePause);
    } else {
        platformWaitForMessage(millisecondsUntil(pause.wakeTick));
    }
    return running;
}

int32_t runMainLoop() {
    // The play running out is an ordinary end.
    int32_t exitCode = 0;
    while (runLoopIteration(&exitCode)) {
    }
    return exitCode;
}
