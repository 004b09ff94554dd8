// The play's own position in the script: a play cursor over the script file, kept open for
// the whole run.
#include "engine/play_cursor.h"

void releaseCommands() {
    releaseCommandsOf(&engineState.script);
}

bool loadNextBlock() {
    if (!loadNextBlockOf(&engineState.script)) {
        return false;
    }
    engineState.input.advanceRequested = false;
    return true;
}

int32_t currentBlockNumber() {
    return cursorBlock(&engineState.script);
}

void keepPlayPlaces() {
    engineState.script.keepPlaces = true;
}

bool startScriptPosition(const char* path) {
    return openCursor(&engineState.script, path, engineState.script.keepPlaces);
}

void releaseScriptPosition() {
    closeCursor(&engineState.script);
}
