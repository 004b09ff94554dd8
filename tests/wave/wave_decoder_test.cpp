// The players' WAV decoder: sample for sample against sox on a file of each encoding
// that sox writes at test time, against hostile headers, and with its samples converted
// to a sound device's format as the SDL backend converts them.
#include "platform/platform.h"
#include "platform/sdl/sound_samples.h"
#include "platform/soft/wave_decoder.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Sox {
    std::string folder = makeTempFolder();
    ~Sox() { removeFolder(folder); }

    // Writes a wave with sox's `options` and returns its bytes and sox's own reading
    // of it as 32-bit signed samples.
    bool make(const std::string& options, const std::string& synth, std::string* wave,
              std::vector<int32_t>* reference) {
        std::string path = folder + "/sound.wav";
        std::string raw = folder + "/reference.raw";
        std::string write = "sox -D -n " + options + " '" + path + "' synth " + synth;
        std::string read = "sox -D '" + path + "' -t raw -e signed-integer -b 32 -L '" + raw + "'";
        if (std::system(write.c_str()) != 0 || std::system(read.c_str()) != 0) {
            return false;
        }
        *wave = readFile(path);
        std::string bytes = readFile(raw);
        reference->resize(bytes.size() / 4);
        memcpy(reference->data(), bytes.data(), reference->size() * 4);
        return true;
    }
};

bool decode(const std::string& bytes, DecodedWave* wave) {
    return decodeWave(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), wave);
}

void put16(std::string& out, uint32_t value) {
    out += char(value & 0xFF);
    out += char((value >> 8) & 0xFF);
}
void put32(std::string& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// A wave of one format chunk (`format` after its first 16 bytes) and a data chunk.
std::string wave(uint16_t tag, uint16_t channels, uint16_t blockAlign, uint16_t bits,
                 const std::string& extra, uint32_t dataClaim, const std::string& data,
                 uint32_t rate = 8000) {
    std::string format;
    put16(format, tag);
    put16(format, channels);
    put32(format, rate);
    put32(format, rate * blockAlign);
    put16(format, blockAlign);
    put16(format, bits);
    format += extra;
    std::string out = "RIFF";
    put32(out, 0xFFFFFFFF);
    out += "WAVEfmt ";
    put32(out, uint32_t(format.size()));
    out += format + "data";
    put32(out, dataClaim);
    return out + data;
}

// The data chunk moved before the format chunk.
std::string dataFirst(const std::string& bytes) {
    return bytes.substr(0, 12) + bytes.substr(36) + bytes.substr(12, 24);
}

// A chunk of `body` put before the data chunk; an odd length gets its pad byte.
std::string withList(const std::string& bytes, const std::string& body) {
    std::string list = "LIST";
    put32(list, uint32_t(body.size()));
    list += body + (body.size() % 2 != 0 ? std::string(1, '\0') : "");
    return bytes.substr(0, 36) + list + bytes.substr(36);
}

// The format chunk declared 14 bytes long and holding only those.
std::string shortFormat(const std::string& bytes) {
    std::string cut = bytes.substr(0, 16);
    put32(cut, 14);
    return cut + bytes.substr(20, 14) + bytes.substr(36);
}

const std::string kMp3Format =
    std::string("fmt \x10\0\0\0\x55\0\1\0\x40\x1f\0\0\x40\x1f\0\0\1\0\0\0", 24);
const std::string kBareThenRiff("WAVEfmt \x12\0\0\0\3\0\1\0@\x1fRIFF\x92\0\0\0WAVEfmt "
                                "\x12\0\0\0\3\0\1\0@\x1f\0\0\0}\0\0\4\0 \0\0\0data`\0\x80\xb8",
                                64);

} // namespace

TEST(WaveDecoder, EqualsSoxSampleForSampleInEveryEncoding) {
    struct Case {
        const char* name;
        const char* options;
        const char* synth;
        uint32_t rate, channels;
    } cases[] = {
        {"PCM 8-bit", "-r 11025 -c 1 -e unsigned-integer -b 8", "0.3 sine 300-3000", 11025, 1},
        {"PCM 16-bit stereo", "-r 22050 -c 2 -e signed-integer -b 16",
         "0.3 sine 440 square 660 vol 0.8", 22050, 2},
        {"PCM 24-bit", "-r 8000 -c 1 -e signed-integer -b 24", "0.2 pinknoise", 8000, 1},
        {"PCM 32-bit", "-r 8000 -c 1 -e signed-integer -b 32", "0.2 sine 100-900", 8000, 1},
        {"float 32-bit", "-r 8000 -c 2 -e floating-point -b 32", "0.2 whitenoise sine 200 vol 0.9",
         8000, 2},
        {"A-law", "-r 8000 -c 1 -e a-law", "0.2 sine 300-3000 vol 0.9", 8000, 1},
        {"mu-law stereo", "-r 8000 -c 2 -e u-law", "0.2 sine 200 pinknoise", 8000, 2},
        {"IMA ADPCM", "-r 16000 -c 1 -e ima-adpcm", "0.33 sine 200-5000", 16000, 1},
        {"IMA ADPCM stereo", "-r 8000 -c 2 -e ima-adpcm", "0.21 square 300 sine 500", 8000, 2},
        {"MS ADPCM", "-r 22050 -c 1 -e ms-adpcm", "0.31 sine 300-4000 vol 0.9", 22050, 1},
        {"MS ADPCM stereo", "-r 8000 -c 2 -e ms-adpcm", "0.17 pinknoise sine 700", 8000, 2},
    };
    Sox sox;
    for (const Case& c : cases) {
        std::string bytes;
        std::vector<int32_t> reference;
        ASSERT_TRUE(sox.make(c.options, c.synth, &bytes, &reference)) << c.name << ": sox failed";
        DecodedWave decoded;
        ASSERT_TRUE(decode(bytes, &decoded)) << c.name << ": " << waveFailureReason();
        EXPECT_EQ(decoded.rate, c.rate) << c.name;
        EXPECT_EQ(decoded.channels, c.channels) << c.name;
        ASSERT_EQ(size_t{decoded.frames} * decoded.channels, reference.size()) << c.name;
        size_t differing = 0;
        size_t first = reference.size();
        for (size_t i = 0; i < reference.size(); ++i) {
            if (decoded.samples[i] != reference[i]) {
                differing += 1;
                first = first < i ? first : i;
            }
        }
        EXPECT_EQ(differing, 0u) << c.name << ": first at sample " << first << " of "
                                 << reference.size();
        freeDecodedWave(&decoded);
    }
}

TEST(WaveDecoder, HostileHeadersAreCutOrRefusedWithTheirReason) {
    const std::string pcm = std::string("\x00\x40\x00\xC0", 4);
    // cbSize 4: 500 samples a block and 8 coefficient pairs, none of which follow.
    const std::string msTable = std::string("\x04\x00\xF4\x01\x08\x00", 6);
    using F = LoadFailure;
    struct Case {
        const char* name;
        std::string bytes;
        uint32_t frames;
        LoadFailure reason; // None: decodes
    } cases[] = {
        {"data claims 4 GiB", wave(1, 1, 2, 16, "", 0xFFFFFFF0, pcm), 2, F::None},
        {"data claims one more frame", wave(1, 1, 2, 16, "", 6, pcm), 2, F::None},
        {"odd byte of a frame left", wave(1, 1, 2, 16, "", 5, pcm + "\x01"), 2, F::None},
        {"no channels", wave(1, 0, 2, 16, "", 4, pcm), 0, F::Unreadable},
        {"33 channels", wave(1, 33, 66, 16, "", 4, pcm), 0, F::Unreadable},
        {"40-bit samples", wave(1, 1, 5, 40, "", 4, pcm), 0, F::UnsupportedCompression},
        {"16-bit float", wave(3, 1, 2, 16, "", 4, pcm), 0, F::UnsupportedCompression},
        {"MP3", wave(0x55, 1, 1, 0, "", 4, pcm), 0, F::UnsupportedCompression},
        {"IMA block of only its header", wave(0x11, 1, 4, 4, "", 4, pcm), 0,
         F::UnsupportedCompression},
        {"IMA block not of whole words", wave(0x11, 1, 7, 4, "", 4, pcm), 0,
         F::UnsupportedCompression},
        {"IMA cut block: header sample only", wave(0x11, 1, 36, 4, "", 4, pcm), 1, F::None},
        {"MS block shorter than its header", wave(2, 2, 13, 4, "", 4, pcm), 0,
         F::UnsupportedCompression},
        {"MS table claims more pairs than given", wave(2, 1, 64, 4, msTable, 4, pcm), 0,
         F::Unreadable},
        {"extensible without its GUID",
         wave(0xFFFE, 1, 2, 16, std::string("\x02\0\0\0", 4), 4, pcm), 0, F::Truncated},
        {"not RIFF", "RIFX" + wave(1, 1, 2, 16, "", 4, pcm).substr(4), 0, F::NotWave},
        {"no data chunk", wave(1, 1, 2, 16, "", 4, pcm).substr(0, 36), 0, F::Truncated},
        // The Windows player finds chunks only inside a RIFF header, the data after the format.
        {"only WAVE before the chunks", wave(1, 1, 2, 16, "", 4, pcm).substr(8), 0, F::NotWave},
        {"data before the format", dataFirst(wave(1, 1, 2, 16, "", 4, pcm)), 0, F::Truncated},
        {"second format after the data", wave(1, 1, 2, 16, "", 4, pcm) + kMp3Format, 2, F::None},
        {"list chunk of odd length", withList(wave(1, 1, 2, 16, "", 4, pcm), "abc"), 2, F::None},
        {"format chunk cut", wave(1, 1, 2, 16, "", 4, pcm).substr(0, 30), 0, F::Truncated},
        {"format chunk of 14 bytes", shortFormat(wave(1, 1, 2, 16, "", 4, pcm)), 0, F::NotWave},
        {"id3 tag", std::string("ID3\3\0\0\0\0\0\0\0\0", 12), 0, F::NotWave},
        // Found by fuzzing the sound library's loader, which reserved 3 GB for it.
        {"WAVE without RIFF, then a RIFF", kBareThenRiff, 0, F::NotWave},
        // Channels the sound library converts, rates browsers play.
        {"8 channels", wave(1, 8, 16, 16, "", 16, pcm + pcm + pcm + pcm), 1, F::None},
        {"9 channels", wave(1, 9, 18, 16, "", 18, pcm + pcm + pcm + pcm + "ab"), 0, F::Unreadable},
        {"3000 Hz", wave(1, 1, 2, 16, "", 4, pcm, 3000), 2, F::None},
        {"2999 Hz", wave(1, 1, 2, 16, "", 4, pcm, 2999), 0, F::Unreadable},
        {"768000 Hz", wave(1, 1, 2, 16, "", 4, pcm, 768000), 2, F::None},
        {"768001 Hz", wave(1, 1, 2, 16, "", 4, pcm, 768001), 0, F::Unreadable},
    };
    for (const Case& c : cases) {
        DecodedWave decoded;
        platformNoteLoadFailure(F::Missing); // whatever comes, the decoder says its own
        EXPECT_EQ(decode(c.bytes, &decoded), c.reason == F::None)
            << c.name << ": " << waveFailureReason();
        EXPECT_EQ(decoded.frames, c.frames) << c.name;
        EXPECT_EQ(platformLoadFailure(), c.reason)
            << c.name << ": " << loadFailureText(platformLoadFailure());
        freeDecodedWave(&decoded);
    }
}

TEST(WaveDecoder, CutFilesNeverReadPastTheirEnd) {
    Sox sox;
    std::string bytes;
    std::vector<int32_t> reference;
    ASSERT_TRUE(sox.make("-r 8000 -c 2 -e ms-adpcm", "0.05 sine 440 sine 550", &bytes, &reference));
    for (size_t size = 0; size <= bytes.size(); ++size) {
        // A buffer of exactly the cut size, so a read past it is a sanitizer report.
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(size));
        DecodedWave decoded;
        decodeWave(cut.data(), cut.size(), &decoded);
        EXPECT_LE(size_t{decoded.frames} * decoded.channels, reference.size());
        freeDecodedWave(&decoded);
    }
}

TEST(WaveDecoder, NoMemoryIsAFailureWithNothingHeld) {
    std::string bytes = wave(1, 1, 2, 16, "", 4, std::string("\x00\x40\x00\xC0", 4));
    platformFailAllocation(1);
    DecodedWave decoded;
    EXPECT_FALSE(decode(bytes, &decoded));
    EXPECT_STREQ(waveFailureReason(), "out of memory");
    EXPECT_EQ(decoded.samples, nullptr);
    platformFailAllocation(0);
}

// One set of limits for every player: the samples of the largest 16-bit file, and files of
// up to 64 MiB.
TEST(WaveDecoder, LimitsAreTheSamplesOfTheLargestSixteenBitFile) {
    using F = LoadFailure;
    const uint32_t most = static_cast<uint32_t>(kWaveMaxSamples);
    struct Case {
        const char* name;
        uint16_t tag, bits, blockAlign;
        uint32_t dataBytes;
        LoadFailure reason;
    } cases[] = {
        {"16-bit PCM of the most samples", 1, 16, 2, 2 * most, F::None},
        {"8-bit PCM of the most samples", 1, 8, 1, most, F::None},
        {"8-bit PCM of one more", 1, 8, 1, most + 1, F::TooLarge},
        {"mu-law of one more", 7, 8, 1, most + 1, F::TooLarge},
        // Blocks of 36 bytes hold 65 samples.
        {"IMA ADPCM of the most whole blocks", 0x11, 4, 36, most / 65 * 36, F::None},
        {"IMA ADPCM of one block more", 0x11, 4, 36, (most / 65 + 1) * 36, F::TooLarge},
    };
    // One buffer of silence for all: each case writes its header before `dataBytes` of it.
    std::vector<uint8_t> bytes(44 + 2 * size_t{most} + 36, 0);
    for (const Case& c : cases) {
        std::string header = wave(c.tag, 1, c.blockAlign, c.bits, "", c.dataBytes, "");
        memcpy(bytes.data(), header.data(), header.size());
        WaveFormat format;
        EXPECT_EQ(readWaveFormat(bytes.data(), header.size() + c.dataBytes, &format),
                  c.reason == F::None)
            << c.name << ": " << waveFailureReason();
        EXPECT_EQ(platformLoadFailure(), c.reason) << c.name;
    }

    std::string folder = makeTempFolder();
    std::string path = folder + "/sound.wav";
    for (auto [extra, reason] : {std::pair{0, F::None}, std::pair{1, F::TooLarge}}) {
        // Silence to the end, the file left sparse.
        writeFile(path, wave(1, 1, 2, 16, "", kLargestWaveFile - 44, ""));
        ASSERT_EQ(truncate(path.c_str(), kLargestWaveFile + extra), 0);
        WaveFormat format;
        EXPECT_EQ(inspectWaveFile(path.c_str(), &format), reason) << extra;
        EXPECT_EQ(format.frames, reason == F::None ? (kLargestWaveFile - 44) / 2 : 0) << extra;
        DecodedWave decoded;
        EXPECT_EQ(loadWave(path.c_str(), &decoded), reason == F::None) << extra;
        EXPECT_EQ(platformLoadFailure(), reason) << extra;
        EXPECT_EQ(decoded.frames, format.frames) << extra;
        freeDecodedWave(&decoded);
    }
    removeFolder(folder);
    DecodedWave decoded;
    EXPECT_FALSE(loadWave(path.c_str(), &decoded));
    EXPECT_EQ(platformLoadFailure(), F::Missing);
}

namespace {
void collect(const uint8_t* bytes, uint32_t length, void* context) {
    static_cast<std::vector<uint8_t>*>(context)->insert(
        static_cast<std::vector<uint8_t>*>(context)->end(), bytes, bytes + length);
}
} // namespace

// The SDL backend plays the decoded samples converted to the device's format: every
// frame arrives, at the device's rate and channels, at the level it had.
TEST(SoundSamples, ReachTheDeviceAtItsRateAndChannels) {
    struct Case {
        const char* options;
        uint32_t rate, channels;
        int deviceRate;
        SDL_AudioFormat deviceFormat;
        Uint8 deviceChannels;
    } cases[] = {
        {"-r 22050 -c 1 -e signed-integer -b 16", 22050, 1, 44100, AUDIO_S16SYS, 2},
        {"-r 44100 -c 2 -e signed-integer -b 16", 44100, 2, 44100, AUDIO_S16SYS, 2},
        {"-r 16000 -c 1 -e ima-adpcm", 16000, 1, 48000, AUDIO_F32SYS, 6},
        {"-r 8000 -c 8 -e signed-integer -b 24", 8000, 8, 44100, AUDIO_S16SYS, 2},
        {"-r 3000 -c 1 -e u-law", 3000, 1, 44100, AUDIO_S32SYS, 1},
    };
    Sox sox;
    for (const Case& c : cases) {
        std::string bytes;
        std::vector<int32_t> reference;
        ASSERT_TRUE(sox.make(c.options, "0.5 sine 440 vol 0.5", &bytes, &reference)) << c.options;
        DecodedWave decoded;
        ASSERT_TRUE(decode(bytes, &decoded)) << c.options << ": " << waveFailureReason();
        SDL_AudioSpec device;
        SDL_zero(device);
        device.freq = c.deviceRate;
        device.format = c.deviceFormat;
        device.channels = c.deviceChannels;
        std::vector<uint8_t> out;
        ASSERT_TRUE(convertForDevice(decoded, device, collect, &out)) << c.options;
        size_t frameBytes = size_t{c.deviceChannels} * SDL_AUDIO_BITSIZE(c.deviceFormat) / 8;
        ASSERT_EQ(out.size() % frameBytes, 0u) << c.options;
        double expected = double(decoded.frames) * c.deviceRate / c.rate;
        EXPECT_NEAR(double(out.size() / frameBytes), expected, expected / 100) << c.options;
        // The loudest sample of the first channel, as a fraction of full scale: 0.5.
        double peak = 0;
        for (size_t at = 0; at + frameBytes <= out.size(); at += frameBytes) {
            double value = 0;
            if (c.deviceFormat == AUDIO_F32SYS) {
                float sample;
                memcpy(&sample, &out[at], 4);
                value = sample;
            } else if (c.deviceFormat == AUDIO_S32SYS) {
                int32_t sample;
                memcpy(&sample, &out[at], 4);
                value = sample / 2147483648.0;
            } else {
                int16_t sample;
                memcpy(&sample, &out[at], 2);
                value = sample / 32768.0;
            }
            peak = std::max(peak, std::abs(value));
        }
        EXPECT_NEAR(peak, 0.5, 0.05) << c.options;
        freeDecodedWave(&decoded);
    }
}
