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
};

struct StoryContents {
    std::string title;     // the window title: init.bexc's first bytes, or the folder's name
    std::string fileTitle; // the title made safe for file names
    std::vector<std::string> folders; // relative folders the names pass through, ending '/'
    std::vector<StoryFile> files;     // sorted by path
    std::vector<std::string> leftOut; // files and folders not packed, sorted
    uint64_t totalSize;
};

// Gathers the story in `folder` whose script names `uses`. A name that would not
// resolve in the unpacked folder is added to `problems` as an error and not packed.
StoryContents gatherStory(const std::string& folder, const FileUses& uses,
                          std::vector<Diagnostic>* problems);

// `title` reduced to letters, digits, '-', '_' and '.', at most 64 bytes, never
// empty and never a name Windows keeps for devices.
std::string safeFileTitle(const std::string& title);
