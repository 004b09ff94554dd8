// Wave playing as the SDL backend does it: the shared decoder over the file's bytes,
// then the conversion of its samples to the device's format through the system's SDL2,
// for the format the backend asks for and for one a device may grant instead.
// What the decoder accepts, the conversion must take: the checker's word that a sound
// plays rests on it. SDL is not instrumented, so coverage comes from the decoder; crashes
// and bad reads through intercepted calls are still caught.
#include "platform/sdl/sound_samples.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

SDL_AudioSpec device(int rate, SDL_AudioFormat format, Uint8 channels) {
    SDL_AudioSpec wanted;
    SDL_zero(wanted);
    wanted.freq = rate;
    wanted.format = format;
    wanted.channels = channels;
    return wanted;
}

// Touches each converted byte as the device would.
void touch(const uint8_t* bytes, uint32_t length, void* context) {
    auto* sum = static_cast<uint32_t*>(context);
    for (uint32_t i = 0; i < length; ++i) {
        *sum += bytes[i];
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A buffer of exactly the input's size, so any read past it is reported.
    std::vector<uint8_t> file(data, data + size);
    DecodedWave wave;
    if (!decodeWave(file.data(), file.size(), &wave)) {
        return 0;
    }
    const SDL_AudioSpec devices[] = {device(44100, AUDIO_S16SYS, 2),
                                     device(48000, AUDIO_F32SYS, 6)};
    for (const SDL_AudioSpec& format : devices) {
        uint32_t added = 0;
        if (!convertForDevice(wave, format, touch, &added)) {
            fprintf(stderr,
                    "decoded %u frames of %u channels at %u Hz that SDL cannot convert: %s\n",
                    wave.frames, wave.channels, wave.rate, SDL_GetError());
            abort();
        }
        volatile uint32_t kept = added;
        (void)kept;
    }
    freeDecodedWave(&wave);
    return 0;
}
