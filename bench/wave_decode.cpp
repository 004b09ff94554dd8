// Decoding the demo's sounds: the players' shared decoder beside SDL's WAV loader, which
// the Linux player used before it, each from the file's bytes in memory. The "ToDevice"
// pair adds the conversion to the device's format (44100 Hz, 16-bit stereo): SDL's
// one-shot SDL_BuildAudioCVT/SDL_ConvertAudio as the player did it, against the stream
// conversion of the decoded samples (convertForDevice). Argument: the sound, by its place
// in kSounds; 4 for all of them. Compare medians:
//   bench_wave_decode --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include "platform/sdl/sound_samples.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const kSounds[] = {"ahoy.wav", "bell.wav", "chime.wav", "waves.wav"};
constexpr int64_t kAll = 4;

std::vector<std::vector<uint8_t>> demoSounds(benchmark::State& state) {
    std::vector<std::vector<uint8_t>> sounds;
    int64_t which = state.range(0);
    for (int64_t i = 0; i < kAll; ++i) {
        if (which != kAll && which != i) {
            continue;
        }
        std::vector<uint8_t> bytes;
        FILE* file = fopen((std::string(BEXU_DEMO_DIR) + "/" + kSounds[i]).c_str(), "rb");
        uint8_t buffer[65536];
        size_t got = 0;
        while (file != nullptr && (got = fread(buffer, 1, sizeof buffer, file)) > 0) {
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        if (file != nullptr) {
            fclose(file);
        }
        sounds.push_back(bytes);
    }
    state.SetLabel(which == kAll ? "all four" : kSounds[which]);
    return sounds;
}

SDL_AudioSpec deviceFormat() {
    SDL_AudioSpec device;
    SDL_zero(device);
    device.freq = 44100;
    device.format = AUDIO_S16SYS;
    device.channels = 2;
    return device;
}

// SDL's loader; with `toDevice`, then its conversion as the player made it.
void loadWithSdl(benchmark::State& state, bool toDevice) {
    std::vector<std::vector<uint8_t>> sounds = demoSounds(state);
    SDL_AudioSpec device = deviceFormat();
    for (auto _ : state) {
        for (const std::vector<uint8_t>& bytes : sounds) {
            SDL_AudioSpec file;
            Uint8* samples = nullptr;
            Uint32 length = 0;
            SDL_RWops* stream = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
            if (SDL_LoadWAV_RW(stream, 1, &file, &samples, &length) == nullptr) {
                state.SkipWithError(SDL_GetError());
                return;
            }
            if (toDevice) {
                SDL_AudioCVT conversion;
                SDL_BuildAudioCVT(&conversion, file.format, file.channels, file.freq, device.format,
                                  device.channels, device.freq);
                conversion.len = static_cast<int>(length);
                conversion.buf = static_cast<Uint8*>(
                    SDL_malloc(static_cast<size_t>(length) * conversion.len_mult));
                SDL_memcpy(conversion.buf, samples, length);
                SDL_ConvertAudio(&conversion);
                benchmark::DoNotOptimize(conversion.buf[0]);
                SDL_free(conversion.buf);
            }
            benchmark::DoNotOptimize(samples[0]);
            SDL_FreeWAV(samples);
        }
    }
}

void takePiece(const uint8_t* bytes, uint32_t, void*) {
    benchmark::DoNotOptimize(bytes[0]);
}

// The shared decoder; with `toDevice`, then the SDL backend's conversion of its samples.
void decodeShared(benchmark::State& state, bool toDevice) {
    std::vector<std::vector<uint8_t>> sounds = demoSounds(state);
    SDL_AudioSpec device = deviceFormat();
    for (auto _ : state) {
        for (const std::vector<uint8_t>& bytes : sounds) {
            DecodedWave wave;
            if (!decodeWave(bytes.data(), bytes.size(), &wave)) {
                state.SkipWithError(waveFailureReason());
                return;
            }
            if (toDevice) {
                convertForDevice(wave, device, takePiece, nullptr);
            }
            benchmark::DoNotOptimize(wave.samples[0]);
            freeDecodedWave(&wave);
        }
    }
}

void BM_SdlLoader(benchmark::State& state) {
    loadWithSdl(state, false);
}
void BM_SharedDecoder(benchmark::State& state) {
    decodeShared(state, false);
}
void BM_SdlLoaderToDevice(benchmark::State& state) {
    loadWithSdl(state, true);
}
void BM_SharedDecoderToDevice(benchmark::State& state) {
    decodeShared(state, true);
}

} // namespace

BENCHMARK(BM_SdlLoader)->DenseRange(0, kAll)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SharedDecoder)->DenseRange(0, kAll)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SdlLoaderToDevice)->Arg(kAll)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SharedDecoderToDevice)->Arg(kAll)->Unit(benchmark::kMicrosecond);
