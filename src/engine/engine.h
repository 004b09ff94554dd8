// The play state of the whole run and the script engine's operations over it.
#pragma once

#include "engine/line_index.h"
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

// The records are made of sub-records by owner and lifetime. Each owner has the start and
// release functions its record needs; a released record is back at its start values, all
// zero; nobody else frees or writes its fields.

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

// Where a block stands in the script file, in byte offsets, for tools that point at it.
struct BlockPlace {
    int32_t number;
    uint32_t open;         // the `{` that began the number
    uint32_t digits;       // digits in the number
    uint32_t contentStart; // the byte that ended the number: the first content byte
    uint32_t contentEnd;   // the closing `}`, or where reading ended
    bool closed;
};

// Where the items of an extractItems list stand in its text.
struct ItemPlaces {
    uint32_t* starts;  // one per item: the offset just after its `[`; the caller frees it
    uint32_t unclosed; // a `[` that no `]` follows, or UINT32_MAX
};

// What a command does, by the keyword its name holds.
enum class CommandKind : int32_t { None = 0, Say, Cg, Wait, Play, Stutter, Turn };
// The order the keywords are tried in: a name acts as the first one it holds, so *essay*
// acts as `say`, *display* as `play` and *saycg* as `say`.
constexpr CommandKind kCommandKindOrder[] = {CommandKind::Say,     CommandKind::Cg,
                                             CommandKind::Wait,    CommandKind::Play,
                                             CommandKind::Stutter, CommandKind::Turn};

// Where the current block and its commands stand, kept by a cursor that is asked to.
struct CursorPlaces {
    BlockPlace block;
    ItemPlaces items;    // offsets in the block's content
    uint32_t textLength; // content bytes cut into commands: a zero byte ends them
    uint64_t scanned;    // bytes the block searches have read since the cursor opened
    LineIndex lines;     // made at the first place asked
};

// What stepScript did last, so that watchers need not guess it from the state.
struct StepRecord {
    uint32_t executed; // commands executed since the play began
    uint32_t keyWaits; // key waits begun (say and stutter)
    CommandKind kind;  // of the last command executed
    int32_t block;     // and where it stood
    int32_t index;
    bool held; // the command at the pointer has no argument: the play holds there for good
};

// Where the play stands in the script: the play cursor. The player's own position is
// one (engineState.script, its file open for the whole run); tools open their own to walk
// a script in play order. Owner: the block reader and the interpreter (engine/).
struct ScriptPosition {
    PlatformFile* scriptFile;
    CommandList commands;
    int32_t commandPointer;
    int32_t nextBlockNumber; // the block loadNextBlock reads next: the current one + 1
    int32_t resumeOffset;
    ScriptState scriptState;
    ScriptWindow window; // the reader's, over scriptFile
    bool keepPlaces;     // tools: where blocks and commands stand
    CursorPlaces places;
    bool walkReported; // a walk has reported the command at the pointer
    StepRecord lastStep;
};

// What the commands executed so far have made. Owner: the interpreter
// (engine/command_effects.cpp).
struct CommandEffects {
    DialogueBuffer dialogue;
    bool awaitingKey;
    bool timedWait;
    uint32_t waitDeadline;
    PlatformBitmap* sceneImage; // the scene shown; none shows black
    // Bumped whenever the scene or the dialogue changes.
    uint32_t sceneGeneration;
    uint32_t dialogueGeneration;
    uint32_t dialoguePage; // moves on with every page turn
    // the stutter's random generator
    uint32_t randomSeed;
    // Commands run ahead of the reader (play from a position): no sound, and a scene is
    // only noted, to be loaded when the play catches up.
    bool runningAhead;
    char* aheadScene;
};

// Space from the reader. Owner: the engine; the window procedure asks it to note a
// press (requestAdvance), the play uses or drops it.
struct InputState {
    // Space pressed and not yet used
    bool advanceRequested;
};

// The engine's part of the run's state: where the play stands, what it made, and the
// reader's Space. Render and app keep records of their own (render.h, app.h).
struct EngineState {
    ScriptPosition script;
    CommandEffects effects;
    InputState input;
};

extern EngineState engineState;

// ---- record lifetimes ------------------------------------------------------

// Opens the script, at its start. False when it cannot be opened.
bool startScriptPosition(const char* path);
// Tools that run the player: the play's position keeps where blocks and commands stand
// (play_cursor.h), from the next startScriptPosition until its release.
void keepPlayPlaces();
// Frees the commands and the places and closes the file.
void releaseScriptPosition();

// An empty dialogue of the start capacity, no wait, no scene, the stutter seed.
// False when the dialogue cannot be had.
bool startCommandEffects(uint32_t randomSeed);
// Frees the dialogue and the scene image.
void releaseCommandEffects();

// Drops a Space not yet used. Input holds nothing to free.
void releaseInput();

// ---- block reader ----------------------------------------------------------

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

// Items between `open` and `close`; none when memory cannot be had. With `places`,
// also says where each item stands.
CommandList extractItems(const char* text, char open, char close, ItemPlaces* places = nullptr);
void freeCommandList(CommandList list);
// Frees the current block's commands and their places.
void releaseCommands();
// The next block of the play in place of the current one; false at the end of the play.
// Drops a Space not yet used (loadNextBlockOf on the play's own position).
bool loadNextBlock();
// The block whose commands are playing: the one loadNextBlock read last.
int32_t currentBlockNumber();

// ---- interpreter and dialogue ------------------------------------------------

// Found anywhere inside the name, case-sensitive; None when it holds no keyword.
CommandKind commandKindOf(const char* name);
// The kind of a whole command, by its name: the text before its first `~`.
CommandKind commandKindOfCommand(const char* command);
// The argument of a command: all after its first `~`, empty without one. A command with an
// empty argument holds the play for good.
const char* commandArgument(const char* command);
// "say", "cg", ...; none for None.
const char* commandKeyword(CommandKind kind);

// Executes the next command of the play, if any, at the tick `now` (timed waits count
// from it); stepScript() does so at the clock's tick.
void stepScriptAt(uint32_t now);
void stepScript();
// Destroys the scene image: the scene shows black until the next.
void releaseSceneImage();

// Runs the commands that follow ahead of the reader: `play` starts no sound, and `cg` only
// checks that its file opens and notes it (the player's message when it does not).
void startRunningAhead();
// Back to the reader's pace: the last scene noted is loaded and shown, as its `cg` would
// have shown it (the player's message when it does not load).
void stopRunningAhead();

// ---- the play's step, as the main loop takes it ------------------------------------

// The reader pressed Space.
void requestAdvance();
// Whether the script may advance at the tick `now`: the waits and the reader's Space decide.
bool playMayStep(uint32_t now);
// The same, and a wait that lets it go is over; Space during a timed wait is dropped.
bool passPlayGate(uint32_t now);
// Lets the script advance by at most one command at the tick `now` (passPlayGate, then
// stepScriptAt).
void advancePlay(uint32_t now);

// Follows the play from outside, once per loop iteration, to tell when a key wait begins:
// each say or stutter executed begins one, also when a Space ends one wait and the next
// begins in the same iteration.
struct KeyWaitWatch {
    uint32_t seen; // key waits begun by the last call
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

// The stammered line; its random bytes come from the generator whose state is *seed.
// None when memory cannot be had.
char* stutterText(const char* text, uint32_t intensity, uint32_t* seed);
uint8_t nextRandomByte(uint32_t* seed);
bool splitOn(const char* text, char delimiter, TextPieces* out);
void freePieces(TextPieces* pieces);
// The intensity written in a stutter command's name: first run of digits before `~`.
uint32_t stutterIntensity(const char* command);
