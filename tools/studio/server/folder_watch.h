// Tells when anything under a folder changes: inotify on the folder and each folder in
// it, or, where inotify cannot be had, a look at the listing twice a second. A burst
// of changes (an editor's save) counts once.
#pragma once

#include <cstdint>
#include <string>

struct FolderWatch;

// Starts watching on a thread of its own; it lives as long as the process.
FolderWatch* startFolderWatch(const std::string& root);
// The number of changes so far.
uint64_t changeCount(FolderWatch* watch);
// Waits until the count is past `seen`, at most `milliseconds`; returns the count.
uint64_t waitForChange(FolderWatch* watch, uint64_t seen, uint32_t milliseconds);
