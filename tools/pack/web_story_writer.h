// The web page's story data (format/web_story.h): the story's files in the order the
// play first opens them, each in the coding that makes it smallest on its way to the
// reader. The coded files go to a temporary file one by one, so a story of any size
// never sits in memory whole; the index, which must come first, is kept apart.
#pragma once

#include "format/web_story.h"
#include "pack/story_contents.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct WebStoryEntry {
    std::string name;
    WebCoding coding;
    uint64_t stored;   // bytes on the way
    uint64_t fileSize; // bytes of the file the player gets
};

struct WebStory {
    std::string head;   // magic, sizes and the index: what comes before the files
    uint64_t codedSize; // of the coded files, one after another
    std::vector<WebStoryEntry> entries;
};

// Codes the files of `contents` into `coded` (a new, empty file) in the order the play
// needs them and fills `story`. False with `*error` when a file cannot be read or has
// changed since the story was read.
bool writeWebStory(const StoryContents& contents, FILE* coded, WebStory* story, std::string* error);
