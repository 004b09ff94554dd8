// Runs the headless player (bexu-headless) on a story folder as a child process,
// with its address space capped as `ulimit -v` does, and reports how it ended and
// its peak resident memory.
#pragma once

#include <cstdint>
#include <string>

struct PlayerRun {
    // The player program; the headless one when empty.
    std::string player;
    // Ticks since the start at which Space is pressed (BEXU_HEADLESS_KEYS).
    std::string keys;
    // Virtual milliseconds before the run is stopped with exit code 3.
    uint32_t timeLimit = 60000;
    // Client size, WxH.
    std::string clientSize = "800x450";
    // Address-space cap in MiB; not applied under AddressSanitizer, whose shadow
    // memory needs terabytes of address space.
    uint64_t memoryCapMiB = 512;
    // Run as an unprivileged user, so that file permissions hold even for root.
    bool unprivileged = false;
};

struct PlayerOutcome {
    bool exited = false; // false: ended by a signal (a crash) or could not run
    // Root could not become the unprivileged user here (no such user in this namespace).
    bool unprivilegedUnavailable = false;
    int exitCode = -1;
    int signal = 0;
    uint64_t peakResidentKiB = 0;
    double seconds = 0;
    std::string errors; // standard error
    std::string log;    // the headless event log: play, title, fatal, exit lines
};

// True when the memory cap is really applied in this build.
bool memoryCapApplies();
std::string headlessPlayerPath();
// The SDL player, run with SDL's dummy video and audio drivers; empty when this build
// has none.
std::string sdlPlayerPath();
PlayerOutcome runPlayer(const std::string& folder, const PlayerRun& run);
