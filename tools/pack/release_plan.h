// What bexu-pack decides before it writes a byte: the check, the story's files and
// the entries of each archive. The studio makes the same plan in the page and writes
// the archives there.
#pragma once

#include "pack/archive_entry.h"
#include "pack/story_contents.h"
#include "pack/web_archive.h"
#include "pack/web_story_writer.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ReleaseArchive {
    std::string name;
    std::vector<ArchiveEntry> entries;
    bool zip; // otherwise a gzip-compressed tar
};

// The players packed beside the story.
struct ReleasePlayers {
    std::string windows; // the 32-bit Windows player
    std::string linux;   // the self-contained Linux player
    std::string web;     // the folder of the web player's files
    uint64_t windowsSize;
    uint64_t linuxSize;
    WebPlayer webPlayer;
};

// Each player exists, is a plain file (the web player's files all three) and begins with
// its format's mark; fills the sizes.
bool checkReleasePlayers(ReleasePlayers* players, std::string* error);

struct ReleasePlan {
    // The checker's findings, bexu-pack's name refusals among them, in place order and
    // with the story folder as written before each file, as bexu-pack prints them.
    std::string findings;
    // Why nothing is packed, as bexu-pack says it; empty when the archives may be written.
    std::string refusal;
    StoryContents contents;
    // The Windows and the Linux archive; none when refused. The web archive is planned
    // apart (planWebArchive), as its story data is coded into a file first.
    std::vector<ReleaseArchive> archives;
};

// Checks the story in `story` and plans its archives; with `force`, errors in the story
// do not stop it.
ReleasePlan planRelease(const std::string& story, const ReleasePlayers& players, bool force);

// The web archive of a plan that was not refused: its story data is coded into `coded`
// (a new, empty file that `codedPath` names, kept until the archive is written). False
// with `*error` when a story file cannot be read or has changed since it was checked.
bool planWebArchive(const ReleasePlan& plan, const ReleasePlayers& players, FILE* coded,
                    const std::string& codedPath, ReleaseArchive* archive, std::string* error);

// "0.6 MB"
std::string megabytes(uint64_t bytes);
