// The players' WAV decoder on any bytes: it either refuses them with a reason or
// decodes no more samples than the bytes can hold (4-bit ADPCM at most two per
// byte), each of them readable, within its bounds.
#include "platform/platform.h"
#include "platform/soft/wave_decoder.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A buffer of exactly the input's size, so any read past it is reported.
    std::vector<uint8_t> file(data, data + size);
    DecodedWave wave;
    if (!decodeWave(file.data(), file.size(), &wave)) {
        if (wave.samples != nullptr || waveFailureReason()[0] == '\0') {
            fprintf(stderr, "a refusal kept samples or gave no reason\n");
            abort();
        }
        return 0;
    }
    uint64_t samples = uint64_t{wave.frames} * wave.channels;
    if (wave.channels == 0 || wave.channels > kWaveMaxChannels || wave.rate == 0 ||
        samples > 2 * uint64_t{size} || samples > kWaveMaxSamples) {
        fprintf(stderr, "decoded %u frames of %u channels from %zu bytes\n", wave.frames,
                wave.channels, size);
        abort();
    }
    volatile uint32_t sum = 0;
    for (uint64_t i = 0; i < samples; ++i) {
        sum = sum + static_cast<uint32_t>(wave.samples[i]);
    }
    freeDecodedWave(&wave);
    return 0;
}
