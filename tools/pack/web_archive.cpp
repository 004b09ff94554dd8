#include "pack/web_archive.h"

#include "pack/release_texts.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const WebPlayerFile kWebPlayerFiles[3] = {
    {"bexu.js", ""}, {"bexu.wasm", "\0asm"}, {"index.html", "<!doctype html>"}};

namespace {

// The file is plain, not empty, and begins with `mark` (of `markSize` bytes).
bool plainWithMark(const std::string& path, const char* mark, size_t markSize, uint64_t* size) {
    int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    std::string head(markSize, '\0');
    bool fine = descriptor >= 0 && fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
                info.st_size > 0 &&
                read(descriptor, &head[0], markSize) == static_cast<ssize_t>(markSize) &&
                memcmp(head.data(), mark, markSize) == 0;
    if (descriptor >= 0) {
        close(descriptor);
    }
    *size = fine ? static_cast<uint64_t>(info.st_size) : 0;
    return fine;
}

} // namespace

bool checkWebPlayer(const std::string& folder, WebPlayer* player, std::string* error) {
    player->folder = folder;
    for (size_t i = 0; i < 3; ++i) {
        const WebPlayerFile& file = kWebPlayerFiles[i];
        // The wasm mark begins with a zero byte: its length is told apart.
        size_t markSize = strcmp(file.name, "bexu.wasm") == 0 ? 4 : strlen(file.mark);
        if (!plainWithMark(folder + "/" + file.name, file.mark, markSize, &player->sizes[i])) {
            *error = "the web player '" + folder + "' is missing or not one (its " + file.name +
                     " is missing or not one): build it (cmake --preset web && cmake --build "
                     "--preset web) or name its folder with --web-player";
            return false;
        }
    }
    return true;
}

std::string webArchiveName(const StoryContents& contents) {
    return contents.fileTitle + "-web.zip";
}

std::vector<ArchiveEntry> webArchiveEntries(const StoryContents& contents, const WebPlayer& player,
                                            const WebStory& story, const std::string& codedPath) {
    std::vector<ArchiveEntry> entries;
    for (size_t i = 0; i < 3; ++i) {
        const char* name = kWebPlayerFiles[i].name;
        entries.push_back(
            ArchiveEntry{name, false, false, player.folder + "/" + name, "", player.sizes[i]});
    }
    entries.push_back(ArchiveEntry{"README.txt", false, false, "", webReadMe(contents.title), 0});
    ArchiveEntry data = {kWebStoryFileName, false, false, codedPath, story.head, story.codedSize};
    data.stored = true; // its files are coded already
    entries.push_back(data);
    std::sort(entries.begin(), entries.end(),
              [](const ArchiveEntry& a, const ArchiveEntry& b) { return a.path < b.path; });
    return entries;
}
