// The lifetime of what commands make: the dialogue, the waits, the scene image, the seed.
#include "engine/engine.h"

bool startCommandEffects(uint32_t randomSeed) {
    engineState.effects.randomSeed = randomSeed;
    return initDialogue();
}

void releaseCommandEffects() {
    releaseSceneImage();
    platformFree(engineState.effects.aheadScene);
    platformFree(engineState.effects.dialogue.text);
    engineState.effects = CommandEffects{};
}
