// bexu-pack STORY_DIR [--out DIR] [--force]: packs a story into release archives
// for readers, one for Windows, one for Linux and one for the web, after checking it.
#include "check/story_check.h"
#include "check/story_files.h"
#include "pack/archive_entry.h"
#include "pack/release_texts.h"
#include "pack/story_contents.h"
#include "pack/web_archive.h"
#include "pack/web_story.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef BEXU_PACK_WINDOWS_PLAYER
#define BEXU_PACK_WINDOWS_PLAYER "build-win32/bexu.exe"
#endif
#ifndef BEXU_PACK_WEB_PLAYER
#define BEXU_PACK_WEB_PLAYER "build-web"
#endif

namespace {

const char kUsage[] =
    "usage: bexu-pack STORY_DIR [--out DIR] [--force]\n"
    "                 [--windows-player EXE] [--linux-player FILE] [--web-player DIR]\n"
    "Checks the story in STORY_DIR and packs what it uses into <Title>-windows.zip,\n"
    "<Title>-linux-x86_64.tar.gz and <Title>-web.zip in DIR (default: the current\n"
    "folder). Errors stop the packing; --force packs anyway, but never a link out of\n"
    "the story folder. The players default to the 32-bit Windows build, to\n"
    "bexu-static beside this program and to the build of the web preset.\n";

struct Options {
    std::string story;
    std::string out = ".";
    bool force = false;
    std::string windowsPlayer = BEXU_PACK_WINDOWS_PLAYER;
    std::string linuxPlayer;
    std::string webPlayer = BEXU_PACK_WEB_PLAYER;
};

// The archives, and the web story's coded files, while they are written under
// temporary names: removed if the packing fails or is interrupted.
constexpr size_t kArchives = 3;
char gPartial[kArchives + 1][PATH_MAX];

void removePartials(int) {
    for (char* path : gPartial) {
        if (path[0] != '\0') {
            unlink(path);
        }
    }
    _exit(1);
}

int usageError(const std::string& message) {
    fprintf(stderr, "bexu-pack: %s\n%s", message.c_str(), kUsage);
    return 2;
}

int failure(const std::string& message) {
    fprintf(stderr, "bexu-pack: %s\n", message.c_str());
    return 1;
}

std::string besideThisProgram(const char* name) {
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        return name;
    }
    std::string path(self, static_cast<size_t>(length));
    return path.substr(0, path.find_last_of('/') + 1) + name;
}

bool parseOptions(int argc, char** argv, Options* options, int* exitCode) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        bool valued = argument == "--out" || argument == "--windows-player" ||
                      argument == "--linux-player" || argument == "--web-player";
        if (valued && i + 1 >= argc) {
            *exitCode = usageError(argument + " needs a value");
            return false;
        }
        if (argument == "--help" || argument == "-h") {
            fputs(kUsage, stdout);
            *exitCode = 0;
            return false;
        } else if (argument == "--force") {
            options->force = true;
        } else if (argument == "--out") {
            options->out = argv[++i];
        } else if (argument == "--windows-player") {
            options->windowsPlayer = argv[++i];
        } else if (argument == "--linux-player") {
            options->linuxPlayer = argv[++i];
        } else if (argument == "--web-player") {
            options->webPlayer = argv[++i];
        } else if (argument[0] == '-' || !options->story.empty()) {
            *exitCode = usageError("unexpected argument '" + argument + "'");
            return false;
        } else {
            options->story = argument;
        }
    }
    if (options->story.empty()) {
        *exitCode = usageError("no story folder given");
        return false;
    }
    if (options->linuxPlayer.empty()) {
        options->linuxPlayer = besideThisProgram("bexu-static");
    }
    return true;
}

// The player file exists, is plain and begins with its format's mark.
bool checkPlayer(const std::string& path, const char* mark, const char* what, const char* hint,
                 uint64_t* size, std::string* error) {
    int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    char head[4] = {};
    bool fine = descriptor >= 0 && fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
                read(descriptor, head, sizeof head) == static_cast<ssize_t>(sizeof head) &&
                memcmp(head, mark, strlen(mark)) == 0;
    if (descriptor >= 0) {
        close(descriptor);
    }
    if (!fine) {
        *error = std::string("the ") + what + " '" + path + "' is missing or not one: " + hint;
        return false;
    }
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool makeFolder(const std::string& path, std::string* error) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            *error = "the output folder '" + path + "' is not a folder";
            return false;
        }
        return true;
    }
    if (mkdir(path.c_str(), 0755) != 0) {
        *error = "the output folder '" + path + "' cannot be made: " + strerror(errno);
        return false;
    }
    return true;
}

ArchiveEntry folderEntry(const std::string& path) {
    return ArchiveEntry{path, true, false, "", "", 0};
}

ArchiveEntry madeEntry(const std::string& path, const std::string& bytes, bool executable) {
    return ArchiveEntry{path, false, executable, "", bytes, 0};
}

ArchiveEntry fileEntry(const std::string& path, const std::string& source, uint64_t size,
                       bool executable) {
    return ArchiveEntry{path, false, executable, source, "", size};
}

// The story's folders and files under `top`, in path order.
void addStoryEntries(const StoryContents& contents, const std::string& top,
                     std::vector<ArchiveEntry>* entries) {
    std::vector<ArchiveEntry> story;
    for (const std::string& folder : contents.folders) {
        story.push_back(folderEntry(top + folder));
    }
    for (const StoryFile& file : contents.files) {
        ArchiveEntry entry = fileEntry(top + file.path, file.path, file.size, false);
        entry.storyFolder = contents.folder;
        story.push_back(entry);
    }
    std::sort(story.begin(), story.end(),
              [](const ArchiveEntry& a, const ArchiveEntry& b) { return a.path < b.path; });
    entries->insert(entries->end(), story.begin(), story.end());
}

// A story file that has the name of one the packer adds, as Windows compares names.
std::string clashingName(const StoryContents& contents, const std::vector<std::string>& added) {
    auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(tolower(c)); });
        return text;
    };
    for (const StoryFile& file : contents.files) {
        for (const std::string& name : added) {
            if (lower(file.path) == lower(name)) {
                return file.path;
            }
        }
    }
    return "";
}

struct Archive {
    std::string name;
    std::vector<ArchiveEntry> entries;
    bool zip;
};

// A new file in `folder` under a temporary name, noted in `partial`.
FILE* temporaryFile(const std::string& folder, const std::string& name, char* partial,
                    std::string* error) {
    std::string temporary = folder + "/." + name + "." + std::to_string(getpid()) + ".partial";
    snprintf(partial, PATH_MAX, "%s", temporary.c_str());
    int descriptor = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    FILE* file = descriptor < 0 ? nullptr : fdopen(descriptor, "w+b");
    if (file == nullptr) {
        *error = "cannot write in '" + folder + "': " + strerror(errno);
        if (descriptor >= 0) {
            close(descriptor);
            unlink(temporary.c_str());
        }
        partial[0] = '\0';
    }
    return file;
}

bool writeArchive(const std::string& outFolder, const Archive& archive, char* partial,
                  std::string* error) {
    FILE* file = temporaryFile(outFolder, archive.name, partial, error);
    if (file == nullptr) {
        return false;
    }
    // Made entries are small; the story's files are what takes time.
    uint64_t total = 0;
    for (const ArchiveEntry& entry : archive.entries) {
        total += entry.source.empty() ? 0 : entry.size;
    }
    Progress progress;
    startProgress(&progress, "bexu-pack: " + archive.name, total, true);
    OutputFile out = {file, 0, false, error, &progress};
    bool fine = archive.zip ? writeZip(&out, archive.entries) : writeTarGz(&out, archive.entries);
    endProgress(&progress);
    if (fflush(file) != 0 || fsync(fileno(file)) != 0) {
        failWith(&out, std::string("cannot be written: ") + strerror(errno));
        fine = false;
    }
    if (fclose(file) != 0 && fine) {
        failWith(&out, std::string("cannot be written: ") + strerror(errno));
        fine = false;
    }
    if (!fine) {
        *error = outFolder + "/" + archive.name + ": " + *error;
    }
    return fine;
}

std::string megabytes(uint64_t bytes) {
    char text[32];
    snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// Checks the story; true when it may be packed. Prints the findings.
bool checkBeforePacking(const Options& options, StoryContents* contents) {
    // One walk of the play: the check lists the files it meets.
    CheckReport report = checkStory(options.story);
    FileUses uses = {report.readable, report.uses};
    *contents = gatherStory(options.story, uses, &report.diagnostics);
    std::stable_sort(report.diagnostics.begin(), report.diagnostics.end(),
                     [](const Diagnostic& a, const Diagnostic& b) {
                         if (a.file != b.file) {
                             return a.file < b.file;
                         }
                         return a.line != b.line ? a.line < b.line : a.column < b.column;
                     });
    fputs(formatText(report, folderPrefix(options.story)).c_str(), stdout);
    auto linkedOut = static_cast<uint32_t>(
        std::count_if(report.diagnostics.begin(), report.diagnostics.end(), unforceable));
    if (linkedOut > 0) {
        fprintf(stderr,
                "bexu-pack: %u link%s lead%s out of the story folder: nothing packed, not even "
                "with --force (copy the files into the story folder)\n",
                linkedOut, linkedOut == 1 ? "" : "s", linkedOut == 1 ? "s" : "");
        return false;
    }
    if (!report.readable) {
        fprintf(stderr, "bexu-pack: %sscript.bexu cannot be read: nothing packed\n",
                folderPrefix(options.story).c_str());
        return false;
    }
    uint32_t errors = countSeverity(report, Severity::Error);
    if (errors > 0 && !options.force) {
        fprintf(stderr,
                "bexu-pack: %u error%s: nothing packed (--force packs the story as it is)\n",
                errors, errors == 1 ? "" : "s");
        return false;
    }
    return true;
}

struct PlayerSizes {
    uint64_t windowsPlayer;
    uint64_t linuxPlayer;
    WebPlayer webPlayer;
};

// The story folder, both players and the output folder, before anything is read.
bool checkInputs(const Options& options, PlayerSizes* sizes, std::string* error) {
    static const char kElfMark[] = {0x7f, 'E', 'L', 'F', 0};
    DIR* story = opendir(options.story.c_str());
    if (story == nullptr) {
        *error = "story folder '" + options.story + "' cannot be read: " + strerror(errno);
        return false;
    }
    closedir(story);
    return checkPlayer(options.windowsPlayer, "MZ", "Windows player",
                       "build it (cmake --preset win32 && cmake --build --preset win32) or name "
                       "one with --windows-player",
                       &sizes->windowsPlayer, error) &&
           checkPlayer(options.linuxPlayer, kElfMark, "Linux player",
                       "build bexu-static or name one with --linux-player", &sizes->linuxPlayer,
                       error) &&
           checkWebPlayer(options.webPlayer, &sizes->webPlayer, error) &&
           makeFolder(options.out, error);
}

// Sizes and offsets of a zip archive have 32 bits; 1 MiB is room for the rest. The web
// archive's coded story is never larger than the story.
bool fitsZip(const StoryContents& contents, const PlayerSizes& sizes, std::string* error) {
    uint64_t webPlayer = 0;
    for (uint64_t size : sizes.webPlayer.sizes) {
        webPlayer += size;
    }
    uint64_t players = std::max(sizes.windowsPlayer, webPlayer);
    if (contents.totalSize + players + (1u << 20) > UINT32_MAX) {
        *error = "the story's files come to " + megabytes(contents.totalSize) +
                 "; a zip archive holds at most 4.2 GB";
        return false;
    }
    return true;
}

Archive windowsArchive(const StoryContents& contents, const Options& options,
                       const PlayerSizes& sizes) {
    const std::string& title = contents.fileTitle;
    std::string top = title + "/";
    Archive archive = {title + "-windows.zip", {}, true};
    archive.entries = {
        folderEntry(top),
        fileEntry(top + title + ".exe", options.windowsPlayer, sizes.windowsPlayer, true),
        madeEntry(top + "README.txt", windowsReadMe(contents.title, title), false)};
    addStoryEntries(contents, top, &archive.entries);
    return archive;
}

Archive linuxArchive(const StoryContents& contents, const Options& options,
                     const PlayerSizes& sizes) {
    const std::string& title = contents.fileTitle;
    std::string top = title + "/";
    Archive archive = {title + "-linux-x86_64.tar.gz", {}, false};
    archive.entries = {
        folderEntry(top), madeEntry(top + title, linuxLauncher(), true),
        madeEntry(top + title + ".desktop", desktopEntry(contents.title, title), true),
        madeEntry(top + "README.txt", linuxReadMe(contents.title, title), false),
        fileEntry(top + "bexu", options.linuxPlayer, sizes.linuxPlayer, true)};
    addStoryEntries(contents, top, &archive.entries);
    return archive;
}

void removeLeftPartials() {
    for (char* partial : gPartial) {
        if (partial[0] != '\0') {
            unlink(partial);
            partial[0] = '\0';
        }
    }
}

// Writes the archives under temporary names, then gives them their own: all or none.
bool writeAll(const std::string& out, const Archive* archives[kArchives], std::string* error) {
    bool fine = true;
    for (size_t i = 0; i < kArchives && fine; ++i) {
        fine = writeArchive(out, *archives[i], gPartial[i], error);
    }
    size_t renamed = 0;
    for (; renamed < kArchives && fine; ++renamed) {
        std::string final = out + "/" + archives[renamed]->name;
        fine = rename(gPartial[renamed], final.c_str()) == 0;
        if (!fine) {
            *error = "cannot write " + final + ": " + strerror(errno);
            break;
        }
        gPartial[renamed][0] = '\0';
    }
    if (!fine) {
        for (size_t i = 0; i < renamed; ++i) {
            unlink((out + "/" + archives[i]->name).c_str());
        }
    }
    removeLeftPartials();
    return fine;
}

// The web story's files, coded into a temporary file beside the archives.
bool codeWebStory(const std::string& out, const StoryContents& contents, WebStory* story,
                  std::string* codedPath, std::string* error) {
    char* partial = gPartial[kArchives];
    FILE* coded = temporaryFile(out, webArchiveName(contents) + ".story", partial, error);
    if (coded == nullptr) {
        return false;
    }
    *codedPath = partial;
    bool fine = writeWebStory(contents, coded, story, error);
    if (fclose(coded) != 0 && fine) {
        *error = std::string("the web story cannot be written: ") + strerror(errno);
        fine = false;
    }
    return fine;
}

void printPacked(const StoryContents& contents, const std::string& out,
                 const Archive* archives[kArchives]) {
    printf("bexu-pack: \"%s\": %zu story files, %s\n", printableTitle(contents.title).c_str(),
           contents.files.size(), megabytes(contents.totalSize).c_str());
    for (const std::string& left : contents.leftOut) {
        printf("  left out: %s\n", left.c_str());
    }
    for (size_t i = 0; i < kArchives; ++i) {
        printf("  %s%s\n", folderPrefix(out).c_str(), archives[i]->name.c_str());
    }
}

int pack(const Options& options) {
    std::string error;
    PlayerSizes sizes = {};
    if (!checkInputs(options, &sizes, &error)) {
        return failure(error);
    }
    StoryContents contents;
    if (!checkBeforePacking(options, &contents)) {
        return 1;
    }
    if (!fitsZip(contents, sizes, &error)) {
        return failure(error + ": nothing packed");
    }
    const std::string& title = contents.fileTitle;
    std::string clash =
        clashingName(contents, {title + ".exe", "README.txt", title, title + ".desktop", "bexu"});
    if (!clash.empty()) {
        return failure("the story's file '" + clash +
                       "' has the name of one the packer adds: rename it");
    }
    signal(SIGINT, removePartials);
    signal(SIGTERM, removePartials);
    signal(SIGHUP, removePartials);
    WebStory story;
    std::string codedPath;
    if (!codeWebStory(options.out, contents, &story, &codedPath, &error)) {
        removeLeftPartials();
        return failure(error + ": nothing packed");
    }
    Archive windowsZip = windowsArchive(contents, options, sizes);
    Archive linuxTarball = linuxArchive(contents, options, sizes);
    Archive webZip = {webArchiveName(contents),
                      webArchiveEntries(contents, sizes.webPlayer, story, codedPath), true};
    const Archive* archives[kArchives] = {&windowsZip, &linuxTarball, &webZip};
    if (!writeAll(options.out, archives, &error)) {
        return failure(error + ": nothing packed");
    }
    printPacked(contents, options.out, archives);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    int exitCode = 0;
    if (!parseOptions(argc, argv, &options, &exitCode)) {
        return exitCode;
    }
    return pack(options);
}
