// Reading a whole script as the player does, block after block, from a fresh state.
#pragma once

#include "engine/play_cursor.h"

#include <cstdint>

// Returns how many blocks were found.
inline int32_t readEveryBlock(ScriptPosition* cursor) {
    rewindCursor(cursor);
    int32_t blocks = 0;
    while (loadNextBlockOf(cursor)) {
        ++blocks;
    }
    return blocks;
}
