#include "pack/story_contents.h"

#include "check/author_traps.h"
#include "check/story_paths.h"
#include "format/story_format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// In the order the player opens them.
const char* const kFixedFiles[] = {kScriptFileName, kTitleFileName, kFontFileName, kTileFileName};
constexpr size_t kLongestFileTitle = 64;
// Enough of a title to name the files.
constexpr size_t kTitleKept = 4096;

std::string lowered(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// The non-empty parts of a '/'-separated name, '.' and '..' as written.
std::vector<std::string> nameParts(const std::string& name) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = std::min(name.find('/', start), name.size());
        if (slash > start) {
            parts.push_back(name.substr(start, slash - start));
        }
        start = slash + 1;
    }
    return parts;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        out += (i == 0 ? "" : "/") + parts[i];
    }
    return out;
}

enum class Resolved { Fine, Missing, Refused };

// Follows `name` as a reader's player would from the unpacked story `folder`. Fine
// gives the relative path and the folders passed through; Refused gives the reason.
Resolved resolveName(const std::string& folder, const std::string& name, std::string* path,
                     std::vector<std::string>* folders, std::string* why) {
    if (absoluteName(name)) {
        *why = "is an absolute path, which the unpacked story cannot reach: name the file from "
               "the story folder";
        return Resolved::Refused;
    }
    if (name.find('\\') != std::string::npos) {
        *why = "holds '\\', which only Windows reads as a folder separator: write '/'";
        return Resolved::Refused;
    }
    if (climbsOutOfFolder(name)) {
        *why = "leaves the story folder through '..': the unpacked story does not hold the file";
        return Resolved::Refused;
    }
    std::string onDisk;
    if (!findIgnoringCase(folder + "/" + name, &onDisk)) {
        return Resolved::Missing;
    }
    std::vector<std::string> written = nameParts(name);
    std::vector<std::string> found = nameParts(onDisk);
    found.erase(found.begin(), found.end() - static_cast<std::ptrdiff_t>(written.size()));
    std::vector<std::string> parts;
    std::vector<std::string> passed;
    for (size_t i = 0; i < written.size(); ++i) {
        if (written[i] != found[i]) {
            *why =
                "differs in case from '" + found[i] + "' on disk: Windows finds it, Linux does not";
            return Resolved::Refused;
        }
        if (written[i] == "..") {
            parts.pop_back();
        } else if (written[i] != ".") {
            parts.push_back(written[i]);
            if (i + 1 < written.size()) {
                passed.push_back(joined(parts) + "/");
            }
        }
    }
    if (parts.empty()) {
        return Resolved::Missing;
    }
    *path = joined(parts);
    *folders = passed;
    return Resolved::Fine;
}

// Adds `problem` unless the checker has told the same at the same place.
void addProblem(std::vector<Diagnostic>* problems, const Diagnostic& problem) {
    for (const Diagnostic& told : *problems) {
        if (told.file == problem.file && told.line == problem.line &&
            told.column == problem.column && told.code == problem.code) {
            return;
        }
    }
    problems->push_back(problem);
}

// Opens a story file as the packer reads it: never through a link out of the folder.
// A link that leads out is added to `problems` at the name's place (`line` 0: the
// file itself is meant), and the file is not opened.
StoryFileOpened openStoryFile(const std::string& folder, const std::string& path,
                              const std::string& written, const std::string& file, uint32_t line,
                              uint32_t column, std::vector<Diagnostic>* problems) {
    StoryFileOpened opened = openInStory(folder, path);
    TrapFinding trap;
    if (linkTrap(opened, written, &trap)) {
        addProblem(problems,
                   Diagnostic{trap.severity, file, line, column, trap.code, trap.message});
    }
    return opened;
}

bool plainFileSize(int descriptor, uint64_t* size) {
    struct stat info;
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

// Reads the first kTitleKept bytes of the title file, from which the file names are
// made; what the title may hold is the checker's to tell.
void readTitle(const std::string& folder, StoryContents* contents,
               std::vector<Diagnostic>* problems) {
    StoryFileOpened opened =
        openStoryFile(folder, "init.bexc", "init.bexc", "init.bexc", 0, 0, problems);
    int descriptor = opened.descriptor;
    struct stat info;
    if (descriptor < 0 || fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        closeStoryFile(&opened);
        return;
    }
    char buffer[kTitleKept];
    ssize_t got = read(descriptor, buffer, sizeof buffer);
    closeStoryFile(&opened);
    contents->title.assign(buffer, got > 0 ? static_cast<size_t>(got) : 0);
}

// Adds the file once, when it is a plain file inside the story folder. `added` holds
// the paths added so far; `written` is the name as the script has it, at `line`:`column`
// of `file` (line 0 for a file the player opens by its fixed name).
StoryFile* addFile(const std::string& folder, const std::string& path, const std::string& written,
                   const std::string& file, uint32_t line, uint32_t column,
                   std::set<std::string>* added, StoryContents* contents,
                   std::vector<Diagnostic>* problems) {
    if (added->count(path) != 0) {
        for (StoryFile& known : contents->files) {
            if (known.path == path) {
                return &known;
            }
        }
    }
    StoryFileOpened opened = openStoryFile(folder, path, written, file, line, column, problems);
    uint64_t size = 0;
    StoryFile* made = nullptr;
    if (opened.result == StoryOpen::Opened && plainFileSize(opened.descriptor, &size)) {
        added->insert(path);
        auto order = static_cast<uint32_t>(contents->files.size());
        contents->files.push_back(StoryFile{path, folder + "/" + path, size, false, false, order});
        contents->totalSize += size;
        made = &contents->files.back();
    }
    closeStoryFile(&opened);
    return made;
}

void addUses(const std::string& folder, const FileUses& uses, std::set<std::string>* added,
             StoryContents* contents, std::vector<Diagnostic>* problems) {
    std::set<std::string> folders;
    for (const FileUse& use : uses.uses) {
        std::string path;
        std::vector<std::string> passed;
        std::string why;
        Resolved resolved = resolveName(folder, use.name, &path, &passed, &why);
        if (resolved == Resolved::Refused) {
            std::string what = use.scene ? "scene '" : "sound '";
            problems->push_back(Diagnostic{Severity::Error, "script.bexu", use.line, use.column,
                                           "unpackable-name", what + use.name + "' " + why});
        } else if (resolved == Resolved::Fine) {
            StoryFile* file = addFile(folder, path, use.name, "script.bexu", use.line, use.column,
                                      added, contents, problems);
            if (file != nullptr) {
                file->bitmap = file->bitmap || use.scene;
                file->wave = file->wave || !use.scene;
            }
            folders.insert(passed.begin(), passed.end());
        }
    }
    contents->folders.assign(folders.begin(), folders.end());
}

// Lists what below `relative` is not packed; a folder none of whose files are
// packed is listed whole. Returns how many files the folder holds.
size_t listLeftOut(const std::string& folder, const std::string& relative,
                   const std::set<std::string>& packed, std::vector<std::string>* leftOut,
                   bool* anyPacked) {
    std::vector<std::string> names;
    if (DIR* dir = opendir((folder + "/" + relative).c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
                names.push_back(entry->d_name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    size_t count = 0;
    for (const std::string& name : names) {
        std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat info;
        bool isFolder = lstat((folder + "/" + path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        if (!isFolder) {
            ++count;
            if (packed.count(path) != 0) {
                *anyPacked = true;
            } else {
                leftOut->push_back(path);
            }
            continue;
        }
        std::vector<std::string> inside;
        bool packedInside = false;
        size_t files = listLeftOut(folder, path, packed, &inside, &packedInside);
        count += files;
        if (packedInside) {
            *anyPacked = true;
            leftOut->insert(leftOut->end(), inside.begin(), inside.end());
        } else {
            leftOut->push_back(path + "/ (" + std::to_string(files) +
                               (files == 1 ? " file)" : " files)"));
        }
    }
    return count;
}

bool windowsDeviceName(const std::string& name) {
    std::string base = lowered(name.substr(0, name.find('.')));
    static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
    for (const char* device : kDevices) {
        if (base == device) {
            return true;
        }
    }
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '0' && base[3] <= '9';
}

std::string folderName(const std::string& folder) {
    char resolved[PATH_MAX];
    std::string path = realpath(folder.c_str(), resolved) != nullptr ? resolved : folder;
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool unforceable(const Diagnostic& problem) {
    return problem.code == "path-link-outside";
}

std::string safeFileTitle(const std::string& title) {
    std::string out;
    for (char c : title) {
        bool kept = isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        char next = kept ? c : '-';
        if (next == '-' && !out.empty() && out.back() == '-') {
            continue;
        }
        out.push_back(next);
    }
    auto trim = [](std::string* text) {
        size_t first = text->find_first_not_of("-.");
        size_t last = text->find_last_not_of("-.");
        *text = first == std::string::npos ? "" : text->substr(first, last - first + 1);
    };
    trim(&out);
    if (out.size() > kLongestFileTitle) {
        out.resize(kLongestFileTitle);
        trim(&out);
    }
    if (out.empty()) {
        return "story";
    }
    return windowsDeviceName(out) ? out + "-story" : out;
}

StoryContents gatherStory(const std::string& folder, const FileUses& uses,
                          std::vector<Diagnostic>* problems) {
    StoryContents contents = {};
    std::set<std::string> added;
    contents.folder = folder;
    for (const char* name : kFixedFiles) {
        StoryFile* file = addFile(folder, name, name, name, 0, 0, &added, &contents, problems);
        if (file != nullptr) {
            file->bitmap = strcmp(name, kFontFileName) == 0 || strcmp(name, kTileFileName) == 0;
        }
    }
    addUses(folder, uses, &added, &contents, problems);
    std::sort(contents.files.begin(), contents.files.end(),
              [](const StoryFile& a, const StoryFile& b) { return a.path < b.path; });
    readTitle(folder, &contents, problems);
    if (contents.title.empty()) {
        contents.title = folderName(folder);
    }
    contents.fileTitle = safeFileTitle(contents.title);
    bool anyPacked = false;
    listLeftOut(folder, "", added, &contents.leftOut, &anyPacked);
    return contents;
}
