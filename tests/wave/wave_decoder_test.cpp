// The web player's WAV decoder, built natively: sample for sample against sox on a
// file of each encoding that sox writes at test time, and against hostile headers.
#include "platform/platform.h"
#include "platform/web/wave_decoder.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
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
                 const std::string& extra, uint32_t dataClaim, const std::string& data) {
    std::string format;
    put16(format, tag);
    put16(format, channels);
    put32(format, 8000);
    put32(format, 8000u * blockAlign);
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
