// The story checker: reads a story folder the way the player does and lists the
// traps that would make it misbehave without a word.
#pragma once

#include "check/story_files.h"

#include <cstdint>
#include <string>
#include <vector>

// Notes are shown only when asked for (--notes).
enum class Severity { Warning, Error, Note };

struct Diagnostic {
    Severity severity;
    std::string file; // relative to the story folder, e.g. "script.bexu"
    uint32_t line;    // 1-based; 0 when the whole file is meant
    uint32_t column;  // 1-based byte column; 0 with line 0
    std::string code; // short stable name, e.g. "missing-block"
    std::string message;
};

struct CheckReport {
    // False when the script cannot be read at all; the diagnostics say why.
    bool readable;
    uint32_t blocks;   // blocks the player plays
    uint32_t commands; // commands in them
    uint32_t pages;    // pages of dialogue, counted at page turns
    std::vector<Diagnostic> diagnostics;
    // The scenes and sounds the play meets, as listFileUses lists them, from the same walk.
    std::vector<FileUse> uses;
};

// Checks the story in `folder`. Works in that folder for the time of the check, as
// the player does, and returns to the current one afterwards.
// With `notes`, style findings too (lines the player breaks mid-word).
CheckReport checkStory(const std::string& folder, bool notes = false);

uint32_t countSeverity(const CheckReport& report, Severity severity);

// Compiler-style lines, one per diagnostic, then a summary line. `prefix` is put
// before every file name (the folder as the user wrote it, or empty).
std::string formatText(const CheckReport& report, const std::string& prefix);
// One JSON object holding the counts and the diagnostics.
std::string formatJson(const CheckReport& report, const std::string& prefix);
