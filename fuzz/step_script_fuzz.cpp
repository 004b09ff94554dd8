// A block's commands cut and executed one by one on the headless backend, as the
// main loop does, then the dialogue drawn in the font. A fatal report (a scene that
// will not load, a dialogue that cannot grow) ends the input instead of the process.
//
// Input: the content of one block. Scene files offered in the working folder:
// scene.bmp (64 x 36), font.bmp and transparency.bmp.
#include "app/app.h"
#include "engine/play_cursor.h"
#include "fuzz_files.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "support/fatal_leaks.h"
#include "support/test_files.h"

#include <csetjmp>
#include <cstring>
#include <string>

namespace {

std::jmp_buf fatalJump;
bool started = false;

// The memory layer keeps a 16-byte header before each block it hands out.
const void* heapBlockOf(const void* block) {
    return block == nullptr ? nullptr : static_cast<const char*>(block) - 16;
}

[[noreturn]] void onExit(int32_t, const char*, const char*) {
    std::longjmp(fatalJump, 1);
}

void startPlayer() {
    std::string folder = fuzzFolder();
    writeFile(folder + "/script.bexu", std::string("{0[say~x]}"));
    writeFile(folder + "/font.bmp", encodeBmp24(testFontSheet()));
    writeFile(folder + "/transparency.bmp", encodeBmp24(testTile()));
    writeFile(folder + "/scene.bmp", encodeBmp24(solidImage(64, 36, 0x336699)));
    if (chdir(folder.c_str()) != 0) {
        abort();
    }
    headlessReset(100000);
    headlessSetExitHandler(onExit);
    if (setjmp(fatalJump) != 0) {
        fprintf(stderr, "the player did not start\n");
        abort();
    }
    startUp();
    composeFrame(); // makes the canvas the harness draws on
    started = true;
}

// Back to a fresh play: no commands, an empty dialogue, no scene image.
void startPlay() {
    rewindCursor(&engineState.script);
    releaseCommandEffects();
    if (!startCommandEffects(12345)) {
        abort();
    }
    releaseInput();
    releaseTextPen();
}

// Scene names stay inside the working folder: no path separators.
void keepScenesLocal(CommandList commands) {
    for (char** item = commands; *item != nullptr; ++item) {
        char* tilde = strchr(*item, '~');
        if (tilde == nullptr) {
            continue;
        }
        *tilde = '\0';
        bool scene = strstr(*item, "cg") != nullptr;
        *tilde = '~';
        for (char* c = tilde; scene && *c != '\0'; ++c) {
            if (*c == '/') {
                *c = '_';
            }
        }
    }
}

void checkDialogue() {
    const DialogueBuffer& dialogue = engineState.effects.dialogue;
    if (dialogue.length + 1 > dialogue.capacity || strlen(dialogue.text) > dialogue.length) {
        fprintf(stderr, "dialogue length %u capacity %u\n", dialogue.length, dialogue.capacity);
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!started) {
        startPlayer();
    }
    startPlay();
    std::string block(reinterpret_cast<const char*>(data), size);
    engineState.script.commands = extractItems(block.c_str(), '[', ']');
    if (engineState.script.commands == nullptr) {
        abort();
    }
    keepScenesLocal(engineState.script.commands);
    engineState.script.commandPointer = 0;
    engineState.script.scriptState = ScriptState::Running;

    if (setjmp(fatalJump) == 0) {
        // At most one command per call; a held command (empty argument) stops the play.
        for (int step = 0; step < 4096 && engineState.script.scriptState == ScriptState::Running;
             ++step) {
            int32_t before = engineState.script.commandPointer;
            // What a fatal exit leaves in hand is freed, as the ended process would drop it.
            fatalLeaksWatch(true);
            stepScript();
            fatalLeaksWatch(false);
            checkDialogue();
            if (engineState.script.commandPointer == before) {
                break;
            }
            engineState.effects.awaitingKey = false;
            engineState.effects.timedWait = false;
        }
    } else {
        fatalLeaksFree(heapBlockOf(engineState.effects.dialogue.text));
        fatalLeaksWatch(false);
    }
    drawText(renderState.presentation.frameSurface, renderState.presentation.fontSurface, 0, 0,
             engineState.effects.dialogue.text);
    drawGlyph(renderState.presentation.frameSurface, renderState.presentation.fontSurface,
              renderState.pen.textCursorX, renderState.pen.textCursorY, advanceIndicator());
    return 0;
}
