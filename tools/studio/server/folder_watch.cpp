#include "studio/server/folder_watch.h"

#include "studio/server/served_files.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <dirent.h>
#include <mutex>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                             IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
// Changes closer together than this are one.
constexpr int kQuietMs = 40;
constexpr int kPollMs = 500;
constexpr size_t kMostWatches = 8192;
constexpr size_t kMostListed = 100000;

} // namespace

struct FolderWatch {
    std::string root;
    int inotify;
    std::vector<std::string> watched; // real folders
    std::mutex lock;
    std::condition_variable changed;
    uint64_t count;
};

namespace {

void noteChange(FolderWatch* watch) {
    {
        std::lock_guard<std::mutex> held(watch->lock);
        ++watch->count;
    }
    watch->changed.notify_all();
}

// Watches `folder` and every folder in it that stays inside the root.
void watchTree(FolderWatch* watch, const std::string& folder) {
    char real[PATH_MAX];
    if (realpath(folder.c_str(), real) == nullptr || watch->watched.size() >= kMostWatches ||
        std::find(watch->watched.begin(), watch->watched.end(), real) != watch->watched.end() ||
        (std::string(real) != watch->root &&
         std::string(real).compare(0, watch->root.size() + 1, watch->root + "/") != 0)) {
        return;
    }
    watch->watched.push_back(real);
    inotify_add_watch(watch->inotify, real, kEvents);
    DIR* directory = opendir(real);
    if (directory == nullptr) {
        return;
    }
    while (dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        struct stat info;
        std::string path = std::string(real) + "/" + name;
        if (name != "." && name != ".." && stat(path.c_str(), &info) == 0 &&
            S_ISDIR(info.st_mode)) {
            watchTree(watch, path);
        }
    }
    closedir(directory);
}

// Reads what is pending; true when something happened. New folders are watched too.
bool drainEvents(FolderWatch* watch) {
    alignas(inotify_event) char buffer[64 * 1024];
    bool any = false;
    for (;;) {
        ssize_t got = read(watch->inotify, buffer, sizeof buffer);
        if (got <= 0) {
            return any;
        }
        any = true;
        for (char* at = buffer; at < buffer + got;) {
            auto* event = reinterpret_cast<inotify_event*>(at);
            // Folders come and go: the tree is watched anew, which skips what is known.
            if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0 && (event->mask & IN_ISDIR) != 0) {
                watch->watched.clear();
                watchTree(watch, watch->root);
            }
            at += sizeof(inotify_event) + event->len;
        }
    }
}

void watchWithInotify(FolderWatch* watch) {
    pollfd waiting = {watch->inotify, POLLIN, 0};
    for (;;) {
        if (poll(&waiting, 1, -1) <= 0 || !drainEvents(watch)) {
            continue;
        }
        // The rest of the burst.
        while (poll(&waiting, 1, kQuietMs) > 0 && drainEvents(watch)) {
        }
        noteChange(watch);
    }
}

std::string listingKey(const std::string& root) {
    FolderListing listing = listFolder(root, kMostListed);
    std::string key;
    for (const ListedFile& file : listing.files) {
        key += file.path + '\n' + std::to_string(file.size) + ' ' + std::to_string(file.modified) +
               '\n';
    }
    return key;
}

void watchByLooking(FolderWatch* watch) {
    std::string seen = listingKey(watch->root);
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        std::string now = listingKey(watch->root);
        if (now != seen) {
            seen = now;
            noteChange(watch);
        }
    }
}

} // namespace

FolderWatch* startFolderWatch(const std::string& root) {
    auto* watch = new FolderWatch();
    watch->root = root;
    watch->count = 0;
    watch->inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch->inotify >= 0) {
        watchTree(watch, root);
        std::thread(watchWithInotify, watch).detach();
    } else {
        std::thread(watchByLooking, watch).detach();
    }
    return watch;
}

uint64_t changeCount(FolderWatch* watch) {
    std::lock_guard<std::mutex> held(watch->lock);
    return watch->count;
}

uint64_t waitForChange(FolderWatch* watch, uint64_t seen, uint32_t milliseconds) {
    std::unique_lock<std::mutex> held(watch->lock);
    watch->changed.wait_for(held, std::chrono::milliseconds(milliseconds),
                            [&] { return watch->count != seen; });
    return watch->count;
}
