// Cuts a block into its bracketed commands and keeps the current block's list.
#include "engine/engine.h"

#include <cstring>

void freeCommandList(CommandList list) {
    if (list == nullptr) {
        return;
    }
    for (char** item = list; *item != nullptr; ++item) {
        platformFree(*item);
    }
    platformFree(list);
}

namespace {

// Where the next item starts and ends, from `i` on; false when no item follows.
bool findItem(const char* text, size_t length, size_t i, char open, char close, size_t* start,
              size_t* end) {
    const char* opening = static_cast<const char*>(memchr(text + i, open, length - i));
    if (opening == nullptr) {
        return false;
    }
    *start = static_cast<size_t>(opening - text) + 1;
    // No closing byte after this opening one means none after any later one either.
    const char* closing = static_cast<const char*>(memchr(text + *start, close, length - *start));
    if (closing == nullptr) {
        return false;
    }
    *end = static_cast<size_t>(closing - text);
    return true;
}

} // namespace

CommandList extractItems(const char* text, char open, char close) {
    size_t length = strlen(text);
    // Counted first: room for length / 2 items would cost four times a large block's size.
    size_t count = 0;
    size_t start = 0;
    size_t end = 0;
    for (size_t i = 0; i < length && findItem(text, length, i, open, close, &start, &end);
         i = end + 1) {
        ++count;
    }
    auto list = static_cast<CommandList>(platformAllocate((count + 1) * sizeof(char*), true));
    if (list == nullptr) {
        return nullptr;
    }
    size_t made = 0;
    for (size_t i = 0; made < count && findItem(text, length, i, open, close, &start, &end);
         i = end + 1) {
        size_t itemLength = end - start;
        char* item = static_cast<char*>(platformAllocate(itemLength + 1, false));
        if (item == nullptr) {
            freeCommandList(list);
            return nullptr;
        }
        memcpy(item, text + start, itemLength);
        item[itemLength] = '\0';
        list[made++] = item;
    }
    return list;
}

void releaseCommands() {
    freeCommandList(engineState.script.commands);
    engineState.script.commands = nullptr;
}

bool loadNextBlock() {
    releaseCommands();
    if (engineState.script.scriptFile == nullptr) {
        return false;
    }
    char* text = readBlock(engineState.script.nextBlockNumber, engineState.script.scriptFile,
                           &engineState.script.resumeOffset);
    if (text == nullptr) {
        return false;
    }
    // Without memory for the list the block cannot be played; the play ends as at the
    // end of the script.
    engineState.script.commands = extractItems(text, '[', ']');
    platformFree(text);
    if (engineState.script.commands == nullptr) {
        return false;
    }
    engineState.script.commandPointer = 0;
    engineState.input.advanceRequested = false;
    engineState.script.scriptState = ScriptState::Running;
    engineState.script.nextBlockNumber =
        static_cast<int32_t>(static_cast<uint32_t>(engineState.script.nextBlockNumber) + 1u);
    return true;
}

bool startScriptPosition(const char* path) {
    releaseScriptPosition();
    engineState.script.scriptFile = platformOpenFile(path);
    return engineState.script.scriptFile != nullptr;
}

void resetScriptPosition() {
    releaseCommands();
    ScriptPosition& script = engineState.script;
    script.commandPointer = 0;
    script.nextBlockNumber = 0;
    script.resumeOffset = 0;
    script.scriptState = ScriptState::Unloaded;
}

void releaseScriptPosition() {
    releaseCommands();
    platformCloseFile(engineState.script.scriptFile);
    engineState.script = ScriptPosition{};
}
