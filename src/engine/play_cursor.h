// The play cursor: a script stepped command by command in play order, blocks 0, 1, 2 ...
// found as the player finds them. The player's own script position is one; the checker,
// the file lister, the page pictures and play-from-a-position walk their own or the
// player's, and ask each command's place.
#pragma once

#include "engine/engine.h"

#include <cstdint>

// Where a command stands: its block, its index there, and its `[` in the script file.
struct CommandPlace {
    int32_t block;
    uint32_t index;
    uint32_t offset; // of the `[`
    uint32_t line;   // 1-based
    uint32_t column; // 1-based, in bytes
};

// Opens a cursor on the script at `path`, before block 0. With `keepPlaces`, it keeps
// where each block and command stands. False when the script cannot be opened.
bool openCursor(ScriptPosition* cursor, const char* path, bool keepPlaces);
// Back to before block 0 of the same script, keeping the file and what it knows of lines.
void rewindCursor(ScriptPosition* cursor);
// Frees what the cursor holds and closes its file; the cursor is back at its start values.
void closeCursor(ScriptPosition* cursor);

// Frees the current block's commands and their places.
void releaseCommandsOf(ScriptPosition* cursor);
// The next block of the play in place of the current one; false at the end of the play.
bool loadNextBlockOf(ScriptPosition* cursor);
// The block whose commands the cursor holds: the one it read last.
int32_t cursorBlock(const ScriptPosition* cursor);

// A walk executes nothing: each step moves to the next command in play order.
enum class WalkStep { Block, Command, End };
// Block: a new block is loaded (its places tell where; it may hold no command).
// Command: the cursor stands at a command, commands[commandPointer].
// End: no next block, or the cursor's reading budget is spent (`scanBudget`).
WalkStep walkCursor(ScriptPosition* cursor, uint64_t scanBudget = 0);

// The place of the command at the pointer; needs `keepPlaces`. False when the cursor
// stands at no command, or the lines cannot be indexed.
bool cursorPlace(ScriptPosition* cursor, CommandPlace* place);
// The same for command `index` of the current block.
bool cursorPlaceOf(ScriptPosition* cursor, int32_t index, CommandPlace* place);
// The place of a byte offset in the cursor's script, counted as for commands.
bool cursorLineAndColumn(ScriptPosition* cursor, uint32_t offset, uint32_t* line, uint32_t* column);
// The byte offset of a line and column of the cursor's script (offsetOfLine).
bool cursorOffsetOf(ScriptPosition* cursor, uint32_t line, uint32_t column, uint32_t* offset);
