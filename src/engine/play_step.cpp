// The play's step as the main loop takes it: the waits and the reader's Space decide
// whether the script may advance by one command.
#include "engine/engine.h"

void requestAdvance() {
    engineState.input.advanceRequested = true;
}

void releaseInput() {
    engineState.input = InputState{};
}

void advancePlay(uint32_t now) {
    CommandEffects& effects = engineState.effects;
    if (effects.timedWait) {
        // Key presses during a timed wait are dropped.
        engineState.input.advanceRequested = false;
        if (static_cast<int32_t>(now - effects.waitDeadline) >= 0) {
            effects.timedWait = false;
            stepScriptAt(now);
        }
    } else if (!effects.awaitingKey) {
        stepScriptAt(now);
    } else if (engineState.input.advanceRequested) {
        effects.awaitingKey = false;
        engineState.input.advanceRequested = false;
        stepScriptAt(now);
    }
}
