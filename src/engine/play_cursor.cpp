// The play cursor: the block reader and the command cutter, stepped in play order.
#include "engine/play_cursor.h"

#include <cstring>

void releaseCommandsOf(ScriptPosition* cursor) {
    freeCommandList(cursor->commands);
    cursor->commands = nullptr;
    platformFree(cursor->places.items.starts);
    cursor->places.items.starts = nullptr;
    cursor->walkReported = false;
}

namespace {

// Bytes a block search read: up to the closing brace, or to the end of the file when the
// block was not closed or not found.
uint64_t bytesSearched(const ScriptPosition* cursor, int32_t from, const BlockPlace* found) {
    uint32_t fileSize = cursor->window.fileSize;
    uint32_t end = found != nullptr && found->closed ? found->contentEnd + 1 : fileSize;
    auto start = static_cast<uint32_t>(from);
    return end > start ? end - start : 0;
}

char* readCursorBlock(ScriptPosition* cursor) {
    if (!cursor->keepPlaces) {
        return readBlockThrough(&cursor->window, cursor->nextBlockNumber, cursor->scriptFile,
                                &cursor->resumeOffset);
    }
    int32_t from = cursor->resumeOffset;
    BlockPlace place = {};
    char* text = readBlockThrough(&cursor->window, cursor->nextBlockNumber, cursor->scriptFile,
                                  &cursor->resumeOffset, &place);
    cursor->places.scanned += bytesSearched(cursor, from, text != nullptr ? &place : nullptr);
    if (text != nullptr) {
        cursor->places.block = place;
        cursor->places.textLength = static_cast<uint32_t>(strlen(text));
    }
    return text;
}

} // namespace

bool openCursor(ScriptPosition* cursor, const char* path, bool keepPlaces) {
    closeCursor(cursor);
    cursor->scriptFile = platformOpenFile(path);
    cursor->keepPlaces = keepPlaces;
    return cursor->scriptFile != nullptr;
}

void rewindCursor(ScriptPosition* cursor) {
    releaseCommandsOf(cursor);
    cursor->commandPointer = 0;
    cursor->nextBlockNumber = 0;
    cursor->resumeOffset = 0;
    cursor->scriptState = ScriptState::Unloaded;
    // The reading window is large and needs no clearing: zero counts hold nothing.
    cursor->window.file = nullptr;
    cursor->window.fileSize = 0;
    cursor->window.start = 0;
    cursor->window.length = 0;
    cursor->window.nextRead = 0;
    LineIndex lines = cursor->places.lines;
    cursor->places = CursorPlaces{};
    cursor->places.lines = lines;
    cursor->lastStep = StepRecord{};
}

void closeCursor(ScriptPosition* cursor) {
    rewindCursor(cursor);
    releaseLineIndex(&cursor->places.lines);
    platformCloseFile(cursor->scriptFile);
    cursor->scriptFile = nullptr;
    cursor->keepPlaces = false;
}

bool loadNextBlockOf(ScriptPosition* cursor) {
    releaseCommandsOf(cursor);
    if (cursor->scriptFile == nullptr) {
        return false;
    }
    char* text = readCursorBlock(cursor);
    if (text == nullptr) {
        return false;
    }
    // Without memory for the list the block cannot be played; the play ends as at the
    // end of the script.
    cursor->commands =
        extractItems(text, '[', ']', cursor->keepPlaces ? &cursor->places.items : nullptr);
    platformFree(text);
    if (cursor->commands == nullptr) {
        return false;
    }
    cursor->commandPointer = 0;
    cursor->scriptState = ScriptState::Running;
    cursor->nextBlockNumber =
        static_cast<int32_t>(static_cast<uint32_t>(cursor->nextBlockNumber) + 1u);
    return true;
}

int32_t cursorBlock(const ScriptPosition* cursor) {
    return static_cast<int32_t>(static_cast<uint32_t>(cursor->nextBlockNumber) - 1u);
}

WalkStep walkCursor(ScriptPosition* cursor, uint64_t scanBudget) {
    if (cursor->scriptState == ScriptState::Running && cursor->commands != nullptr) {
        if (cursor->walkReported) {
            ++cursor->commandPointer;
            cursor->walkReported = false;
        }
        if (cursor->commands[cursor->commandPointer] != nullptr) {
            cursor->walkReported = true;
            return WalkStep::Command;
        }
        cursor->scriptState = ScriptState::Finished;
    }
    if (scanBudget != 0 && cursor->places.scanned > scanBudget) {
        return WalkStep::End;
    }
    return loadNextBlockOf(cursor) ? WalkStep::Block : WalkStep::End;
}

namespace {

bool linesIndexed(ScriptPosition* cursor) {
    return cursor->places.lines.made ||
           (cursor->scriptFile != nullptr && indexFile(&cursor->places.lines, cursor->scriptFile));
}

} // namespace

bool cursorLineAndColumn(ScriptPosition* cursor, uint32_t offset, uint32_t* line,
                         uint32_t* column) {
    if (!linesIndexed(cursor)) {
        return false;
    }
    lineAndColumn(&cursor->places.lines, offset, line, column);
    return true;
}

bool cursorOffsetOf(ScriptPosition* cursor, uint32_t line, uint32_t column, uint32_t* offset) {
    if (!linesIndexed(cursor)) {
        return false;
    }
    *offset = offsetOfLine(&cursor->places.lines, line, column);
    return true;
}

bool cursorPlace(ScriptPosition* cursor, CommandPlace* place) {
    return cursorPlaceOf(cursor, cursor->commandPointer, place);
}

bool cursorPlaceOf(ScriptPosition* cursor, int32_t index, CommandPlace* place) {
    if (!cursor->keepPlaces || cursor->commands == nullptr ||
        cursor->places.items.starts == nullptr || index < 0 || index > cursor->commandPointer ||
        cursor->commands[index] == nullptr) {
        return false;
    }
    place->block = cursorBlock(cursor);
    place->index = static_cast<uint32_t>(index);
    // The item's text starts just after its `[`.
    place->offset =
        cursor->places.block.contentStart + cursor->places.items.starts[place->index] - 1;
    return cursorLineAndColumn(cursor, place->offset, &place->line, &place->column);
}
