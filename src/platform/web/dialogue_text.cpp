// The dialogue as text in an ARIA live region beside the canvas, so a screen reader
// reads the story aloud: one paragraph per new line, emptied on a page turn. Bytes
// the font cannot draw are left out, as they are left out of the picture.
#include "format/story_format.h"
#include "platform/platform.h"

#include <emscripten.h>

namespace {

uint32_t announced = 0; // dialogue bytes already in the region

// clang-format off
EM_JS(void, clearLines, (), {
    document.getElementById("bexu-lines").textContent = "";
});

EM_JS(void, addLines, (const char* text, uint32_t length, int first, int last), {
    var region = document.getElementById("bexu-lines");
    var decoder = new TextDecoder("windows-1252");
    var start = text;
    var end = text + length;
    for (var at = text; at < end; ++at) {
        if (HEAPU8[at] != 10) continue;
        var drawable = HEAPU8.subarray(start, at).filter(function(b) { return b >= first && b <= last; });
        var line = document.createElement("p");
        line.textContent = decoder.decode(drawable);
        region.appendChild(line);
        start = at + 1;
    }
});
// clang-format on

} // namespace

void platformDialogueText(const char* text, uint32_t length) {
    if (length < announced) {
        clearLines();
        announced = 0;
    }
    // Lines end with a line break; a line shows once it is whole.
    uint32_t whole = length;
    while (whole > announced && text[whole - 1] != '\n') {
        --whole;
    }
    if (whole > announced) {
        addLines(text + announced, whole - announced, kFirstGlyphByte, kLastTextByte);
        announced = whole;
    }
}
