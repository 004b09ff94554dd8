// Wave loading as the SDL backend does it: SDL_LoadWAV_RW over the file's bytes,
// after the backend's cut of chunk lengths to the file, then conversion to the
// device's format, with the backend's own size guard.
// The library is the system's, so coverage comes only from what the harness sees
// of the result; crashes and bad reads through intercepted calls are still caught.
#include "platform/sdl/wave_chunks.h"

#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// What the backend asks of the device; the dummy device grants it unchanged.
constexpr SDL_AudioFormat kDeviceFormat = AUDIO_S16SYS;
constexpr Uint8 kDeviceChannels = 2;
constexpr int kDeviceRate = 44100;

void convertLikeTheBackend(const SDL_AudioSpec& fileSpec, Uint8* samples, Uint32 length) {
    SDL_AudioCVT conversion;
    int built = SDL_BuildAudioCVT(&conversion, fileSpec.format, fileSpec.channels, fileSpec.freq,
                                  kDeviceFormat, kDeviceChannels, kDeviceRate);
    if (built <= 0 ||
        length > static_cast<Uint32>(SDL_MAX_SINT32 / SDL_max(conversion.len_mult, 1))) {
        return;
    }
    conversion.len = static_cast<int>(length);
    conversion.buf = static_cast<Uint8*>(
        SDL_malloc(static_cast<size_t>(length) * static_cast<size_t>(conversion.len_mult)));
    if (conversion.buf == nullptr) {
        return;
    }
    SDL_memcpy(conversion.buf, samples, length);
    if (SDL_ConvertAudio(&conversion) == 0 && conversion.len_cvt > 0) {
        // Touch the converted bytes as the device would.
        volatile Uint8 last = conversion.buf[conversion.len_cvt - 1];
        (void)last;
    }
    SDL_free(conversion.buf);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    clampWaveChunks(file.data(), file.size());
    // What the look refuses, the sound library must refuse too: the checker's warnings
    // rest on it.
    LoadFailure look = waveFailure(file.data(), file.size());
    SDL_RWops* bytes = SDL_RWFromMem(file.data(), static_cast<int>(file.size()));
    if (bytes == nullptr) {
        return 0;
    }
    SDL_AudioSpec fileSpec;
    Uint8* samples = nullptr;
    Uint32 length = 0;
    if (SDL_LoadWAV_RW(bytes, 1, &fileSpec, &samples, &length) == nullptr) {
        return 0;
    }
    if (look != LoadFailure::None) {
        fprintf(stderr, "the sound library loads what the look calls %s\n", loadFailureText(look));
        abort();
    }
    // Distinct outcomes count as coverage, so inputs that load differently are kept.
    volatile int outcome = 0;
    switch (fileSpec.format) {
    case AUDIO_U8:
        outcome = 1;
        break;
    case AUDIO_S16LSB:
        outcome = 2;
        break;
    case AUDIO_S32LSB:
        outcome = 3;
        break;
    case AUDIO_F32LSB:
        outcome = 4;
        break;
    default:
        outcome = 5;
        break;
    }
    if (fileSpec.channels > 2) {
        outcome = outcome + 10;
    }
    if (length > 0) {
        volatile Uint8 last = samples[length - 1];
        (void)last;
    }
    convertLikeTheBackend(fileSpec, samples, length);
    SDL_FreeWAV(samples);
    return 0;
}
