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
    ++engineState.effects.sceneGeneration;
}

// Ahead of the reader a scene is only noted: decoding every scene on the way would cost
// more than the rest of the run. A file that does not open stops the play here, as it
// would the reader's.
void noteScene(const char* path) {
    PlatformFile* file = platformOpenFile(path);
    if (file == nullptr) {
        platformFatal(kErrorCaption, kSceneFailedMessage, 1);
    }
    platformCloseFile(file);
    size_t length = strlen(path);
    char* noted = static_cast<char*>(platformAllocate(length + 1, false));
    if (noted == nullptr) {
        platformFatal(kErrorCaption, kSceneFailedMessage, 1);
    }
    memcpy(noted, path, length + 1);
    platformFree(engineState.effects.aheadScene);
    engineState.effects.aheadScene = noted;
}

void startWait(const char* argument, uint32_t now) {
    engineState.effects.waitDeadline = now + static_cast<uint32_t>(parseLeadingNumber(argument));
    engineState.effects.timedWait = true;
}

void beginKeyWait() {
    engineState.effects.awaitingKey = true;
    ++engineState.script.lastStep.keyWaits;
}

void sayStuttered(const char* command, const char* argument) {
    uint32_t intensity = stutterIntensity(command);
    if (intensity == 0) {
        appendLineOrDie(argument);
    } else {
        // A line that cannot be made for want of memory is a dialogue that cannot grow.
        char* line = stutterText(argument, intensity, &engineState.effects.randomSeed);
        if (line == nullptr) {
            platformFatal(kErrorCaption, kDialogueFailedMessage, 1);
        }
        appendLineOrDie(line);
        platformFree(line);
    }
    beginKeyWait();
}

void execute(CommandKind kind, const char* command, const char* argument, uint32_t now) {
    switch (kind) {
    case CommandKind::Say:
        appendLineOrDie(argument);
        beginKeyWait();
        break;
    case CommandKind::Cg:
        if (engineState.effects.runningAhead) {
            noteScene(argument);
        } else {
            showScene(argument);
        }
        break;
    case CommandKind::Wait:
        startWait(argument, now);
        break;
    case CommandKind::Play:
        if (!engineState.effects.runningAhead) {
            platformPlaySound(argument);
        }
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

// Notes the command executed, for whoever follows the play.
void recordStep(CommandKind kind) {
    StepRecord& step = engineState.script.lastStep;
    ++step.executed;
    step.kind = kind;
    step.block = currentBlockNumber();
    step.index = engineState.script.commandPointer;
}

} // namespace

void releaseSceneImage() {
    // The frame selects the image only while it copies from it: it is never selected here.
    platformDeleteBitmap(engineState.effects.sceneImage);
    engineState.effects.sceneImage = nullptr;
}

void startRunningAhead() {
    engineState.effects.runningAhead = true;
}

void stopRunningAhead() {
    engineState.effects.runningAhead = false;
    // Kept in the record until shown, so a scene that does not load is freed with it.
    if (engineState.effects.aheadScene != nullptr) {
        showScene(engineState.effects.aheadScene);
        platformFree(engineState.effects.aheadScene);
        engineState.effects.aheadScene = nullptr;
    }
}

bool keyWaitBegan(KeyWaitWatch* watch) {
    uint32_t begun = engineState.script.lastStep.keyWaits;
    bool began = begun != watch->seen && engineState.effects.awaitingKey;
    watch->seen = begun;
    return began;
}

void stepScript() {
    stepScriptAt(platformTickCount());
}

void stepScriptAt(uint32_t now) {
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
    engineState.script.lastStep.held = argument[0] == '\0';
    if (argument[0] != '\0') {
        CommandKind kind = commandKindOf(name);
        recordStep(kind);
        execute(kind, command, argument, now);
        ++engineState.script.commandPointer;
    }
    platformFree(name);
    platformFree(argument);
}
