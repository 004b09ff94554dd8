// bexu-shot [DIR] [--out DIR] [--size WxH] [--seed N] [--pages A-B]: plays the story in
// DIR (default: here) headless and writes one PNG per key wait plus index.html.
#include "shot/png_writer.h"
#include "shot/story_shots.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A printf format: the canvas's width and height fill it (printUsage).
const char kUsage[] =
    "usage: bexu-shot [DIR] [--out DIR] [--size WxH] [--seed N] [--pages A-B]\n"
    "Plays the story in DIR (default: the current folder) on the headless backend,\n"
    "pressing Space at every key wait and skipping timed waits, and writes one PNG\n"
    "per key wait (the window at WxH, default %dx%d) and index.html into the\n"
    "--out folder, which must lie outside the story folder (default: ./STORY-shots,\n"
    "or beside the story folder when the current folder is inside it). The stutter\n"
    "seed defaults to 100000. --pages A-B pictures only the key waits A to B (1-based;\n"
    "A alone, or A- to the end); the play runs from the start all the same. On a\n"
    "terminal, a line on standard error shows the pages done and the time left.\n";

bool parseSize(const char* text, int32_t* width, int32_t* height) {
    char* end = nullptr;
    long w = strtol(text, &end, 10);
    if (end == text || *end != 'x') {
        return false;
    }
    const char* rest = end + 1;
    long h = strtol(rest, &end, 10);
    if (end == rest || *end != '\0' || w < 1 || h < 1 || w > 16384 || h > 16384) {
        return false;
    }
    *width = static_cast<int32_t>(w);
    *height = static_cast<int32_t>(h);
    return true;
}

bool parseSeed(const char* text, uint32_t* seed) {
    char* end = nullptr;
    errno = 0;
    unsigned long value = strtoul(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value > UINT32_MAX || text[0] == '-') {
        return false;
    }
    *seed = static_cast<uint32_t>(value);
    return true;
}

// "A-B", "A-" or "A", 1-based, A <= B.
bool parsePages(const char* text, uint32_t* first, uint32_t* last) {
    char* end = nullptr;
    errno = 0;
    unsigned long from = strtoul(text, &end, 10);
    if (end == text || !isdigit(static_cast<unsigned char>(text[0])) || errno != 0 || from < 1 ||
        from > UINT32_MAX) {
        return false;
    }
    unsigned long to = from;
    if (*end == '-') {
        const char* rest = end + 1;
        to = UINT32_MAX;
        if (*rest != '\0') {
            to = strtoul(rest, &end, 10);
            if (end == rest || !isdigit(static_cast<unsigned char>(rest[0])) || errno != 0 ||
                to > UINT32_MAX) {
                return false;
            }
        } else {
            end = const_cast<char*>(rest);
        }
    }
    if (*end != '\0' || to < from) {
        return false;
    }
    *first = static_cast<uint32_t>(from);
    *last = static_cast<uint32_t>(to);
    return true;
}

// Makes the folder and its missing parents.
bool makeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0755);
    }
    struct stat info;
    return (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) && stat(path.c_str(), &info) == 0 &&
           S_ISDIR(info.st_mode);
}

// `path` made absolute from `here`, its . and .. parts resolved by the text alone.
std::string absolutePath(const std::string& path, const std::string& here) {
    std::string whole = path[0] == '/' ? path : here + "/" + path;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= whole.size()) {
        size_t slash = whole.find('/', start);
        std::string part = whole.substr(start, slash == std::string::npos ? slash : slash - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    std::string out;
    for (const std::string& part : parts) {
        out += "/" + part;
    }
    return out.empty() ? "/" : out;
}

bool isInside(const std::string& path, const std::string& folder) {
    return path == folder || folder == "/" ||
           (path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

// ./STORY-shots, or beside the story when the current folder lies inside it.
std::string defaultOut(const std::string& story, const std::string& here) {
    size_t slash = story.rfind('/');
    std::string name = story.substr(slash + 1);
    if (name.empty()) {
        name = "story";
    }
    std::string out = here + "/" + name + "-shots";
    if (isInside(out, story)) {
        out = story.substr(0, slash) + "/" + name + "-shots";
    }
    return out;
}

void printUsage(FILE* out) {
    fprintf(out, kUsage, kCanvasWidth, kCanvasHeight);
}

int usageError(const char* message, const char* argument) {
    fprintf(stderr, "bexu-shot: %s '%s'\n", message, argument);
    printUsage(stderr);
    return 2;
}

// Set before the play: the output folder as the user wrote it, for the messages.
std::string shownOut;

int finishRun(const ShotOptions& options, const ShotRun& run) {
    if (run.end == ShotEnd::CannotStart) {
        fprintf(stderr, "bexu-shot: %s\n", run.message.c_str());
        return 2;
    }
    if (!writeIndex(options, run)) {
        fprintf(stderr, "bexu-shot: cannot write %s/index.html\n", shownOut.c_str());
        return 2;
    }
    printf("bexu-shot: %zu key wait%s written to %s/ (index.html)\n", run.shots.size(),
           run.shots.size() == 1 ? "" : "s", shownOut.c_str());
    if (run.end == ShotEnd::WriteFailed) {
        fprintf(stderr, "bexu-shot: %s\n", run.message.c_str());
        return 2;
    }
    if (run.end != ShotEnd::Finished) {
        fprintf(stderr, "bexu-shot: %s\n", run.message.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    ShotOptions options;
    options.writePicture = writePng;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            printUsage(stdout);
            return 0;
        } else if (strcmp(arg, "--out") == 0 && hasValue) {
            out = argv[++i];
        } else if (strcmp(arg, "--size") == 0 && hasValue) {
            if (!parseSize(argv[++i], &options.width, &options.height)) {
                return usageError("bad size", argv[i]);
            }
        } else if (strcmp(arg, "--pages") == 0 && hasValue) {
            if (!parsePages(argv[++i], &options.firstPage, &options.lastPage)) {
                return usageError("bad pages", argv[i]);
            }
        } else if (strcmp(arg, "--seed") == 0 && hasValue) {
            if (!parseSeed(argv[++i], &options.seed)) {
                return usageError("bad seed", argv[i]);
            }
        } else if (arg[0] == '-' || !options.folder.empty()) {
            return usageError("unexpected argument", arg);
        } else {
            options.folder = arg;
        }
    }
    if (options.folder.empty()) {
        options.folder = ".";
    }
    char here[PATH_MAX];
    char story[PATH_MAX];
    if (getcwd(here, sizeof here) == nullptr ||
        realpath(options.folder.c_str(), story) == nullptr) {
        fprintf(stderr, "bexu-shot: cannot enter the story folder '%s'\n", options.folder.c_str());
        return 2;
    }
    if (out.empty()) {
        out = defaultOut(story, here);
    }
    char resolved[PATH_MAX];
    // The story folder is what gets shared: pictures inside it would be shipped with it.
    bool inside = isInside(absolutePath(out, here), story);
    if (inside || !makeFolders(out) || realpath(out.c_str(), resolved) == nullptr ||
        isInside(resolved, story)) {
        fprintf(stderr, "bexu-shot: %s '%s'\n",
                inside ? "the pictures must go outside the story folder, not into"
                       : "cannot make a folder outside the story folder at",
                out.c_str());
        return 2;
    }
    options.outFolder = resolved;
    shownOut = out;

    return playAndShoot(options, finishRun);
}
