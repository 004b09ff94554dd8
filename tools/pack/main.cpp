// bexu-pack STORY_DIR [--out DIR] [--force]: packs a story into release archives
// for readers, one for Windows, one for Linux and one for the web, after checking it.
#include "pack/archive_entry.h"
#include "pack/release_plan.h"
#include "pack/release_texts.h"

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

bool writeArchive(const std::string& outFolder, const ReleaseArchive& archive, char* partial,
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

// The story folder, the players and the output folder, before anything is read.
bool checkInputs(const Options& options, ReleasePlayers* players, std::string* error) {
    DIR* story = opendir(options.story.c_str());
    if (story == nullptr) {
        *error = "story folder '" + options.story + "' cannot be read: " + strerror(errno);
        return false;
    }
    closedir(story);
    *players =
        ReleasePlayers{options.windowsPlayer, options.linuxPlayer, options.webPlayer, 0, 0, {}};
    return checkReleasePlayers(players, error) && makeFolder(options.out, error);
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
bool writeAll(const std::string& out, const ReleaseArchive* archives[kArchives],
              std::string* error) {
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

// The web archive, its story's files coded into a temporary file beside the archives.
bool planWebArchiveIn(const std::string& out, const ReleasePlan& plan,
                      const ReleasePlayers& players, ReleaseArchive* archive, std::string* error) {
    char* partial = gPartial[kArchives];
    FILE* coded = temporaryFile(out, webArchiveName(plan.contents) + ".story", partial, error);
    if (coded == nullptr) {
        return false;
    }
    bool fine = planWebArchive(plan, players, coded, partial, archive, error);
    if (fclose(coded) != 0 && fine) {
        *error = std::string("the web story cannot be written: ") + strerror(errno);
        fine = false;
    }
    return fine;
}

void printPacked(const StoryContents& contents, const std::string& out,
                 const ReleaseArchive* archives[kArchives]) {
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
    ReleasePlayers players;
    if (!checkInputs(options, &players, &error)) {
        return failure(error);
    }
    ReleasePlan plan = planRelease(options.story, players, options.force);
    fputs(plan.findings.c_str(), stdout);
    if (!plan.refusal.empty()) {
        return failure(plan.refusal);
    }
    signal(SIGINT, removePartials);
    signal(SIGTERM, removePartials);
    signal(SIGHUP, removePartials);
    ReleaseArchive web;
    if (!planWebArchiveIn(options.out, plan, players, &web, &error)) {
        removeLeftPartials();
        return failure(error + ": nothing packed");
    }
    const ReleaseArchive* archives[kArchives] = {&plan.archives[0], &plan.archives[1], &web};
    if (!writeAll(options.out, archives, &error)) {
        return failure(error + ": nothing packed");
    }
    printPacked(plan.contents, options.out, archives);
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
