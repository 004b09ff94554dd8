#include "check/story_paths.h"

#include "check/check_text.h"

#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// As the kernel's own limit on links followed in one name.
constexpr int kMostLinks = 40;

// The walk through a name: the folders passed, as descriptors opened without following
// links. While inside the story folder, `below` holds the folders under it (the last
// is the current one); outside it, `outside` is the current folder.
struct Walk {
    int root;
    struct stat rootInfo;
    std::vector<int> below;
    std::vector<std::string> belowNames;
    int outside = -1;
    int links = 0;
    std::string lastLink;
    std::string lastTarget;
};

bool isInside(const Walk& walk) {
    return walk.outside < 0;
}

int current(const Walk& walk) {
    if (!isInside(walk)) {
        return walk.outside;
    }
    return walk.below.empty() ? walk.root : walk.below.back();
}

std::string insidePath(const Walk& walk, const std::string& name) {
    std::string path;
    for (const std::string& part : walk.belowNames) {
        path += part + "/";
    }
    return path + name;
}

void leaveBelow(Walk* walk) {
    for (int descriptor : walk->below) {
        close(descriptor);
    }
    walk->below.clear();
    walk->belowNames.clear();
}

void closeWalk(Walk* walk) {
    leaveBelow(walk);
    if (walk->outside >= 0) {
        close(walk->outside);
        walk->outside = -1;
    }
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Makes `folder`, a folder outside the story one, the current one; back inside when it
// is the story folder itself.
void enterOutside(Walk* walk, int folder) {
    struct stat info;
    leaveBelow(walk);
    if (walk->outside >= 0) {
        close(walk->outside);
    }
    walk->outside = folder;
    if (fstat(folder, &info) == 0 && sameFile(info, walk->rootInfo)) {
        close(folder);
        walk->outside = -1;
    }
}

void enterFolder(Walk* walk, int folder, const std::string& name) {
    if (isInside(*walk)) {
        walk->below.push_back(folder);
        walk->belowNames.push_back(name);
    } else {
        enterOutside(walk, folder);
    }
}

bool goUp(Walk* walk) {
    if (isInside(*walk) && !walk->below.empty()) {
        close(walk->below.back());
        walk->below.pop_back();
        walk->belowNames.pop_back();
        return true;
    }
    int parent = openat(current(*walk), "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) {
        return false;
    }
    enterOutside(walk, parent);
    return true;
}

std::deque<std::string> nameParts(const std::string& name) {
    std::deque<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        slash = slash == std::string::npos ? name.size() : slash;
        if (slash > start) {
            parts.push_back(name.substr(start, slash - start));
        }
        start = slash + 1;
    }
    return parts;
}

// Follows the link `link` (an O_PATH descriptor of it) met as `name`: its target's
// parts go before the rest of the name.
bool followLink(Walk* walk, int link, const std::string& name, std::deque<std::string>* parts) {
    char target[PATH_MAX];
    ssize_t length = readlinkat(link, "", target, sizeof target - 1);
    if (length <= 0 || ++walk->links > kMostLinks) {
        return false;
    }
    std::string held(target, static_cast<size_t>(length));
    if (isInside(*walk)) {
        walk->lastLink = insidePath(*walk, name);
        walk->lastTarget = held;
    }
    std::deque<std::string> more = nameParts(held);
    parts->insert(parts->begin(), more.begin(), more.end());
    if (held[0] == '/') {
        int top = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (top < 0) {
            return false;
        }
        enterOutside(walk, top);
    }
    return true;
}

// The last part: opened for reading, not following a link, and only when it is still
// the file that was looked at.
StoryOpen openLast(Walk* walk, int looked, const std::string& name, int* descriptor) {
    if (!isInside(*walk)) {
        return StoryOpen::Outside;
    }
    *descriptor =
        openat(current(*walk), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat was;
    struct stat now;
    if (*descriptor >= 0 && fstat(looked, &was) == 0 && fstat(*descriptor, &now) == 0 &&
        sameFile(was, now)) {
        return StoryOpen::Opened;
    }
    if (*descriptor >= 0) {
        close(*descriptor);
        *descriptor = -1;
    }
    return StoryOpen::Missing;
}

StoryOpen walkName(Walk* walk, std::deque<std::string> parts, bool folderMeant, int* descriptor) {
    while (!parts.empty()) {
        std::string part = parts.front();
        parts.pop_front();
        if (part == ".") {
            continue;
        }
        if (part == "..") {
            if (!goUp(walk)) {
                return StoryOpen::Missing;
            }
            continue;
        }
        int looked = openat(current(*walk), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat info;
        if (looked < 0 || fstat(looked, &info) != 0) {
            if (looked >= 0) {
                close(looked);
            }
            return StoryOpen::Missing;
        }
        if (S_ISLNK(info.st_mode)) {
            bool followed = followLink(walk, looked, part, &parts);
            close(looked);
            if (!followed) {
                return StoryOpen::Missing;
            }
            continue;
        }
        if (!parts.empty() || folderMeant) {
            if (!S_ISDIR(info.st_mode)) {
                close(looked);
                return StoryOpen::Missing;
            }
            enterFolder(walk, looked, part);
            continue;
        }
        StoryOpen result = openLast(walk, looked, part, descriptor);
        close(looked);
        return result;
    }
    // The name ends at a folder: no file to read.
    return isInside(*walk) ? StoryOpen::Missing : StoryOpen::Outside;
}

} // namespace

StoryFileOpened openInStoryAt(int folder, const std::string& name) {
    StoryFileOpened opened = {StoryOpen::Missing, -1, "", ""};
    Walk walk = {};
    walk.root = folder;
    if (name.empty() || fstat(folder, &walk.rootInfo) != 0) {
        return opened;
    }
    if (name[0] == '/') {
        int top = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (top < 0) {
            return opened;
        }
        enterOutside(&walk, top);
    }
    opened.result = walkName(&walk, nameParts(name), name.back() == '/', &opened.descriptor);
    if (opened.result == StoryOpen::Outside) {
        opened.link = walk.lastLink;
        opened.target = walk.lastTarget;
    }
    closeWalk(&walk);
    return opened;
}

StoryFileOpened openInStory(const std::string& folder, const std::string& name) {
    int root = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        return StoryFileOpened{StoryOpen::Missing, -1, "", ""};
    }
    StoryFileOpened opened = openInStoryAt(root, name);
    close(root);
    return opened;
}

void closeStoryFile(StoryFileOpened* opened) {
    if (opened->descriptor >= 0) {
        close(opened->descriptor);
        opened->descriptor = -1;
    }
}

std::string descriptorPath(int descriptor, const std::string& fallback) {
    std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    struct stat viaPath;
    struct stat viaDescriptor;
    if (stat(path.c_str(), &viaPath) == 0 && fstat(descriptor, &viaDescriptor) == 0 &&
        sameFile(viaPath, viaDescriptor)) {
        return path;
    }
    return fallback;
}

bool linkTrap(const StoryFileOpened& opened, const std::string& name, TrapFinding* out) {
    if (opened.result != StoryOpen::Outside || opened.link.empty()) {
        return false;
    }
    std::string how = opened.link == name
                          ? shown(name) + " is a link to "
                          : shown(name) + " goes through the link " + shown(opened.link) + " to ";
    *out = {Severity::Error, "path-link-outside", 0,
            how + shown(opened.target, 80) +
                ", outside the story folder: bexu-pack never packs what lies there, not even "
                "with --force; copy the file into the story folder instead"};
    return true;
}
