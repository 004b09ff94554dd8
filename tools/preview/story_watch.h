// Tells when a file of a story folder is saved, moved in or removed, by the kernel's file
// notifications (inotify), for the folder and every folder below it.
#pragma once

#include <string>

struct StoryWatch {
    int descriptor = -1;
};

// False when the folder cannot be watched.
bool startWatching(StoryWatch* watch, const std::string& folder);
// Whether a file changed since the last call. Waits `settleMs` after a change for the
// writes that follow it (an editor's save is several), so the play starts on whole files.
// Names that begin with '.' or end with '~' (editors' own files) do not count.
bool storyChanged(StoryWatch* watch, int settleMs);
void stopWatching(StoryWatch* watch);
