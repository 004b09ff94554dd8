// Lists the files a script names, with their places, from a walk of the play cursor.
#include "check/story_files.h"

#include "engine/play_cursor.h"

#include <cstring>

bool fileUseOf(const char* command, uint32_t start, FileUse* use, uint32_t* nameAt) {
    const char* tilde = strchr(command, '~');
    if (tilde == nullptr || tilde[1] == '\0') {
        return false;
    }
    CommandKind kind = commandKindOfCommand(command);
    if (kind != CommandKind::Cg && kind != CommandKind::Play) {
        return false;
    }
    *use = FileUse{tilde + 1, kind == CommandKind::Cg, 0, 0};
    *nameAt = start + static_cast<uint32_t>(tilde - command) + 1;
    return true;
}

FileUses listFileUses(const std::string& folder) {
    FileUses result = {};
    // Large: the cursor holds a window of the script.
    auto* cursor = new ScriptPosition{};
    result.readable = openCursor(cursor, (folder + "/" + kScriptFileName).c_str(), true);
    WalkStep step = result.readable ? walkCursor(cursor, kWalkBudget) : WalkStep::End;
    for (; step != WalkStep::End; step = walkCursor(cursor, kWalkBudget)) {
        CommandPlace place;
        if (step != WalkStep::Command || !cursorPlace(cursor, &place)) {
            continue;
        }
        const char* command = cursor->commands[cursor->commandPointer];
        if (commandArgument(command)[0] == '\0') {
            break; // the play holds here for good
        }
        FileUse use;
        uint32_t nameAt = 0;
        if (fileUseOf(command, place.offset + 1, &use, &nameAt) &&
            cursorLineAndColumn(cursor, nameAt, &use.line, &use.column)) {
            result.uses.push_back(use);
        }
    }
    closeCursor(cursor);
    delete cursor;
    return result;
}
