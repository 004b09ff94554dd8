// The lifetime of what commands make: the dialogue, the waits, the scene image, the seed.
#include "engine/engine.h"

bool startCommandEffects(uint32_t randomSeed) {
    engineState.effects.randomSeed = randomSeed;
    return initDialogue();
}

bool resetCommandEffects(uint32_t randomSeed) {
    // The generations move on, so that a canvas built before cannot pass for a new one.
    uint32_t sceneGeneration = engineState.effects.sceneGeneration + 1;
    uint32_t dialogueGeneration = engineState.effects.dialogueGeneration + 1;
    releaseCommandEffects();
    engineState.effects.sceneGeneration = sceneGeneration;
    engineState.effects.dialogueGeneration = dialogueGeneration;
    return startCommandEffects(randomSeed);
}

void releaseCommandEffects() {
    releaseSceneImage();
    platformFree(engineState.effects.dialogue.text);
    engineState.effects = CommandEffects{};
}
