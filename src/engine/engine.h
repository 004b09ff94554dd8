// The play state of the whole run and the script engine's operations over it.
#pragma once

#include "platform/platform.h"

#include <cstdint>

enum class ScriptState : int32_t { Unloaded = 0, Running = 1, Finished = 2 };

// Null-terminated array of NUL-terminated command strings.
using CommandList = char**;

struct DialogueBuffer {
    char* text;
    uint32_t length;
    uint32_t capacity;
};

constexpr uint32_t kDialogueStartCapacity = 512;
constexpr int32_t kCanvasWidth = 1600;
constexpr int32_t kCanvasHeight = 900;

// What a built canvas shows, so that an unchanged frame need not be built again.
struct CanvasKey {
    bool valid;
    uint32_t sceneGeneration;
    uint32_t dialogueGeneration;
    bool indicatorShown;
    unsigned char indicatorGlyph;
};

struct EngineState {
    // script position
    PlatformFile* scriptFile;
    CommandList commands;
    int32_t commandPointer;
    int32_t nextBlockNumber;
    int32_t resumeOffset;
    ScriptState scriptState;

    // effects of commands
    DialogueBuffer dialogue;
    bool awaitingKey;
    bool timedWait;
    uint32_t waitDeadline;
    PlatformBitmap* sceneImage;
    // Bumped whenever the scene or the dialogue changes.
    uint32_t sceneGeneration;
    uint32_t dialogueGeneration;

    // stutter random generator
    uint32_t randomSeed;

    // text pen and indicator
    int32_t textCursorX;
    int32_t textCursorY;
    int32_t indicatorFrame;
    uint32_t indicatorSwitchTick;

    // Space pressed and not yet used
    bool advanceRequested;

    // window and drawing targets
    PlatformWindow* window;
    PlatformSurface* screen;
    PlatformSurface* sceneSurface;
    PlatformBitmap* sceneSurfaceFirstBitmap; // selected back when a scene image is released
    PlatformSurface* fontSurface;
    PlatformSurface* tileSurface;
    // The canvas and the back buffer are made for each client size by the frame: at 1:1 in
    // the window's own pixels where it lends them, without a back buffer.
    PlatformSurface* frameSurface;
    PlatformBitmap* frameBitmap;    // the canvas's own bitmap, when it has one
    PlatformSurface* windowSurface; // none at 1:1
    PlatformBitmap* windowBitmap;   // the back buffer's own bitmap, when it has one
    PlatformBitmap* windowPixels;   // the window's pixels as lent at the last frame
    int32_t lastWidth;
    int32_t lastHeight;
    CanvasKey builtCanvas;
    // The window lost what it showed (a paint came): the next frame shows it all again.
    bool windowNeedsPaint;
};

// The one process-wide record.
extern EngineState engineState;

// Back to the start values (all zero / none); frees nothing. For start-up and tests.
void resetEngineState();

// ---- block reader ----------------------------------------------------------

// Content of block `wanted`, searched from *resumeOffset; none when not found.
// Advances *resumeOffset past the block's closing brace.
char* readBlock(int32_t wanted, PlatformFile* file, int32_t* resumeOffset);
// Items between `open` and `close`; none when memory cannot be had.
CommandList extractItems(const char* text, char open, char close);
void freeCommandList(CommandList list);
void releaseCommands();
bool loadNextBlock();

// ---- interpreter and dialogue ------------------------------------------------

void stepScript();
// Takes the scene image out of its surface and destroys it; the surface keeps its first bitmap.
void releaseSceneImage();

// Follows the play from outside, once per loop iteration, to tell when a key wait begins.
// A wait is new when the script stands somewhere else than at the last one: a Space that
// ends one wait and starts the next in the same iteration leaves the flag set throughout.
struct KeyWaitWatch {
    bool waiting;
    int32_t block; // where the last wait stood: -1 before the first
    int32_t pointer;
};
bool keyWaitBegan(KeyWaitWatch* watch);
bool initDialogue();
bool appendDialogueLine(const char* text);
void clearDialogue();
bool containsText(const char* haystack, const char* needle);
int32_t parseLeadingNumber(const char* text);
bool isDecimalDigit(char c);

// ---- stutter ---------------------------------------------------------------

struct TextPieces {
    char** pieces;
    uint32_t count;
    uint32_t capacity;
};

// None when memory cannot be had.
char* stutterText(const char* text, uint32_t intensity);
uint8_t nextRandomByte();
bool splitOn(const char* text, char delimiter, TextPieces* out);
void freePieces(TextPieces* pieces);
// The intensity written in a stutter command's name: first run of digits before `~`.
uint32_t stutterIntensity(const char* command);
