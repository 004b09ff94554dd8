#include "common/colour_text.h"

#include <cstdlib>
#include <cstring>

bool parseHexColour(const char* text, uint32_t* colour) {
    if (*text == '#') {
        ++text;
    }
    char* end = nullptr;
    unsigned long value = strtoul(text, &end, 16);
    if (strlen(text) != 6 || end != text + 6) {
        return false;
    }
    *colour = static_cast<uint32_t>(value);
    return true;
}
