#include "engine/engine.h"

// Zero at start: every record of it is at its start values.
EngineState engineState;
