// Runs the play ahead of the reader with the main loop's own steps and a clock of its own.
#include "app/play_from.h"

#include "render/render.h"

#include <cstring>

namespace {

// Space is pressed at the first frame of a key wait, the iteration after the one that began
// it, and used in the iteration after that.
constexpr uint32_t kSpaceAfterIterations = 2;

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

// A timed wait passes in whole iterations: the first one at or after its deadline runs on.
uint32_t pastTimedWait(uint32_t now) {
    if (!engineState.effects.timedWait) {
        return now;
    }
    auto left = static_cast<int32_t>(engineState.effects.waitDeadline - now);
    if (left <= 0) {
        return now;
    }
    uint32_t iterations = (static_cast<uint32_t>(left) + kFramePause - 1) / kFramePause;
    return now + iterations * kFramePause;
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
    uint32_t spaceIn = 0;
    for (;;) {
        // The messages: the reader's Space.
        if (spaceIn != 0 && --spaceIn == 0) {
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
        advancePlay(now);
        if (keyWaitBegan(&waits)) {
            spaceIn = kSpaceAfterIterations;
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
        now = pastTimedWait(now + kFramePause);
    }
}

bool catchUp() {
    stopRunningAhead();
    stepScriptAt(platformTickCount());
    bool goesOn = engineState.script.scriptState == ScriptState::Running || loadNextBlock();
    platformSleep(kFramePause);
    return goesOn;
}
