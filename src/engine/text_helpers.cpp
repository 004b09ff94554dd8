// Small text tests the interpreter is built from.
#include "engine/engine.h"

#include <cstring>

bool isDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

bool containsText(const char* haystack, const char* needle) {
    if (haystack == nullptr || needle == nullptr || haystack[0] == '\0') {
        return false;
    }
    return strstr(haystack, needle) != nullptr;
}

int32_t parseLeadingNumber(const char* text) {
    uint32_t value = 0;
    for (; isDecimalDigit(*text); ++text) {
        value = value * 10u + static_cast<uint32_t>(*text - '0');
    }
    return static_cast<int32_t>(value);
}
