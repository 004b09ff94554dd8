// Plays a story on the headless backend, pressing Space at every key wait and
// skipping timed waits, and keeps the window's picture of each key wait.
#pragma once

#include "common/shot_seed.h"
#include "engine/play_cursor.h"
#include "format/story_format.h"

#include <cstdint>
#include <string>
#include <vector>

// Keeps one picture: `pixels` (0x00RRGGBB, rows top-down) as the file at `path`.
// False when it cannot be kept, which stops the play.
using PictureWriter = bool (*)(const std::string& path, int32_t width, int32_t height,
                               const uint32_t* pixels);

struct ShotOptions {
    std::string folder;    // the story
    std::string outFolder; // must exist; absolute, since the play works in the story's folder
    PictureWriter writePicture = nullptr; // bexu-shot's writes PNG files
    int32_t width = kCanvasWidth;
    int32_t height = kCanvasHeight;
    // The stutter generator's seed, and the clock's start: a run is reproducible.
    uint32_t seed = kShotSeed;
    // The pages pictured, 1-based: the key waits from firstPage to lastPage. The play runs
    // ahead to firstPage without frames, as a reader who pressed Space through would find
    // it, and ends after lastPage.
    uint32_t firstPage = 1;
    uint32_t lastPage = UINT32_MAX;
};

// What happened between two pictures: a scene shown, a sound started, a timed wait,
// the page turned.
enum class ShotEventKind { Scene, Sound, Wait, PageTurn };
struct ShotEvent {
    ShotEventKind kind;
    int32_t block;
    int32_t command;
    std::string argument;
};

struct Shot {
    uint32_t page;                 // 1-based: the how-manyth key wait
    std::string file;              // PNG name inside outFolder
    int32_t block;                 // block of the command that waits
    int32_t command;               // its index in the block
    std::string text;              // the command
    std::string dialogue;          // the dialogue on screen
    std::vector<ShotEvent> before; // since the previous picture
};

enum class ShotEnd { Finished, Fatal, Stuck, WriteFailed, CannotStart };

struct ShotRun {
    ShotEnd end = ShotEnd::CannotStart;
    std::string message; // why the play stopped, when it did not finish
    std::vector<Shot> shots;
    std::vector<ShotEvent> after;     // after the last picture
    std::string title;                // the window's, as the player set it
    std::string scriptName;           // the script as the user names it: the folder given, then
                                      // script.bexu
    std::vector<CommandPlace> places; // where the commands the play met stand, in play order
    uint32_t keyWaits = 0;            // in the whole play, as bexu-check counts them
};

// Where a command of the play stands; none when the play did not reach it.
const CommandPlace* shotPlace(const ShotRun& run, int32_t block, int32_t command);
// "FOLDER/script.bexu:LINE:COLUMN" of a command's `[`, as bexu-check names it, or its
// block and index when not known.
std::string placeName(const ShotRun& run, int32_t block, int32_t command);

// What to do once the play is over, however it ended: write the index, tell the
// user, and give the exit code.
using ShotFinish = int (*)(const ShotOptions& options, const ShotRun& run);

// Plays the story and returns `finish`'s exit code. When the player stops from
// inside (a fatal error, a write that fails, a play that stops for good) the process
// ends there with that code, as the player's own would.
int playAndShoot(const ShotOptions& options, ShotFinish finish);
// The contact sheet: every shot with its command and what happened before it, in order.
bool writeIndex(const ShotOptions& options, const ShotRun& run);

// The rows the player draws a dialogue in, each as the glyphs it shows: a row ends at a
// line break and where the pen wraps past the canvas's right edge; bytes the font cannot
// draw are left out and counted in `leftOut`; drawing stops where the pen wraps below
// the last row.
std::vector<std::string> playerRows(const std::string& dialogue, uint32_t* leftOut);
