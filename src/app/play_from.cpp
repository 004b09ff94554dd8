// Runs the play ahead of the reader with the main loop's own steps and a clock of its own.
#include "app/play_from.h"

#include "app/app.h"
#include "render/render.h"

#include <cstring>

namespace {

// Space is pressed at the first frame of a key wait, a frame's pause after the iteration that
// began it, and reaches the loop a frame's pause later.
constexpr uint32_t kSpaceAfterPauses = 2;

bool beginsKeyWait(const char* command) {
    CommandKind kind = commandKindOfCommand(command);
    return kind == CommandKind::Say || kind == CommandKind::Stutter;
}

// Whether the command the next step runs is the start.
bool atStart(const PlayStart& start, uint32_t startOffset, CommandPlace* place) {
    ScriptPosition& script = engineState.script;
    if (script.scriptState != ScriptState::Running || script.commands == nullptr ||
        script.commands[script.commandPointer] == nullptr || !cursorPlace(&script, place)) {
        return false;
    }
    if (start.page != 0) {
        const char* command = script.commands[script.commandPointer];
        return commandArgument(command)[0] != '\0' && beginsKeyWait(command) &&
               script.lastStep.keyWaits + 1 == start.page;
    }
    return place->offset >= startOffset;
}

bool reached(uint32_t now, uint32_t tick) {
    return static_cast<int32_t>(now - tick) >= 0;
}

// The next iteration's tick, as the loop pauses: the reader's Space, at `spaceAt` when
// `spacePending`, ends a sleep early, as its message would.
uint32_t nextIteration(uint32_t now, bool commandRan, bool spacePending, uint32_t spaceAt) {
    LoopPause pause = loopPauseAfter(commandRan);
    if (pause.frame) {
        return now + kFramePause;
    }
    uint32_t wake = pause.wakeTick;
    if (spacePending && !reached(spaceAt, wake)) {
        wake = spaceAt;
    }
    return reached(now, wake) ? now : wake;
}

} // namespace

bool runAheadTo(const PlayStart& start, PlayStartReport* report) {
    *report = PlayStartReport{};
    ScriptPosition& script = engineState.script;
    uint32_t startOffset = 0;
    if (start.page == 0 && !cursorOffsetOf(&script, start.line, start.column, &startOffset)) {
        report->end = PlayStartEnd::PlayEnded;
        return false;
    }
    uint32_t now = platformTickCount();
    startRunningAhead();
    KeyWaitWatch waits = {script.lastStep.keyWaits};
    bool spacePending = false;
    uint32_t spaceAt = 0;
    for (;;) {
        // The messages: the reader's Space.
        if (spacePending && reached(now, spaceAt)) {
            spacePending = false;
            requestAdvance();
        }
        // The frame: only the marker's counters move, as drawing the frame moves them.
        if (engineState.effects.awaitingKey) {
            advanceIndicatorAt(now);
        }
        if (playMayStep(now) && atStart(start, startOffset, &report->place)) {
            passPlayGate(now);
            report->end = PlayStartEnd::Reached;
            report->page = script.lastStep.keyWaits;
            report->tick = now;
            return true;
        }
        bool commandRan = advancePlay(now);
        if (keyWaitBegan(&waits)) {
            spacePending = true;
            spaceAt = now + kSpaceAfterPauses * kFramePause;
        }
        if (script.lastStep.held) {
            report->end = PlayStartEnd::PlayHeld;
            cursorPlace(&script, &report->place);
            report->page = script.lastStep.keyWaits;
            report->tick = now;
            return false;
        }
        if (script.scriptState != ScriptState::Running && !loadNextBlock()) {
            report->end = PlayStartEnd::PlayEnded;
            report->page = script.lastStep.keyWaits;
            report->tick = now;
            return false;
        }
        now = nextIteration(now, commandRan, spacePending, spaceAt);
    }
}

bool catchUp() {
    stopRunningAhead();
    stepScriptAt(platformTickCount());
    bool goesOn = engineState.script.scriptState == ScriptState::Running || loadNextBlock();
    platformSleep(kFramePause);
    return goesOn;
}
