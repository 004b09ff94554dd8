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

// Returns whether a command ran.
bool advanceScript() {
    if (engineState.effects.timedWait) {
        // Key presses during a timed wait are dropped.
        engineState.input.advanceRequested = false;
        if (static_cast<int32_t>(platformTickCount() - engineState.effects.waitDeadline) >= 0) {
            engineState.effects.timedWait = false;
            stepScript();
            return true;
        }
    } else if (!engineState.effects.awaitingKey) {
        stepScript();
        return true;
    } else if (engineState.input.advanceRequested) {
        engineState.effects.awaitingKey = false;
        engineState.input.advanceRequested = false;
        stepScript();
        return true;
    }
    return false;
}

uint32_t millisecondsUntil(uint32_t tick) {
    auto left = static_cast<int32_t>(tick - platformTickCount());
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

// After a command ran, and at the end of the play, the loop pauses a frame's length. Once a
// wait's frame shows and nothing ran since, nothing can change until a message comes, the
// deadline of a timed wait passes, or the marker of a key wait with no Space pending moves
// on: the loop sleeps until the first of these.
void pause(bool framePause) {
    const CommandEffects& effects = engineState.effects;
    if (framePause) {
        platformSleep(kFramePause);
    } else if (effects.timedWait) {
        platformWaitForMessage(millisecondsUntil(effects.waitDeadline));
    } else {
        // No command ran: a key wait holds, and no Space came.
        platformWaitForMessage(millisecondsUntil(nextIndicatorChange()));
    }
}

} // namespace

int32_t runMainLoop() {
    // The play running out is an ordinary end.
    int32_t exitCode = 0;
    bool running = true;
    while (running) {
        running = drainMessages(&exitCode);
        composeFrame();
        bool commandRan = advanceScript();
        if (engineState.script.scriptState != ScriptState::Running && !loadNextBlock()) {
            running = false;
        }
        pause(commandRan || !running);
    }
    return exitCode;
}
