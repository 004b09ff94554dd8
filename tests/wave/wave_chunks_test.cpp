#include "platform/sdl/wave_chunks.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(uint8_t(value >> shift));
    }
}

void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void chunk(std::vector<uint8_t>& out, const char* id, uint32_t declared, size_t actual) {
    out.insert(out.end(), id, id + 4);
    put32(out, declared);
    out.insert(out.end(), actual, uint8_t(0x40));
}

// A 16-bit mono PCM wave whose chunks declare the given lengths.
std::vector<uint8_t> wave(uint32_t riffLength, uint32_t dataDeclared, size_t dataBytes) {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
    put32(out, riffLength);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, 1);
    put16(out, 1);
    put32(out, 8000);
    put32(out, 16000);
    put16(out, 2);
    put16(out, 16);
    chunk(out, "data", dataDeclared, dataBytes);
    return out;
}

uint32_t lengthAt(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 |
           uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24;
}

} // namespace

TEST(WaveChunks, CutsDeclaredLengthsToTheFile) {
    struct Case {
        const char* name;
        uint32_t riffLength, dataDeclared;
        size_t dataBytes;
        uint32_t riffAfter, dataAfter;
    } cases[] = {
        {"honest", 136, 100, 100, 136, 100},
        {"data claims 4 GiB", 0xFFFFFFFF, 0xFFFFFFF0, 100, 136, 100},
        {"riff claims too much", 1000000, 100, 100, 136, 100},
        {"data claims one byte more", 136, 101, 100, 136, 100},
        {"empty data", 36, 0, 0, 36, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = wave(c.riffLength, c.dataDeclared, c.dataBytes);
        clampWaveChunks(bytes.data(), bytes.size());
        EXPECT_EQ(lengthAt(bytes, 4), c.riffAfter) << c.name;
        EXPECT_EQ(lengthAt(bytes, 16), 16u) << c.name;
        EXPECT_EQ(lengthAt(bytes, 40), c.dataAfter) << c.name;
    }
}

TEST(WaveChunks, WalksPaddedChunksAndStopsAtATruncatedHeader) {
    std::vector<uint8_t> bytes = wave(0, 0, 0);
    bytes.resize(36);                  // up to the end of the format chunk
    chunk(bytes, "LIST", 3, 4);        // odd length, one pad byte
    chunk(bytes, "data", 5000000, 10); // claims far more than follows
    bytes.insert(bytes.end(), {'x', 'y'});
    clampWaveChunks(bytes.data(), bytes.size());
    EXPECT_EQ(lengthAt(bytes, 40), 3u);
    EXPECT_EQ(lengthAt(bytes, 52), 12u);
    for (size_t size = 0; size < bytes.size(); ++size) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(size));
        clampWaveChunks(cut.data(), cut.size()); // never reads or writes past the end
    }
}

TEST(WaveChunks, TinyFileClaimingGigabytesLoadsOnlyWhatItHolds) {
    std::vector<uint8_t> bytes = wave(0xFFFFFFFF, 0xFFFFFFF0, 100);
    clampWaveChunks(bytes.data(), bytes.size());
    SDL_AudioSpec format;
    Uint8* samples = nullptr;
    Uint32 length = 0;
    SDL_RWops* stream = SDL_RWFromMem(bytes.data(), int(bytes.size()));
    ASSERT_NE(SDL_LoadWAV_RW(stream, 1, &format, &samples, &length), nullptr) << SDL_GetError();
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(format.freq, 8000);
    SDL_FreeWAV(samples);
}

// Found by fuzzing: a file with only "WAVE" before its chunks made the loader reserve 3 GB.
TEST(WaveChunks, FilesWithoutTheRiffHeaderAreCutToo) {
    const char* found = "WAVEfmt \x12\0\0\0\3\0\1\0@\x1fRIFF\x92\0\0\0WAVEfmt "
                        "\x12\0\0\0\3\0\1\0@\x1f\0\0\0}\0\0\4\0 \0\0\0data`\0\x80\xb8";
    std::vector<uint8_t> bytes(found, found + 64);
    ASSERT_EQ(std::string(reinterpret_cast<char*>(bytes.data()) + 56, 4), "data");
    clampWaveChunks(bytes.data(), bytes.size());
    SDL_AudioSpec format;
    Uint8* samples = nullptr;
    Uint32 length = 0;
    SDL_RWops* stream = SDL_RWFromMem(bytes.data(), int(bytes.size()));
    if (SDL_LoadWAV_RW(stream, 1, &format, &samples, &length) != nullptr) {
        EXPECT_LE(length, bytes.size());
        SDL_FreeWAV(samples);
    }
    std::vector<uint8_t> headless = wave(0, 0xFFFFFFF0, 100);
    headless.erase(headless.begin(), headless.begin() + 8); // keep "WAVE" and the chunks
    clampWaveChunks(headless.data(), headless.size());
    EXPECT_EQ(lengthAt(headless, 32), 100u);
}

// The reasons agree with the sound library: it loads exactly what looks playable.
TEST(WaveFailure, NamesWhatTheLoaderRefuses) {
    std::vector<uint8_t> good = wave(136, 100, 100);
    std::vector<uint8_t> mp3 = good;
    mp3[20] = 0x55;
    std::vector<uint8_t> noData(good.begin(), good.begin() + 36);
    std::vector<uint8_t> bare(good.begin() + 8, good.end());
    std::vector<uint8_t> shortFormat(good.begin(), good.begin() + 30);
    // A fuzz finding: the loader reads the first fmt chunk and stops at the data.
    std::vector<uint8_t> secondFormat = good;
    secondFormat.insert(secondFormat.end(), mp3.begin() + 12, mp3.begin() + 36);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        LoadFailure expected;
    } cases[] = {
        {"pcm", good, LoadFailure::None},
        {"only WAVE before the chunks", bare, LoadFailure::None},
        {"mp3 inside", mp3, LoadFailure::UnsupportedCompression},
        {"an mp3 fmt chunk after the data", secondFormat, LoadFailure::None},
        {"no data chunk", noData, LoadFailure::Truncated},
        {"fmt chunk cut", shortFormat, LoadFailure::Truncated},
        {"id3 tag", {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 0, 0}, LoadFailure::NotWave},
    };
    for (Case& c : cases) {
        clampWaveChunks(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(waveFailure(c.bytes.data(), c.bytes.size()), c.expected) << c.name;
        SDL_AudioSpec format;
        Uint8* samples = nullptr;
        Uint32 length = 0;
        SDL_RWops* stream = SDL_RWFromMem(c.bytes.data(), int(c.bytes.size()));
        bool loaded = SDL_LoadWAV_RW(stream, 1, &format, &samples, &length) != nullptr;
        SDL_FreeWAV(samples);
        EXPECT_EQ(loaded, c.expected == LoadFailure::None) << c.name << ": " << SDL_GetError();
    }
}
