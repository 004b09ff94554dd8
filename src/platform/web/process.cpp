// The fatal report as a box in the page, and the end of the play. The exit code is
// written on the page's root element (data-bexu-exit) where a host page or a test
// can read it; the end of the story shows a quiet "The end".
#include "platform/platform.h"

#include <emscripten.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint32_t kBoxPoll = 50;

// clang-format off
EM_JS(void, showBox, (const char* caption, const char* text), {
    function textOf(at) {
        var end = at;
        while (HEAPU8[end] != 0) ++end;
        return new TextDecoder("windows-1252").decode(HEAPU8.subarray(at, end));
    }
    var box = document.getElementById("bexu-box");
    document.getElementById("bexu-box-caption").textContent = textOf(caption);
    document.getElementById("bexu-box-text").textContent = textOf(text);
    var ok = document.getElementById("bexu-box-ok");
    Module.bexuBoxDismissed = false;
    ok.onclick = function() { box.hidden = true; Module.bexuBoxDismissed = true; };
    // Space and Return press OK, before the player's own key handler can take them.
    ok.onkeydown = function(event) {
        if (event.key == " " || event.key == "Enter") {
            event.preventDefault();
            event.stopPropagation();
            ok.click();
        }
    };
    box.hidden = false;
    ok.focus();
});

EM_JS(int, boxDismissed, (), {
    return Module.bexuBoxDismissed ? 1 : 0;
});

EM_JS(void, markEnd, (int32_t exitCode), {
    if (Module.bexuStopSound) Module.bexuStopSound();
    if (exitCode == 0) document.getElementById("bexu-end").hidden = false;
    document.documentElement.setAttribute("data-bexu-exit", String(exitCode));
});
// clang-format on

[[noreturn]] void endProcess(int32_t exitCode) {
    markEnd(exitCode);
    exit(exitCode);
}

} // namespace

void platformFatal(const char* caption, const char* text, int32_t exitCode) {
    // The console too, so the reason is told where the page cannot be seen.
    fprintf(stderr, "%s: %s\n", caption, text);
    fflush(stderr);
    // Modal as a message box: the play stands still until OK is pressed.
    showBox(caption, text);
    while (boxDismissed() == 0) {
        emscripten_sleep(kBoxPoll);
    }
    endProcess(exitCode);
}

void platformExitProcess(int32_t exitCode) {
    endProcess(exitCode);
}
