// Reading a whole script as the player does, block after block, from a fresh state.
#pragma once

#include "engine/engine.h"

#include <cstdint>

// Returns how many blocks were found.
inline int32_t readEveryBlock(PlatformFile* script) {
    resetEngineState();
    engineState.script.scriptFile = script;
    int32_t blocks = 0;
    while (loadNextBlock()) {
        ++blocks;
    }
    return blocks;
}
