// Play from a position: the play runs ahead of the reader, with no waits, no sound and no
// frames, up to a command, and leaves everything as a reader who pressed Space at the first
// frame of every key wait would find it there: the dialogue, the scene, the page, the
// marker's counters and the stammers' generator. Then the live loop takes over.
#pragma once

#include "engine/play_cursor.h"

#include <cstdint>

struct PlayStart {
    // The first command at or after this line and column of the script (1-based; a column
    // of 0 is the line's start) ...
    uint32_t line;
    uint32_t column;
    // ... or, when not 0, the command that begins this key wait: the page of that number in
    // bexu-shot's sheet.
    uint32_t page;
};

enum class PlayStartEnd { Reached, PlayEnded, PlayHeld };

struct PlayStartReport {
    PlayStartEnd end;
    CommandPlace place; // the command the play starts at, or the one it holds at
    uint32_t page;      // key waits begun before that command
    uint32_t tick;      // the reader's clock there
};

// Runs the play ahead from where it stands (just after startUp, with keepPlayPlaces asked
// before it) and stops before the start command, which the next step would run. False when
// the play ends or holds for good before it; the report says where.
bool runAheadTo(const PlayStart& start, PlayStartReport* report);

// Back to the reader's pace at the command runAheadTo stopped before: the scene noted on the
// way is shown, the command runs live at the clock's tick, and the loop's pause follows, as
// in the iteration that would have run it. A host whose clock it sets (the headless backend)
// sets it to the report's tick first. False when the play has ended; else runMainLoop goes on.
bool catchUp();
