#include "studio/server/served_files.h"

#include "check/check_text.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace {

// Each '/'-separated part is a plain name.
bool plainParts(const std::string& relative) {
    if (relative.empty() || relative.find('\0') != std::string::npos ||
        relative.find('\\') != std::string::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= relative.size()) {
        size_t slash = std::min(relative.find('/', start), relative.size());
        std::string part = relative.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        start = slash + 1;
    }
    return true;
}

bool inside(const std::string& path, const std::string& root) {
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
           (root == "/" || path[root.size()] == '/');
}

// The real path of `path`, empty when it has none.
std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

// Whether `text` is UTF-8 (lead bytes and continuations), as the page's names must be.
bool isUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        size_t more = c < 0x80   ? 0
                      : c < 0xC2 ? SIZE_MAX
                      : c < 0xE0 ? 1
                      : c < 0xF0 ? 2
                      : c < 0xF5 ? 3
                                 : SIZE_MAX;
        if (more == SIZE_MAX || text.size() - i <= more) {
            return false;
        }
        for (size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += more + 1;
    }
    return true;
}

struct Walk {
    std::string root;
    size_t mostFiles;
    FolderListing* listing;
    std::vector<std::string> entered; // the real folders on the way down, so a link loop ends
};

void walkFolder(Walk* walk, const std::string& folder, const std::string& relative) {
    std::string real = realPath(folder);
    if (std::find(walk->entered.begin(), walk->entered.end(), real) != walk->entered.end()) {
        ++walk->listing->leftOut;
        return;
    }
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return;
    }
    walk->entered.push_back(real);
    while (dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string path = folder + "/" + name;
        std::string shown = relative + name;
        std::string target = realPath(path);
        struct stat info;
        if (target.empty() || !inside(target, walk->root) || !isUtf8(name) ||
            stat(target.c_str(), &info) != 0) {
            ++walk->listing->leftOut;
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            walkFolder(walk, path, shown + "/");
        } else if (S_ISREG(info.st_mode)) {
            if (walk->listing->files.size() >= walk->mostFiles) {
                walk->listing->cut = true;
                break;
            }
            walk->listing->files.push_back({shown, static_cast<uint64_t>(info.st_size),
                                            static_cast<int64_t>(info.st_mtim.tv_sec) * 1000 +
                                                info.st_mtim.tv_nsec / 1000000});
        }
    }
    closedir(directory);
    walk->entered.pop_back();
}

} // namespace

bool servedFile(const std::string& root, const std::string& relative, std::string* file) {
    if (!plainParts(relative)) {
        return false;
    }
    std::string real = realPath(root + "/" + relative);
    struct stat info;
    if (real.empty() || !inside(real, root) || stat(real.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
        return false;
    }
    *file = real;
    return true;
}

FolderListing listFolder(const std::string& root, size_t mostFiles) {
    FolderListing listing = {};
    Walk walk = {root, mostFiles, &listing, {}};
    walkFolder(&walk, root, "");
    std::sort(listing.files.begin(), listing.files.end(),
              [](const ListedFile& a, const ListedFile& b) { return a.path < b.path; });
    return listing;
}

std::string listingJson(const std::string& name, const FolderListing& listing) {
    std::string out =
        "{\"name\":" + jsonString(isUtf8(name) ? name : "story", true) + ",\"files\":[";
    for (size_t i = 0; i < listing.files.size(); ++i) {
        const ListedFile& file = listing.files[i];
        out += (i == 0 ? "" : ",") + std::string("{\"path\":") + jsonString(file.path, true) +
               ",\"size\":" + std::to_string(file.size) +
               ",\"mtime\":" + std::to_string(file.modified) + "}";
    }
    out += "]";
    std::string note;
    if (listing.cut) {
        note = "The folder holds more than " + std::to_string(listing.files.size()) +
               " files: only those are shown. Open the story's own folder.";
    } else if (listing.leftOut > 0) {
        note = std::to_string(listing.leftOut) +
               (listing.leftOut == 1 ? " name is" : " names are") +
               " left out: links that lead out of the folder or round in a loop, or names that "
               "are not UTF-8.";
    }
    if (!note.empty()) {
        out += ",\"note\":" + jsonString(note, true);
    }
    return out + "}";
}
