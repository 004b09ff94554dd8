#include "preview/story_watch.h"

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr uint32_t kEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE | IN_ONLYDIR;
// Folders below the story's: enough for any story, few enough to watch cheaply.
constexpr int kMostFolders = 256;

void watchTree(int descriptor, const std::string& folder, int* folders) {
    if (*folders >= kMostFolders || inotify_add_watch(descriptor, folder.c_str(), kEvents) < 0) {
        return;
    }
    ++*folders;
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        return;
    }
    while (dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') {
            continue;
        }
        std::string path = folder + "/" + name;
        struct stat about;
        // Links are not followed: a link out of the story is no part of it.
        if (lstat(path.c_str(), &about) == 0 && S_ISDIR(about.st_mode)) {
            watchTree(descriptor, path, folders);
        }
    }
    closedir(listing);
}

bool counts(const inotify_event* event) {
    if (event->len == 0) {
        return false;
    }
    size_t length = strlen(event->name);
    return length > 0 && event->name[0] != '.' && event->name[length - 1] != '~';
}

// Reads the waiting events; true when one of them counts.
bool readEvents(int descriptor) {
    alignas(inotify_event) char buffer[16 * 1024];
    bool changed = false;
    for (;;) {
        ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got <= 0) {
            return changed;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            changed = changed || counts(event);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

} // namespace

bool startWatching(StoryWatch* watch, const std::string& folder) {
    watch->descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch->descriptor < 0) {
        return false;
    }
    int folders = 0;
    watchTree(watch->descriptor, folder, &folders);
    return folders > 0;
}

bool storyChanged(StoryWatch* watch, int settleMs) {
    if (watch->descriptor < 0 || !readEvents(watch->descriptor)) {
        return false;
    }
    pollfd waiting = {watch->descriptor, POLLIN, 0};
    while (poll(&waiting, 1, settleMs) > 0) {
        readEvents(watch->descriptor);
    }
    return true;
}

void stopWatching(StoryWatch* watch) {
    if (watch->descriptor >= 0) {
        close(watch->descriptor);
    }
    watch->descriptor = -1;
}
