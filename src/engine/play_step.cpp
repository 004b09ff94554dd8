// The play's step as the main loop takes it: the waits and the reader's Space decide
// whether the script may advance by one command.
#include "engine/engine.h"

void requestAdvance() {
    engineState.input.advanceRequested = true;
}

void releaseInput() {
    engineState.input = InputState{};
}

bool playMayStep(uint32_t now) {
    const CommandEffects& effects = engineState.effects;
    if (effects.timedWait) {
        return static_cast<int32_t>(now - effects.waitDeadline) >= 0;
    }
    return !effects.awaitingKey || engineState.input.advanceRequested;
}

bool passPlayGate(uint32_t now) {
    CommandEffects& effects = engineState.effects;
    bool may = playMayStep(now);
    if (effects.timedWait) {
        // Key presses during a timed wait are dropped.
        engineState.input.advanceRequested = false;
        effects.timedWait = !may;
    } else if (effects.awaitingKey && may) {
        effects.awaitingKey = false;
        engineState.input.advanceRequested = false;
    }
    return may;
}

void advancePlay(uint32_t now) {
    if (passPlayGate(now)) {
        stepScriptAt(now);
    }
}
