// Wave files through the multimedia library's one-call player.
#include "platform/win32/win32.h"

#include <mmsystem.h>

void platformPlaySound(const char* path) {
    if (path == nullptr) {
        return;
    }
    // SND_FILENAME | SND_ASYNC: returns at once, and a new call cuts the sound before.
    // The system names no reason when it refuses a file.
    bool started = PlaySoundA(path, nullptr, SND_FILENAME | SND_ASYNC) != FALSE;
    platformNoteLoadFailure(started ? LoadFailure::None : LoadFailure::Unreadable);
}
