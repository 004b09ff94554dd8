// bexu-studio's rule for request paths, over any path: whatever it serves is a plain file
// inside the story folder, never the file outside it (reached by '..', a leading '/',
// links out of the folder, or any mix), and its path has only plain parts.
#include "fuzz_files.h"
#include "studio/server/served_files.h"

#include <climits>
#include <sys/stat.h>

namespace {

// story/ with files, folders and links in and out; outside/secret beside it.
const std::string& storyFolder() {
    static std::string story = [] {
        std::string base = fuzzFolder();
        std::string outside = base + "/outside";
        std::string folder = base + "/story";
        for (const std::string& made : {outside, folder, folder + "/a", folder + "/a/b"}) {
            mkdir(made.c_str(), 0755);
        }
        for (const std::string& file : {outside + "/secret", folder + "/script.bexu",
                                        folder + "/a/b/c.bmp", folder + "/a/..x"}) {
            writeFuzzFile(file.substr(base.size() + 1).c_str(), nullptr, 0);
        }
        symlink("../outside/secret", (folder + "/out").c_str());
        symlink("../../../outside", (folder + "/a/b/up").c_str());
        symlink("..", (folder + "/a/parent").c_str());
        symlink("b/c.bmp", (folder + "/a/in").c_str());
        char real[PATH_MAX];
        if (realpath(folder.c_str(), real) == nullptr) {
            abort();
        }
        return std::string(real);
    }();
    return story;
}

bool plainParts(const std::string& path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        slash = slash == std::string::npos ? path.size() : slash;
        std::string part = path.substr(start, slash - start);
        if (part.empty() || part == "." || part == ".." || part.find('\\') != std::string::npos) {
            return false;
        }
        start = slash + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& story = storyFolder();
    std::string path(reinterpret_cast<const char*>(data), size);
    std::string file;
    if (!servedFile(story, path, &file)) {
        return 0;
    }
    struct stat info;
    if (!plainParts(path) || path.find('\0') != std::string::npos ||
        file.compare(0, story.size() + 1, story + "/") != 0 ||
        file.find("/outside/") != std::string::npos || stat(file.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
        abort();
    }
    return 0;
}
