// What of a story folder goes to its readers: the files the player opens, found
// from the script, and the title the archives are named after.
#pragma once

#include "check/story_check.h"
#include "check/story_files.h"

#include <cstdint>
#include <string>
#include <vector>

struct StoryFile {
    std::string path;   // relative to the story folder, '/'-separated
    std::string source; // the file on disk
    uint64_t size;
    bool bitmap;        // the player loads it as a bitmap (font, tile, a scene)
    bool wave;          // the player plays it (a sound)
    uint32_t firstNeed; // the order in which the play first opens the files
};

struct StoryContents {
    std::string folder;    // the story folder, as given
    std::string title;     // the window title: init.bexc's first bytes, or the folder's name
    std::string fileTitle; // the title made safe for file names
    std::vector<std::string> folders; // relative folders the names pass through, ending '/'
    std::vector<StoryFile> files;     // sorted by path
    std::vector<std::string> leftOut; // files and folders not packed, sorted
    uint64_t totalSize;
};

// Gathers the story in `folder` whose script names `uses`. A name that would not
// resolve in the unpacked folder, and a link that leads out of the story folder, are
// added to `problems` as errors; such files are not packed.
StoryContents gatherStory(const std::string& folder, const FileUses& uses,
                          std::vector<Diagnostic>* problems);

// Findings that stop the packing even with --force: a link out of the story folder.
bool unforceable(const Diagnostic& problem);

// `title` reduced to letters, digits, '-', '_' and '.', at most 64 bytes, never
// empty and never a name Windows keeps for devices.
std::string safeFileTitle(const std::string& title);
