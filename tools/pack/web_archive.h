// <Title>-web.zip: the web page of a story, ready for any static web host. Its files
// and their layout are made here, in one place, for bexu-pack and for any other
// program that makes the web archive.
#pragma once

#include "pack/archive_entry.h"
#include "pack/story_contents.h"
#include "pack/web_story_writer.h"

#include <cstdint>
#include <string>
#include <vector>

// The web player's files, as the build of the web preset makes them, each with the
// bytes it begins with.
struct WebPlayerFile {
    const char* name;
    const char* mark;
};
extern const WebPlayerFile kWebPlayerFiles[3];

struct WebPlayer {
    std::string folder;
    uint64_t sizes[3]; // of kWebPlayerFiles, in their order
};

// Whether `folder` holds the web player's files; `*error` says what is wrong.
bool checkWebPlayer(const std::string& folder, WebPlayer* player, std::string* error);

std::string webArchiveName(const StoryContents& contents);

// The archive's entries, in their order, all at its top: the page's files, a read-me,
// and the story data (`story`'s head, then the coded files in `codedPath`).
std::vector<ArchiveEntry> webArchiveEntries(const StoryContents& contents, const WebPlayer& player,
                                            const WebStory& story, const std::string& codedPath);
