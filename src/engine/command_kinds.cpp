// Which command a name stands for: the first keyword, in the fixed order, found inside it.
#include "engine/engine.h"

#include <cstring>

const char* commandKeyword(CommandKind kind) {
    switch (kind) {
    case CommandKind::Say:
        return "say";
    case CommandKind::Cg:
        return "cg";
    case CommandKind::Wait:
        return "wait";
    case CommandKind::Play:
        return "play";
    case CommandKind::Stutter:
        return "stutter";
    case CommandKind::Turn:
        return "turn";
    case CommandKind::None:
        break;
    }
    return nullptr;
}

CommandKind commandKindOf(const char* name) {
    for (CommandKind kind : kCommandKindOrder) {
        if (containsText(name, commandKeyword(kind))) {
            return kind;
        }
    }
    return CommandKind::None;
}

const char* commandArgument(const char* command) {
    const char* tilde = strchr(command, '~');
    return tilde == nullptr ? "" : tilde + 1;
}

namespace {

// The keyword inside the first `length` bytes of `text`.
bool holdsKeyword(const char* text, size_t length, const char* keyword) {
    size_t keywordLength = strlen(keyword);
    for (size_t at = 0; at + keywordLength <= length; ++at) {
        if (memcmp(text + at, keyword, keywordLength) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

CommandKind commandKindOfCommand(const char* command) {
    size_t nameLength = strcspn(command, "~");
    for (CommandKind kind : kCommandKindOrder) {
        if (holdsKeyword(command, nameLength, commandKeyword(kind))) {
            return kind;
        }
    }
    return CommandKind::None;
}
