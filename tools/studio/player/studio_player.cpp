// The studio's player: the web player, started where the studio's page asks (the first
// command at or after a line and column of the script, or a page of bexu-shot's sheet),
// telling the page where it started and each key wait it reaches, so that after a change
// the page can play again from the place on screen.
#include "app/app.h"
#include "app/play_from.h"
#include "platform/web/web.h"

#include <emscripten.h>

namespace {

// clang-format off
EM_JS(int, askedStart, (uint32_t* line, uint32_t* column, uint32_t* page), {
    var start = Module.bexuStart;
    if (!start) return 0;
    HEAPU32[line >> 2] = start.line || 0;
    HEAPU32[column >> 2] = start.column || 0;
    HEAPU32[page >> 2] = start.page || 0;
    return 1;
});

EM_JS(void, tellPlace, (const char* what, uint32_t line, uint32_t column, uint32_t page), {
    if (Module.studioPlace) {
        Module.studioPlace({what: UTF8ToString(what), line: line, column: column, page: page});
    }
});
// clang-format on

const char* startName(const PlayStartReport& report) {
    switch (report.end) {
    case PlayStartEnd::Reached:
        return "start";
    case PlayStartEnd::PlayHeld:
        return "held";
    default:
        return "ended";
    }
}

// The key wait just begun, as the page names pages: its command's place and its number.
void tellKeyWait(KeyWaitWatch* waits) {
    if (!keyWaitBegan(waits)) {
        return;
    }
    CommandPlace place;
    if (cursorPlaceOf(&engineState.script, engineState.script.lastStep.index, &place)) {
        tellPlace("wait", place.line, place.column, engineState.script.lastStep.keyWaits);
    }
}

} // namespace

int main() {
    PlayStart start = {};
    if (askedStart(&start.line, &start.column, &start.page) == 0) {
        runPlayer();
    }
    keepPlayPlaces();
    startUp();
    PlayStartReport report;
    bool reached = runAheadTo(start, &report);
    tellPlace(startName(report), report.place.line, report.place.column, report.page + 1);
    int32_t exitCode = 0;
    // A play held for good before the start shows where it holds.
    if (reached || report.end == PlayStartEnd::PlayHeld) {
        webSetTickCount(report.tick);
        KeyWaitWatch waits = {engineState.script.lastStep.keyWaits};
        if (catchUp()) {
            tellKeyWait(&waits);
            while (runLoopIteration(&exitCode)) {
                tellKeyWait(&waits);
            }
        }
    }
    shutDown(exitCode);
}
