// The play state of the whole run and the script engine's operations over it.
#pragma once

#include "format/story_format.h"
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

// What a built canvas shows, so that an unchanged frame need not be built again.
struct CanvasKey {
    bool valid;
    uint32_t sceneGeneration;
    uint32_t dialogueGeneration;
    bool indicatorShown;
    unsigned char indicatorGlyph;
    // The dialogue's page and length: on the same page, a longer dialogue only grew.
    uint32_t dialoguePage;
    uint32_t dialogueLength;
};

// The one record is made of sub-records by owner and lifetime. Each owner has the start,
// reset and release functions its record needs; nobody else frees their fields.

// The script's bytes around the reading place, so that reading block after block costs
// a file read per window, not one per block. It serves one file; zeroed, it holds nothing.
constexpr uint32_t kScriptWindowSize = 64 * 1024;
struct ScriptWindow {
    PlatformFile* file;
    uint32_t fileSize;
    uint32_t start; // file offset of bytes[0]
    uint32_t length;
    uint32_t nextRead; // grows from a little to the whole window
    char bytes[kScriptWindowSize];
};

// Where the play stands in the script. The file stays open for the whole run.
// Owner: the block reader (engine/command_list.cpp).
struct ScriptPosition {
    PlatformFile* scriptFile;
    CommandList commands;
    int32_t commandPointer;
    int32_t nextBlockNumber; // the block loadNextBlock reads next: the current one + 1
    int32_t resumeOffset;
    ScriptState scriptState;
    ScriptWindow window; // the reader's, over scriptFile
};

// What the commands executed so far have made. Owner: the interpreter
// (engine/command_effects.cpp).
struct CommandEffects {
    DialogueBuffer dialogue;
    bool awaitingKey;
    bool timedWait;
    uint32_t waitDeadline;
    PlatformBitmap* sceneImage; // selected into the scene surface while shown
    // Bumped whenever the scene or the dialogue changes.
    uint32_t sceneGeneration;
    uint32_t dialogueGeneration;
    uint32_t dialoguePage; // moves on with every page turn
    // stutter random generator
    uint32_t randomSeed;
};

// Where the last glyph ended and how the advance indicator blinks.
// Owner: render (render/font_text.cpp).
struct TextPen {
    int32_t textCursorX;
    int32_t textCursorY;
    int32_t indicatorFrame;
    uint32_t indicatorSwitchTick;
};

// Owner: the window procedure (app/).
struct InputState {
    // Space pressed and not yet used
    bool advanceRequested;
};

// The window, the drawing targets and sources, and what the last frame built.
// Owner: render (render/presentation.cpp); made at start-up, kept for the whole run, but
// for the canvas and the back buffer, which the frame makes for each client size: at 1:1
// in the window's own pixels where the window lends them, and without a back buffer.
struct Presentation {
    PlatformWindow* window;
    PlatformSurface* screen;
    PlatformSurface* sceneSurface;
    PlatformBitmap* sceneSurfaceFirstBitmap; // selected back when a scene image is released
    PlatformSurface* fontSurface;
    PlatformBitmap* fontBitmap;
    PlatformSurface* tileSurface;
    PlatformBitmap* tileBitmap;
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
    // Scaled, the window pixels of the marker's cell as each of its frames showed them over
    // the canvas `markerFramesCanvas`, in slots side by side (a bit of markerFramesKept per
    // slot): a marker change copies them back instead of stretching again.
    PlatformSurface* markerFrames;
    PlatformBitmap* markerFramesBitmap;
    CanvasKey markerFramesCanvas;
    uint32_t markerFramesKept;
};

struct EngineState {
    ScriptPosition script;
    CommandEffects effects;
    TextPen pen;
    InputState input;
    Presentation presentation;
};

// The one process-wide record.
extern EngineState engineState;

// Back to the start values (all zero / none); frees nothing. For start-up and tests.
void resetEngineState();

// ---- sub-record lifetimes ----------------------------------------------------

// Opens the script, at its start. False when it cannot be opened.
bool startScriptPosition(const char* path);
// Back to block 0 of the same file; the current commands are freed.
void resetScriptPosition();
// Frees the commands and closes the file.
void releaseScriptPosition();

// An empty dialogue of the start capacity, no wait, no scene, the stutter seed.
// False when the dialogue cannot be had.
bool startCommandEffects(uint32_t randomSeed);
// The same after a play: the dialogue shrinks back, the scene image goes.
bool resetCommandEffects(uint32_t randomSeed);
// Frees the dialogue and the scene image; the scene surface keeps its first bitmap.
void releaseCommandEffects();

// ---- block reader ----------------------------------------------------------

// Where a block stands in the script file, in byte offsets, for tools that point at it.
struct BlockPlace {
    int32_t number;
    uint32_t open;         // the `{` that began the number
    uint32_t digits;       // digits in the number
    uint32_t contentStart; // the byte that ended the number: the first content byte
    uint32_t contentEnd;   // the closing `}`, or where reading ended
    bool closed;
};

// Content of block `wanted`, searched from *resumeOffset; none when not found.
// Advances *resumeOffset past the block's closing brace. With `place`, also says
// where the block stands; without it, reading costs nothing more.
char* readBlock(int32_t wanted, PlatformFile* file, int32_t* resumeOffset,
                BlockPlace* place = nullptr);
// The same, keeping what it read of the file in *window for the next call.
char* readBlockThrough(ScriptWindow* window, int32_t wanted, PlatformFile* file,
                       int32_t* resumeOffset, BlockPlace* place = nullptr);
// The block that the next completed number opens, whatever its number: the blocks as
// the file is written, read one after another.
char* readNextBlock(ScriptWindow* window, PlatformFile* file, int32_t* resumeOffset,
                    BlockPlace* place);

// Where the items of an extractItems list stand in its text.
struct ItemPlaces {
    uint32_t* starts;  // one per item: the offset just after its `[`; the caller frees it
    uint32_t unclosed; // a `[` that no `]` follows, or UINT32_MAX
};
// Items between `open` and `close`; none when memory cannot be had. With `places`,
// also says where each item stands.
CommandList extractItems(const char* text, char open, char close, ItemPlaces* places = nullptr);
void freeCommandList(CommandList list);
void releaseCommands();
bool loadNextBlock();
// The block whose commands are playing: the one loadNextBlock read last.
int32_t currentBlockNumber();

// ---- interpreter and dialogue ------------------------------------------------

// What a command does, by the keyword its name holds.
enum class CommandKind : int32_t { None = 0, Say, Cg, Wait, Play, Stutter, Turn };
// The order the keywords are tried in: a name acts as the first one it holds, so *essay*
// acts as `say`, *display* as `play` and *saycg* as `say`.
constexpr CommandKind kCommandKindOrder[] = {CommandKind::Say,     CommandKind::Cg,
                                             CommandKind::Wait,    CommandKind::Play,
                                             CommandKind::Stutter, CommandKind::Turn};
// Found anywhere inside the name, case-sensitive; None when it holds no keyword.
CommandKind commandKindOf(const char* name);
// "say", "cg", ...; none for None.
const char* commandKeyword(CommandKind kind);

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
