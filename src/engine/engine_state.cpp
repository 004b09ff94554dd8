#include "engine/engine.h"

#include <cstring>

EngineState engineState;

void resetEngineState() {
    memset(&engineState, 0, sizeof engineState);
    engineState.script.scriptState = ScriptState::Unloaded;
}
