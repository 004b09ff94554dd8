// The one decoder of wave files: the Linux and web players play what it decodes, and the
// checker asks it about each sound. It takes what the Windows player's one-call player
// takes: a RIFF WAVE file whose data chunk follows its format chunk, in PCM of 8, 16, 24
// and 32 bits, IEEE float of 32 and 64 bits, A-law, mu-law, IMA ADPCM or MS ADPCM, of 1 to
// 8 channels at 3000 to 768000 frames a second. Samples come out as full-scale 32-bit
// integers, interleaved: an 8-bit sample s is (s - 128) << 24, a 16-bit one s << 16.
// Defensive: every length is cut to the bytes the file holds, so a short file claiming
// gigabytes costs what it holds.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

// The sound library's channel conversions reach 8 channels; browsers play the rates
// between these, and no other.
constexpr uint32_t kWaveMaxChannels = 8;
constexpr uint32_t kWaveMinRate = 3000;
constexpr uint32_t kWaveMaxRate = 768000;
// Larger files are no sound a story plays.
constexpr uint32_t kLargestWaveFile = 64u << 20;
// Most samples of all channels together a decoded sound may hold: as many as the largest
// 16-bit file holds, so that the web player, whose memory is capped, decodes it too.
constexpr uint64_t kWaveMaxSamples = kLargestWaveFile / 2;

// Format tags of the encodings the decoder knows.
enum : uint16_t {
    kWavePcm = 1,
    kWaveMsAdpcm = 2,
    kWaveFloat = 3,
    kWaveALaw = 6,
    kWaveMuLaw = 7,
    kWaveImaAdpcm = 0x11,
    kWaveExtensible = 0xFFFE,
};

// What a wave file holds, as its format chunk says.
struct WaveFormat {
    uint16_t encoding; // a format tag; for the extensible form, that of its sub-format
    uint32_t channels;
    uint32_t rate; // frames per second
    uint32_t bits; // per sample, as the file says
    uint32_t blockAlign;
    uint64_t frames; // that the data chunk holds
};

struct DecodedWave {
    uint32_t rate;     // frames per second
    uint32_t channels; // 1 to kWaveMaxChannels
    uint32_t frames;
    int32_t* samples; // frames * channels, from platformAllocate; none when frames is 0
};

// Everything decodeWave checks, without decoding: false, with the reason, for a file it
// refuses. A file this accepts decodes unless memory runs out.
bool readWaveFormat(const uint8_t* data, size_t size, WaveFormat* format);
// False, with a reason from waveFailureReason(), when the file is not a wave this
// decoder plays or memory runs out; `out` is then empty.
bool decodeWave(const uint8_t* data, size_t size, DecodedWave* out);
void freeDecodedWave(DecodedWave* wave);
// Why the last refusal happened, as a short English phrase; the platform's load
// reason (platformLoadFailure) is noted too.
const char* waveFailureReason();

// The wave file at `path`, read whole and decoded; false, with the reason noted, when
// it is missing, larger than kLargestWaveFile, unreadable or refused.
bool loadWave(const char* path, DecodedWave* out);
// The format of the wave file at `path`, read whole and checked but not decoded: why
// loadWave would refuse it, memory aside, or None. The reason is noted too.
LoadFailure inspectWaveFile(const char* path, WaveFormat* format);
