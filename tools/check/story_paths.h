// Opening a story's files without ever reading through a link that leads out of the
// story folder. Each part of a name is opened in turn from the folder's own descriptor,
// links are read from the descriptor that was opened and followed by hand, and the
// file comes back open: whoever reads it reads what was checked, even when a part of
// the name is swapped for a link meanwhile. A link that stays inside the folder, or
// leaves and comes back into it, is followed.
#pragma once

#include "check/author_traps.h"

#include <string>

enum class StoryOpen { Opened, Missing, Outside };

struct StoryFileOpened {
    StoryOpen result;
    int descriptor;     // Opened: open read-only, not blocking; the caller closes it
    std::string link;   // Outside: the last link followed, relative to the story folder
    std::string target; // Outside: what that link holds (empty when the name itself leaves)
};

// Opens `name` (relative to the story folder `folder`, '/'-separated as the player
// reads it) for reading. Outside when the file lies outside the folder; Missing when
// some part is not there, cannot be opened, or links go round for ever.
StoryFileOpened openInStory(const std::string& folder, const std::string& name);
// The same from the story folder's open descriptor.
StoryFileOpened openInStoryAt(int folder, const std::string& name);

// Closes what `opened` holds.
void closeStoryFile(StoryFileOpened* opened);

// A path that opens the very file `descriptor` holds (/proc/self/fd/N), for code that
// opens files by name; `fallback` where the system has no such paths.
std::string descriptorPath(int descriptor, const std::string& fallback);

// The finding of a name that leads out of the story folder through a link: an error at
// the name, since bexu-pack never packs what lies there. False unless `opened` is
// Outside through a link. Offset 0 is the name's first byte.
bool linkTrap(const StoryFileOpened& opened, const std::string& name, TrapFinding* out);
