// Text helpers over the kernel's string functions. A missing text counts as
// empty, as in the other backends.
#include "platform/win32/win32.h"

uint32_t platformTextLength(const char* text) {
    return text == nullptr ? 0 : static_cast<uint32_t>(lstrlenA(text));
}

char* platformTextCopy(char* target, const char* source) {
    if (target == nullptr || source == nullptr) {
        return nullptr;
    }
    return lstrcpyA(target, source);
}

bool platformTextEqual(const char* first, const char* second) {
    return lstrcmpA(first == nullptr ? "" : first, second == nullptr ? "" : second) == 0;
}
