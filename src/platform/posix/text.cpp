// Text helpers with the desktop's semantics: a missing text counts as empty.
#include "platform/platform.h"

#include <cstring>

uint32_t platformTextLength(const char* text) {
    return text == nullptr ? 0 : static_cast<uint32_t>(strlen(text));
}

char* platformTextCopy(char* target, const char* source) {
    if (target == nullptr || source == nullptr) {
        return nullptr;
    }
    return strcpy(target, source);
}

bool platformTextEqual(const char* first, const char* second) {
    return strcmp(first == nullptr ? "" : first, second == nullptr ? "" : second) == 0;
}
