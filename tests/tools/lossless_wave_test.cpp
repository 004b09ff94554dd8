// The lossless wave coding of the web story: bexu-pack's coder and the player's decoder
// give back every PCM wave byte for byte, in fewer bytes than deflate where there is
// sound to predict; other waves are left to deflate, and cut or wrong data is refused.
#include "pack/lossless_wave_encoder.h"
#include "platform/soft/lossless_wave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void put32(Bytes* out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

void putTag(Bytes* out, const char* tag) {
    out->insert(out->end(), tag, tag + 4);
}

struct Shape {
    uint16_t format = 1; // 1 PCM, 0xFFFE extensible, others refused
    uint16_t channels = 1;
    uint16_t bits = 16;
    uint32_t frames = 22050;
    int32_t claimed = -1;   // the data chunk's length field, when not the samples'
    bool listAfter = false; // a LIST chunk after the samples
};

// A RIFF wave of the shape whose samples `sample(frame, channel)` gives (as a signed
// value of the sample's bits).
template <typename Sample> Bytes wave(const Shape& shape, Sample sample) {
    Bytes samples;
    for (uint32_t i = 0; i < shape.frames; ++i) {
        for (uint32_t c = 0; c < shape.channels; ++c) {
            int32_t value = sample(i, c);
            if (shape.bits == 8) {
                samples.push_back(static_cast<uint8_t>(value + 128));
            } else if (shape.bits == 16) {
                put16(&samples, static_cast<uint32_t>(value));
            } else {
                samples.insert(samples.end(),
                               {0, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
            }
        }
    }
    Bytes body;
    putTag(&body, "WAVE");
    putTag(&body, "fmt ");
    bool extensible = shape.format == 0xFFFE;
    put32(&body, extensible ? 40 : 16);
    put16(&body, shape.format);
    put16(&body, shape.channels);
    put32(&body, 22050);
    put32(&body, 22050u * shape.channels * shape.bits / 8);
    put16(&body, shape.channels * shape.bits / 8);
    put16(&body, shape.bits);
    if (extensible) {
        put16(&body, 22);
        put16(&body, shape.bits);
        put32(&body, 0);
        put16(&body, 1); // the PCM sub-format
        body.insert(body.end(), 14, 0x10);
    }
    putTag(&body, "data");
    put32(&body, shape.claimed >= 0 ? static_cast<uint32_t>(shape.claimed)
                                    : static_cast<uint32_t>(samples.size()));
    body.insert(body.end(), samples.begin(), samples.end());
    if (samples.size() % 2 == 1) {
        body.push_back(0);
    }
    if (shape.listAfter) {
        putTag(&body, "LIST");
        put32(&body, 12);
        putTag(&body, "INFO");
        putTag(&body, "ISFT");
        put32(&body, 0);
    }
    Bytes file;
    putTag(&file, "RIFF");
    put32(&file, static_cast<uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

int32_t bell(uint32_t i, uint32_t channel) {
    double t = i / 22050.0;
    double v = 0.5 * sin(2 * M_PI * (440 + 220 * channel) * t) + 0.3 * sin(2 * M_PI * 1201 * t);
    return static_cast<int32_t>(lround(v * exp(-2 * t) * 20000));
}

uint32_t noiseState = 1;
int32_t noise16(uint32_t, uint32_t) {
    noiseState = noiseState * 1103515245u + 12345u;
    return static_cast<int16_t>(noiseState >> 16);
}

size_t deflatedSize(const Bytes& file) {
    uLongf size = compressBound(static_cast<uLong>(file.size()));
    Bytes out(size);
    compress2(out.data(), &size, file.data(), static_cast<uLong>(file.size()), 9);
    return size;
}

struct RoundTrip {
    const char* name;
    Bytes file;
    double mostOfDeflate; // the coded size at most this share of deflate's; 0: not checked
};

std::vector<RoundTrip> roundTrips() {
    Shape mono;
    Shape stereo;
    stereo.channels = 2;
    Shape bytes8;
    bytes8.bits = 8;
    bytes8.frames = 11025;
    Shape oneFrame;
    oneFrame.frames = 1;
    Shape oddWithList;
    oddWithList.bits = 8;
    oddWithList.frames = 4097;
    oddWithList.listAfter = true;
    Shape extensible;
    extensible.format = 0xFFFE;
    extensible.channels = 6;
    extensible.frames = 5000;
    Shape claimsMore;
    claimsMore.claimed = 1 << 30;
    Shape shortNoise;
    shortNoise.frames = 6000;
    return {
        {"bell", wave(mono, bell), 0.5},
        {"bell in stereo", wave(stereo, bell), 0.5},
        {"8 bits",
         wave(bytes8,
              [](uint32_t i, uint32_t) {
                  return static_cast<int32_t>(lround(100 * sin(i * (0.02 + i * 2e-6))));
              }),
         0.6},
        {"full-scale square",
         wave(mono, [](uint32_t i, uint32_t) { return (i / 7) % 2 == 0 ? 32767 : -32768; }), 0},
        {"silence", wave(mono, [](uint32_t, uint32_t) { return 0; }), 0.75},
        {"one frame", wave(oneFrame, [](uint32_t, uint32_t) { return -12345; }), 0},
        {"odd length, LIST after",
         wave(oddWithList,
              [](uint32_t i, uint32_t) { return static_cast<int32_t>(i % 200) - 100; }),
         0},
        {"extensible, six channels", wave(extensible, bell), 0.6},
        {"data claiming more", wave(claimsMore, bell), 0.5},
        {"noise", wave(shortNoise, noise16), 0},
    };
}

TEST(LosslessWave, PcmWavesComeBackByteForByte) {
    for (const RoundTrip& trip : roundTrips()) {
        SCOPED_TRACE(trip.name);
        Bytes coded;
        ASSERT_TRUE(encodeLosslessWave(trip.file.data(), trip.file.size(), &coded));
        Bytes back(trip.file.size());
        ASSERT_TRUE(decodeLosslessWave(coded.data(), coded.size(), back.data(), back.size()));
        EXPECT_TRUE(back == trip.file);
        if (trip.mostOfDeflate > 0) {
            EXPECT_LT(coded.size(), deflatedSize(trip.file) * trip.mostOfDeflate)
                << coded.size() << " coded, " << deflatedSize(trip.file) << " deflated";
        }
        // Another size than the file's is refused, and nothing is written beyond it.
        Bytes shorter(trip.file.size() - 1 + 16, 0xAB);
        EXPECT_FALSE(
            decodeLosslessWave(coded.data(), coded.size(), shorter.data(), trip.file.size() - 1));
        EXPECT_TRUE(
            std::all_of(shorter.end() - 16, shorter.end(), [](uint8_t b) { return b == 0xAB; }));
        // Cut coded data is refused, however much is cut.
        for (size_t cut = 2; cut < coded.size(); cut += 1 + cut / 3) {
            EXPECT_FALSE(
                decodeLosslessWave(coded.data(), coded.size() - cut, back.data(), back.size()))
                << "cut by " << cut;
        }
    }
}

TEST(LosslessWave, OtherWavesAreLeftToDeflate) {
    Shape adpcm;
    adpcm.format = 0x11;
    Shape floats;
    floats.format = 3;
    Shape bits24;
    bits24.bits = 24;
    Bytes noData = wave(Shape(), bell);
    memcpy(noData.data() + 36, "junk", 4);
    Bytes noRiff = wave(Shape(), bell);
    memcpy(noRiff.data(), "RIFX", 4);
    const std::pair<const char*, Bytes> others[] = {
        {"IMA ADPCM", wave(adpcm, bell)},
        {"float", wave(floats, bell)},
        {"24 bits", wave(bits24, bell)},
        {"no data chunk", noData},
        {"not RIFF", noRiff},
        {"empty", Bytes()},
    };
    for (const auto& [name, file] : others) {
        Bytes coded;
        EXPECT_FALSE(encodeLosslessWave(file.data(), file.size(), &coded)) << name;
    }
}

} // namespace
