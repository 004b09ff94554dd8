#include "pack/release_plan.h"

#include "check/story_check.h"
#include "check/story_files.h"
#include "pack/release_texts.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// Sizes and offsets of a zip archive have 32 bits; 1 MiB is room for the rest. The web
// archive's coded story is never larger than the story.
bool fitsZip(const StoryContents& contents, const ReleasePlayers& players, std::string* error) {
    uint64_t webPlayer = 0;
    for (uint64_t size : players.webPlayer.sizes) {
        webPlayer += size;
    }
    uint64_t largest = std::max(players.windowsSize, webPlayer);
    if (contents.totalSize + largest + (1u << 20) > UINT32_MAX) {
        *error = "the story's files come to " + megabytes(contents.totalSize) +
                 "; a zip archive holds at most 4.2 GB";
        return false;
    }
    return true;
}

ReleaseArchive windowsArchive(const StoryContents& contents, const ReleasePlayers& players) {
    const std::string& title = contents.fileTitle;
    std::string top = title + "/";
    ReleaseArchive archive = {title + "-windows.zip", {}, true};
    archive.entries = {folderEntry(top),
                       fileEntry(top + title + ".exe", players.windows, players.windowsSize, true),
                       madeEntry(top + "README.txt", windowsReadMe(contents.title, title), false)};
    addStoryEntries(contents, top, &archive.entries);
    return archive;
}

ReleaseArchive linuxArchive(const StoryContents& contents, const ReleasePlayers& players) {
    const std::string& title = contents.fileTitle;
    std::string top = title + "/";
    ReleaseArchive archive = {title + "-linux-x86_64.tar.gz", {}, false};
    archive.entries = {
        folderEntry(top), madeEntry(top + title, linuxLauncher(), true),
        madeEntry(top + title + ".desktop", desktopEntry(contents.title, title), true),
        madeEntry(top + "README.txt", linuxReadMe(contents.title, title), false),
        fileEntry(top + "bexu", players.linux, players.linuxSize, true)};
    addStoryEntries(contents, top, &archive.entries);
    return archive;
}

// The check; the refusal is set when the story may not be packed.
void checkStoryForRelease(const std::string& story, bool force, ReleasePlan* plan) {
    // One walk of the play: the check lists the files it meets.
    CheckReport report = checkStory(story);
    FileUses uses = {report.readable, report.uses};
    plan->contents = gatherStory(story, uses, &report.diagnostics);
    std::stable_sort(report.diagnostics.begin(), report.diagnostics.end(),
                     [](const Diagnostic& a, const Diagnostic& b) {
                         if (a.file != b.file) {
                             return a.file < b.file;
                         }
                         return a.line != b.line ? a.line < b.line : a.column < b.column;
                     });
    plan->findings = formatText(report, folderPrefix(story));
    auto linkedOut = static_cast<uint32_t>(
        std::count_if(report.diagnostics.begin(), report.diagnostics.end(), unforceable));
    if (linkedOut > 0) {
        plan->refusal = std::to_string(linkedOut) + " link" + (linkedOut == 1 ? "" : "s") +
                        " lead" + (linkedOut == 1 ? "s" : "") +
                        " out of the story folder: nothing packed, not even with --force (copy "
                        "the files into the story folder)";
        return;
    }
    if (!report.readable) {
        plan->refusal = folderPrefix(story) + "script.bexu cannot be read: nothing packed";
        return;
    }
    uint32_t errors = countSeverity(report, Severity::Error);
    if (errors > 0 && !force) {
        plan->refusal = std::to_string(errors) + " error" + (errors == 1 ? "" : "s") +
                        ": nothing packed (--force packs the story as it is)";
    }
}

} // namespace

bool checkReleasePlayers(ReleasePlayers* players, std::string* error) {
    static const char kElfMark[] = {0x7f, 'E', 'L', 'F', 0};
    return checkPlayer(players->windows, "MZ", "Windows player",
                       "build it (cmake --preset win32 && cmake --build --preset win32) or name "
                       "one with --windows-player",
                       &players->windowsSize, error) &&
           checkPlayer(players->linux, kElfMark, "Linux player",
                       "build bexu-static or name one with --linux-player", &players->linuxSize,
                       error) &&
           checkWebPlayer(players->web, &players->webPlayer, error);
}

ReleasePlan planRelease(const std::string& story, const ReleasePlayers& players, bool force) {
    ReleasePlan plan;
    checkStoryForRelease(story, force, &plan);
    if (!plan.refusal.empty()) {
        return plan;
    }
    std::string error;
    if (!fitsZip(plan.contents, players, &error)) {
        plan.refusal = error + ": nothing packed";
        return plan;
    }
    const std::string& title = plan.contents.fileTitle;
    std::string clash = clashingName(
        plan.contents, {title + ".exe", "README.txt", title, title + ".desktop", "bexu"});
    if (!clash.empty()) {
        plan.refusal =
            "the story's file '" + clash + "' has the name of one the packer adds: rename it";
        return plan;
    }
    plan.archives = {windowsArchive(plan.contents, players), linuxArchive(plan.contents, players)};
    return plan;
}

bool planWebArchive(const ReleasePlan& plan, const ReleasePlayers& players, FILE* coded,
                    const std::string& codedPath, ReleaseArchive* archive, std::string* error) {
    WebStory story;
    if (!writeWebStory(plan.contents, coded, &story, error)) {
        return false;
    }
    *archive = {webArchiveName(plan.contents),
                webArchiveEntries(plan.contents, players.webPlayer, story, codedPath), true};
    return true;
}

std::string megabytes(uint64_t bytes) {
    char text[32];
    snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}
