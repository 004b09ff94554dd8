// Wave files through one SDL audio device, opened at a sound. The shared decoder reads
// the file; the sound library only converts its samples to the device's format and plays
// them from its queue. A new sound replaces the queued rest of the old one; the device
// plays on its own thread, so playing never blocks the frame loop. Played out, the device
// is closed: its thread would otherwise wake every 23 ms for ever to play silence. A
// device that cannot be opened is tried again at the next sound, as the Windows player
// tries at each.
#include "platform/platform.h"
#include "platform/sdl/sound_device.h"
#include "platform/sdl/sound_samples.h"

#include <SDL.h>

#include <fcntl.h>
#include <unistd.h>

namespace {
// Nothing queued for this long: the last samples have left the device's own buffers.
constexpr uint32_t kPlayedOutDelay = 1000;

SDL_AudioDeviceID device = 0;
SDL_AudioSpec deviceSpec;
bool audioStarted = false;
bool queueEmpty = false;
uint32_t queueEmptySince = 0;

// The sound library under SDL (ALSA) prints its own complaints on a machine without
// a sound card; the player writes only its fatal messages there, so standard error is
// closed off meanwhile.
int silenceStandardError() {
    int saved = dup(STDERR_FILENO);
    int nothing = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && nothing >= 0) {
        dup2(nothing, STDERR_FILENO);
    }
    if (nothing >= 0) {
        close(nothing);
    }
    return saved;
}

void restoreStandardError(int saved) {
    if (saved >= 0) {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
}

bool openDevice() {
    if (device != 0) {
        return true;
    }
    int savedError = silenceStandardError();
    if (!audioStarted) {
        audioStarted = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    }
    if (audioStarted) {
        SDL_AudioSpec wanted;
        SDL_zero(wanted);
        wanted.freq = 44100;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = 2;
        wanted.samples = 1024;
        device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &deviceSpec, SDL_AUDIO_ALLOW_ANY_CHANGE);
    }
    restoreStandardError(savedError);
    queueEmpty = false;
    return device != 0;
}

void queuePiece(const uint8_t* bytes, uint32_t length, void*) {
    SDL_QueueAudio(device, bytes, length);
}
} // namespace

void platformPlaySound(const char* path) {
    // Whatever comes of this call, the old sound stops.
    if (device != 0) {
        SDL_ClearQueuedAudio(device);
    }
    DecodedWave wave;
    if (!loadWave(path, &wave)) {
        return;
    }
    if (wave.frames > 0 && openDevice()) {
        // What was converted plays, should the conversion fail part way; an empty queue
        // closes the device as a played-out one.
        convertForDevice(wave, deviceSpec, queuePiece, nullptr);
        SDL_PauseAudioDevice(device, 0);
    }
    freeDecodedWave(&wave);
}

void closePlayedOutSoundDevice() {
    if (device == 0) {
        return;
    }
    if (SDL_GetQueuedAudioSize(device) != 0) {
        queueEmpty = false;
        return;
    }
    uint32_t now = platformTickCount();
    if (!queueEmpty) {
        queueEmpty = true;
        queueEmptySince = now;
    } else if (now - queueEmptySince >= kPlayedOutDelay) {
        SDL_CloseAudioDevice(device);
        device = 0;
    }
}
