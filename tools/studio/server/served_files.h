// What bexu-studio serves: files inside one folder, named by a request's path, and the
// listing of the story folder. Nothing outside the folder is ever opened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The file at `relative` (the request path after its prefix, already decoded once)
// inside `root` (a real path, without links). False, and nothing opened, for an empty
// part, '.', '..', a '\', a NUL, a leading '/', or a path that leads out of `root`
// through a link; also for anything but a plain file. `*file` is then the real path.
bool servedFile(const std::string& root, const std::string& relative, std::string* file);

struct ListedFile {
    std::string path; // relative to the folder, '/'-separated
    uint64_t size;
    int64_t modified; // milliseconds since 1970
};

struct FolderListing {
    std::vector<ListedFile> files; // sorted by path
    uint32_t leftOut;              // links out of the folder or in a loop, names that are not UTF-8
    bool cut;                      // more files than listed
};

// Every plain file under `root`, links followed only where they stay inside it.
FolderListing listFolder(const std::string& root, size_t mostFiles);

// The listing as the page reads it: {"name", "files": [{"path", "size", "mtime"}], "note"}.
std::string listingJson(const std::string& name, const FolderListing& listing);
