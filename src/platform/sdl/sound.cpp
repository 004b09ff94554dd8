// Wave files through one SDL audio device, opened at a sound. A new sound replaces
// the queued rest of the old one; the device plays on its own thread, so playing never
// blocks the frame loop. Played out, the device is closed: its thread would otherwise
// wake every 23 ms for ever to play silence.
#include "platform/platform.h"
#include "platform/sdl/sound_device.h"
#include "platform/sdl/wave_chunks.h"

#include <SDL.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Nothing queued for this long: the last samples have left the device's own buffers.
constexpr uint32_t kPlayedOutDelay = 1000;

SDL_AudioDeviceID device = 0;
SDL_AudioSpec deviceSpec;
bool audioStarted = false;
bool audioUnavailable = false; // tried once and failed: no more tries
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
    if (audioUnavailable) {
        return false;
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
    audioUnavailable = device == 0;
    queueEmpty = false;
    return device != 0;
}
// What the sound library said when it refused a file, as one of the load reasons.
LoadFailure failureOfLoader(const uint8_t* bytes, uint32_t size) {
    LoadFailure look = waveFailure(bytes, size);
    if (look != LoadFailure::None) {
        return look;
    }
    const char* error = SDL_GetError();
    if (strstr(error, "too big") != nullptr) {
        return LoadFailure::TooLarge;
    }
    if (strstr(error, "runcat") != nullptr || strstr(error, "end of WAVE") != nullptr) {
        return LoadFailure::Truncated;
    }
    return LoadFailure::Unreadable;
}
} // namespace

void platformPlaySound(const char* path) {
    if (path == nullptr || !openDevice()) {
        return;
    }
    // Whatever comes of this call, the old sound stops.
    SDL_ClearQueuedAudio(device);
    uint32_t size = 0;
    uint8_t* bytes = readWaveFile(path, &size);
    if (bytes == nullptr) {
        return;
    }
    clampWaveChunks(bytes, size);
    SDL_AudioSpec fileSpec;
    Uint8* samples = nullptr;
    Uint32 length = 0;
    SDL_RWops* stream = SDL_RWFromMem(bytes, static_cast<int>(size));
    bool loaded =
        stream != nullptr && SDL_LoadWAV_RW(stream, 1, &fileSpec, &samples, &length) != nullptr;
    platformNoteLoadFailure(loaded ? LoadFailure::None : failureOfLoader(bytes, size));
    platformFree(bytes);
    if (!loaded) {
        return;
    }
    SDL_AudioCVT conversion;
    int built = SDL_BuildAudioCVT(&conversion, fileSpec.format, fileSpec.channels, fileSpec.freq,
                                  deviceSpec.format, deviceSpec.channels, deviceSpec.freq);
    if (built < 0 ||
        length > static_cast<Uint32>(SDL_MAX_SINT32 / SDL_max(conversion.len_mult, 1))) {
        SDL_FreeWAV(samples);
        return;
    }
    if (built == 0) {
        SDL_QueueAudio(device, samples, length);
        SDL_FreeWAV(samples);
    } else {
        conversion.len = static_cast<int>(length);
        conversion.buf = static_cast<Uint8*>(
            SDL_malloc(static_cast<size_t>(length) * static_cast<size_t>(conversion.len_mult)));
        if (conversion.buf == nullptr) {
            SDL_FreeWAV(samples);
            return;
        }
        SDL_memcpy(conversion.buf, samples, length);
        SDL_FreeWAV(samples);
        if (SDL_ConvertAudio(&conversion) == 0) {
            SDL_QueueAudio(device, conversion.buf, static_cast<Uint32>(conversion.len_cvt));
        }
        SDL_free(conversion.buf);
    }
    SDL_PauseAudioDevice(device, 0);
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
