// The dialogue text shown on screen: lines are appended, a page turn empties it.
#include "engine/engine.h"

#include <cstring>

bool initDialogue() {
    engineState.effects.dialogue.text =
        static_cast<char*>(platformAllocate(kDialogueStartCapacity, true));
    if (engineState.effects.dialogue.text == nullptr) {
        return false;
    }
    engineState.effects.dialogue.length = 0;
    engineState.effects.dialogue.capacity = kDialogueStartCapacity;
    return true;
}

bool appendDialogueLine(const char* text) {
    DialogueBuffer& dialogue = engineState.effects.dialogue;
    uint64_t n = strlen(text);
    uint64_t needed = n + dialogue.length + 2; // the line break and the NUL
    if (needed >= dialogue.capacity) {
        uint64_t capacity =
            static_cast<uint64_t>(dialogue.capacity == 0 ? 1 : dialogue.capacity) * 2;
        while (needed >= capacity) {
            capacity *= 2;
        }
        // The length and capacity are 32-bit: a larger dialogue cannot be held.
        if (capacity > UINT32_MAX) {
            return false;
        }
        char* grown = static_cast<char*>(platformResize(dialogue.text, capacity, true));
        if (grown == nullptr) {
            return false;
        }
        dialogue.text = grown;
        dialogue.capacity = static_cast<uint32_t>(capacity);
    }
    memcpy(dialogue.text + dialogue.length, text, n);
    dialogue.length += static_cast<uint32_t>(n);
    dialogue.text[dialogue.length++] = '\n';
    dialogue.text[dialogue.length] = '\0';
    ++engineState.effects.dialogueGeneration;
    return true;
}

void clearDialogue() {
    memset(engineState.effects.dialogue.text, 0, engineState.effects.dialogue.capacity);
    engineState.effects.dialogue.length = 0;
    ++engineState.effects.dialogueGeneration;
    ++engineState.effects.dialoguePage;
}
