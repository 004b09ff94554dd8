// Progress of a long task on a terminal: one line on standard error, redrawn in place,
// saying how much is done of how much and about how long is left. It shows only when
// standard error is a terminal and the task has run for a second, so short runs, pipes
// and logs see nothing. BEXU_PROGRESS_AFTER_MS sets another wait before the line
// shows (the tests' small stories take less than a second).
#pragma once

#include <cstdint>
#include <string>

struct Progress {
    std::string label; // "bexu-shot: pages", "bexu-pack: Story-windows.zip"
    bool bytes;        // counts bytes, shown in MB; else whole things
    uint64_t total;
    uint64_t done;
    double started; // seconds, monotonic
    double shownAt; // when the line was last drawn; 0 before the first
    double quiet;   // seconds before the line first shows
    bool terminal;
};

void startProgress(Progress* progress, const std::string& label, uint64_t total, bool bytes);
void advanceProgress(Progress* progress, uint64_t more);
// Clears the line, if one was drawn.
void endProgress(Progress* progress);

// The line as drawn: "bexu-shot: pages 37 of 200, about 9 s left".
std::string progressLine(const Progress& progress, double now);
