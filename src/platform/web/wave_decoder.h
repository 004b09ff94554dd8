// A decoder of WAV files in the encodings the desktop plays: PCM of 8, 16, 24 and
// 32 bits, IEEE float of 32 and 64 bits, A-law, mu-law, IMA ADPCM and MS ADPCM. Samples come out
// as full-scale 32-bit integers, interleaved: an 8-bit sample s is (s - 128) << 24,
// a 16-bit one s << 16. Defensive: every length is cut to the bytes the file holds,
// so a short file claiming gigabytes costs what it holds. Builds on any platform.
#pragma once

#include <cstddef>
#include <cstdint>

struct DecodedWave {
    uint32_t rate;     // frames per second
    uint32_t channels; // 1 to kWaveMaxChannels
    uint32_t frames;
    int32_t* samples; // frames * channels, from platformAllocate; none when frames is 0
};

constexpr uint32_t kWaveMaxChannels = 32;
// Most samples of all channels together a decoded sound may hold (256 MiB of them).
constexpr uint64_t kWaveMaxSamples = uint64_t{1} << 26;

// False, with a reason from waveFailureReason(), when the file is not a wave this
// decoder plays or memory runs out; `out` is then empty.
bool decodeWave(const uint8_t* data, size_t size, DecodedWave* out);
void freeDecodedWave(DecodedWave* wave);
// Why the last decodeWave failed, as a short English phrase; the platform's load
// reason (platformLoadFailure) is noted too.
const char* waveFailureReason();
