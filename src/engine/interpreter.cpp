// Executes the commands of the current block, one per call.
#include "engine/engine.h"

#include <cstring>

namespace {

void appendLineOrDie(const char* line) {
    if (!appendDialogueLine(line)) {
        platformFatal(kErrorCaption, kDialogueFailedMessage, 1);
    }
}

void showScene(const char* path) {
    releaseSceneImage();
    PlatformBitmap* image = platformLoadBitmap(path);
    if (image == nullptr) {
        platformFatal(kErrorCaption, kSceneFailedMessage, 1);
    }
    engineState.effects.sceneImage = image;
    platformSelectBitmap(engineState.presentation.sceneSurface, image);
    ++engineState.effects.sceneGeneration;
}

void startWait(const char* argument) {
    engineState.effects.waitDeadline =
        platformTickCount() + static_cast<uint32_t>(parseLeadingNumber(argument));
    engineState.effects.timedWait = true;
}

void sayStuttered(const char* command, const char* argument) {
    uint32_t intensity = stutterIntensity(command);
    if (intensity == 0) {
        appendLineOrDie(argument);
    } else {
        // A line that cannot be made for want of memory is a dialogue that cannot grow.
        char* line = stutterText(argument, intensity);
        if (line == nullptr) {
            platformFatal(kErrorCaption, kDialogueFailedMessage, 1);
        }
        appendLineOrDie(line);
        platformFree(line);
    }
    engineState.effects.awaitingKey = true;
}

void execute(const char* command, const char* name, const char* argument) {
    switch (commandKindOf(name)) {
    case CommandKind::Say:
        appendLineOrDie(argument);
        engineState.effects.awaitingKey = true;
        break;
    case CommandKind::Cg:
        showScene(argument);
        break;
    case CommandKind::Wait:
        startWait(argument);
        break;
    case CommandKind::Play:
        platformPlaySound(argument);
        break;
    case CommandKind::Stutter:
        sayStuttered(command, argument);
        break;
    case CommandKind::Turn:
        // Byte for byte: the desktop's own comparison follows the locale and calls
        // some different texts equal.
        if (strcmp(argument, "page") == 0) {
            clearDialogue();
        }
        break;
    case CommandKind::None:
        break;
    }
}

} // namespace

void releaseSceneImage() {
    if (engineState.effects.sceneImage != nullptr) {
        platformSelectBitmap(engineState.presentation.sceneSurface,
                             engineState.presentation.sceneSurfaceFirstBitmap);
        platformDeleteBitmap(engineState.effects.sceneImage);
        engineState.effects.sceneImage = nullptr;
    }
}

bool keyWaitBegan(KeyWaitWatch* watch) {
    bool awaiting = engineState.effects.awaitingKey && !engineState.effects.timedWait;
    bool moved =
        currentBlockNumber() != watch->block || engineState.script.commandPointer != watch->pointer;
    bool began = awaiting && (!watch->waiting || moved);
    if (began) {
        watch->block = currentBlockNumber();
        watch->pointer = engineState.script.commandPointer;
    }
    watch->waiting = awaiting;
    return began;
}

void stepScript() {
    if (engineState.script.commands == nullptr ||
        engineState.script.scriptState != ScriptState::Running) {
        return;
    }
    const char* command = engineState.script.commands[engineState.script.commandPointer];
    if (command == nullptr) {
        engineState.script.scriptState = ScriptState::Finished;
        return;
    }
    size_t length = strlen(command);
    char* name = static_cast<char*>(platformAllocate(length + 1, true));
    char* argument = static_cast<char*>(platformAllocate(length + 1, true));
    if (name == nullptr || argument == nullptr) {
        platformFree(name);
        platformFree(argument);
        return;
    }
    const char* tilde = strchr(command, '~');
    if (tilde == nullptr) {
        memcpy(name, command, length);
    } else {
        memcpy(name, command, static_cast<size_t>(tilde - command));
        strcpy(argument, tilde + 1);
    }
    // An empty argument holds the play at this command for good.
    if (argument[0] != '\0') {
        execute(command, name, argument);
        ++engineState.script.commandPointer;
    }
    platformFree(name);
    platformFree(argument);
}
