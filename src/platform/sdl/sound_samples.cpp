#include "platform/sdl/sound_samples.h"

namespace {
// Frames converted at a time. Puts of 1024 frames or more lose the last 512 frames of a
// resampled sound in SDL 2.26's stream; puts of 512 keep every one.
constexpr uint32_t kPieceFrames = 512;

// Hands on what the stream holds, in pieces of whole frames.
bool drain(SDL_AudioStream* stream, uint8_t* piece, int pieceBytes, SoundPieceTaker take,
           void* context) {
    for (;;) {
        int got = SDL_AudioStreamGet(stream, piece, pieceBytes);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        take(piece, static_cast<uint32_t>(got), context);
    }
}
} // namespace

bool convertForDevice(const DecodedWave& wave, const SDL_AudioSpec& device, SoundPieceTaker take,
                      void* context) {
    SDL_AudioStream* stream = SDL_NewAudioStream(AUDIO_S32SYS, static_cast<Uint8>(wave.channels),
                                                 static_cast<int>(wave.rate), device.format,
                                                 device.channels, device.freq);
    int pieceBytes =
        static_cast<int>(kPieceFrames * device.channels * SDL_AUDIO_BITSIZE(device.format) / 8);
    auto* piece = static_cast<uint8_t*>(SDL_malloc(static_cast<size_t>(pieceBytes)));
    bool converted = stream != nullptr && piece != nullptr;
    for (uint32_t frame = 0; converted && frame < wave.frames; frame += kPieceFrames) {
        uint32_t frames = wave.frames - frame < kPieceFrames ? wave.frames - frame : kPieceFrames;
        converted = SDL_AudioStreamPut(stream, wave.samples + size_t{frame} * wave.channels,
                                       static_cast<int>(frames * wave.channels * 4)) == 0 &&
                    drain(stream, piece, pieceBytes, take, context);
    }
    converted = converted && SDL_AudioStreamFlush(stream) == 0 &&
                drain(stream, piece, pieceBytes, take, context);
    SDL_free(piece);
    SDL_FreeAudioStream(stream);
    return converted;
}
