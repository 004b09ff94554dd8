// The SDL backend's sound device, as the rest of the backend sees it.
#pragma once

// Closes the sound device once it has had nothing to play for a second, so that its
// thread stops waking to play silence; the next sound opens it again. Called once per
// frame, before the loop sleeps.
void closePlayedOutSoundDevice();
