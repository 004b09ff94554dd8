// Plays a story on the headless backend, pressing Space at every key wait and
// skipping timed waits, and keeps the window's picture of each key wait.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ShotOptions {
    std::string folder;    // the story
    std::string outFolder; // must exist; absolute, since the play works in the story's folder
    int32_t width = 1600;
    int32_t height = 900;
    // The stutter generator's seed, and the clock's start: a run is reproducible.
    uint32_t seed = 100000;
};

struct Shot {
    std::string file;     // PNG name inside outFolder
    int32_t block;        // block of the command that waits
    int32_t command;      // its index in the block
    std::string text;     // the command
    std::string dialogue; // the dialogue on screen
};

enum class ShotEnd { Finished, Fatal, Stuck, WriteFailed, CannotStart };

struct ShotRun {
    ShotEnd end = ShotEnd::CannotStart;
    std::string message; // why the play stopped, when it did not finish
    std::vector<Shot> shots;
};

// What to do once the play is over, however it ended: write the index, tell the
// user, and give the exit code.
using ShotFinish = int (*)(const ShotOptions& options, const ShotRun& run);

// Plays the story and returns `finish`'s exit code. When the player stops from
// inside (a fatal error, a write that fails, a play that stops for good) the process
// ends there with that code, as the player's own would.
int playAndShoot(const ShotOptions& options, ShotFinish finish);
// The contact sheet: every shot with its command, in order.
bool writeIndex(const ShotOptions& options, const ShotRun& run);
