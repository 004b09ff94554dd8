// Hostile story folders, made at test time and played by the real headless player
// under a memory cap: each ends as a story file may make it end (played through,
// held until the time limit, or a clear message with exit code 1), never by a
// crash, a hang or exhausted memory. Peak resident memory is reported per folder.
#include "hostile_player.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kEndedByTimeLimit = 3;

// Script bytes streamed to the file, so a large script never sits whole in memory.
class ScriptWriter {
  public:
    explicit ScriptWriter(const std::string& folder)
        : file_(fopen((folder + "/script.bexu").c_str(), "wb")) {}
    ~ScriptWriter() { fclose(file_); }
    ScriptWriter& operator<<(const std::string& bytes) {
        fwrite(bytes.data(), 1, bytes.size(), file_);
        return *this;
    }

  private:
    FILE* file_;
};

std::string keysEvery(uint32_t first, uint32_t interval, uint32_t count) {
    std::string keys;
    for (uint32_t i = 0; i < count; ++i) {
        keys += (i == 0 ? "" : ",") + std::to_string(first + i * interval);
    }
    return keys;
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(uint8_t(value >> (8 * i)));
    }
}

// A BMP info header that claims width x height at 24 bits, followed by `pixelBytes` bytes.
std::vector<uint8_t> bmpClaiming(int32_t width, int32_t height, size_t pixelBytes) {
    std::vector<uint8_t> out = {'B', 'M'};
    put32(out, uint32_t(54 + pixelBytes));
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, uint32_t(width));
    put32(out, uint32_t(height));
    put32(out, 1 | (24u << 16)); // planes, bits per pixel
    for (int i = 0; i < 6; ++i) {
        put32(out, 0);
    }
    out.resize(out.size() + pixelBytes, 0x5A);
    return out;
}

std::string randomBytes(size_t count, uint32_t seed, const std::string& favoured) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        uint32_t r = random();
        // Mostly the bytes the format gives meaning to, the rest anything at all.
        c = (r & 3) != 0 ? favoured[(r >> 2) % favoured.size()] : char(r >> 8);
    }
    return bytes;
}

struct Hostile {
    const char* name;
    void (*make)(const std::string& folder);
    PlayerRun run;
    // How it must end: exit code, a text standard error must hold (the message, if
    // any), log lines that must appear (sounds started mark how far the play got).
    int exitCode;
    const char* message;
    std::vector<std::string> logged;
    uint64_t peakLimitMiB;
    std::vector<std::string> notLogged = {};
};

std::ostream& operator<<(std::ostream& out, const Hostile& hostile) {
    return out << hostile.name;
}

PlayerRun runWith(std::string keys, uint32_t timeLimit, const char* clientSize = "800x450") {
    PlayerRun run;
    run.keys = std::move(keys);
    run.timeLimit = timeLimit;
    run.clientSize = clientSize;
    return run;
}

PlayerRun cappedAt(uint64_t memoryCapMiB) {
    PlayerRun run;
    run.memoryCapMiB = memoryCapMiB;
    return run;
}

void writeStammers(const std::string& folder, int words) {
    ScriptWriter script(folder);
    script << "{0[stutter99999~";
    for (int i = 0; i < words; ++i) {
        script << "a ";
    }
    script << "]}";
}

PlayerRun unprivileged() {
    PlayerRun run;
    run.unprivileged = true;
    return run;
}

void replaceByFolder(const std::string& folder, const char* name) {
    std::string path = folder + "/" + name;
    remove(path.c_str());
    mkdir(path.c_str(), 0755);
}

// A sparse file: `size` bytes on record, the given bytes at its start, no disk space taken.
void writeSparse(const std::string& path, const std::string& start, off_t size) {
    writeFile(path, start);
    if (truncate(path.c_str(), size) != 0) {
        perror(path.c_str());
    }
}

void makeUnreadable(const std::string& folder, const char* name) {
    std::string path = folder + "/" + name;
    writeFile(path, std::string("{0[say~x]}"));
    chmod(path.c_str(), 0);
}

const Hostile kHostile[] = {
    {"LargeScriptOfOneBlock",
     [](const std::string& folder) {
         ScriptWriter script(folder);
         script << "{0[say~start]\n";
         std::string notes;
         for (int i = 0; i < 4096; ++i) {
             notes += "a note outside brackets, line " + std::to_string(i) + "\n";
         }
         for (size_t written = 0; written < (size_t{200} << 20); written += notes.size()) {
             script << notes;
         }
         script << "[play~end.wav][say~end]}";
     },
     // Room for n / 2 items of a 200 MB block would take 800 MB: more than the cap.
     runWith("200,400,600", 10000),
     0,
     nullptr,
     {"play end.wav"},
     400},
    // Each command is a string of its own: 50 million of them cannot be had under the cap,
    // and a block whose command list cannot be made ends the play.
    {"FiftyMillionEmptyCommands",
     [](const std::string& folder) {
         ScriptWriter script(folder);
         script << "{0[play~first.wav]";
         std::string pairs;
         for (int i = 0; i < 1000000; ++i) {
             pairs += "[]";
         }
         for (int i = 0; i < 50; ++i) {
             script << pairs;
         }
         script << "}";
     },
     runWith("", 10000),
     0,
     nullptr,
     {"exit 0"},
     400,
     {"play first.wav"}},
    {"HundredThousandEmptyBlocks",
     [](const std::string& folder) {
         ScriptWriter script(folder);
         for (int i = 0; i < 100000; ++i) {
             script << "{" + std::to_string(i) + "\n}";
         }
         script << "{100000[play~end.wav]}";
     },
     // One block per frame, each frame presenting the window: a small one keeps that cheap.
     runWith("", 2000000, "160x90"),
     0,
     nullptr,
     {"play end.wav"},
     100},
    {"TenMegabytesInOneSay",
     [](const std::string& folder) {
         ScriptWriter script(folder);
         script << "{0[say~";
         for (int i = 0; i < 10 * 1024 * 1024 / 64; ++i) {
             script << (i % 16 == 15 ? "many words in one line, on and on and on, for ever\n"
                                     : "many words in one line, on and on and on, for ever ");
         }
         script << "][play~end.wav]}";
     },
     runWith("200", 10000),
     0,
     nullptr,
     {"play end.wav"},
     200},
    {"HundredThousandLinesWithoutPageTurn",
     [](const std::string& folder) {
         ScriptWriter script(folder);
         script << "{0";
         for (int say = 0; say < 1000; ++say) {
             std::string lines;
             for (int line = 0; line < 100; ++line) {
                 lines += (line == 0 ? "" : "\n") + std::string("Line ") + std::to_string(line);
             }
             script << "[say~" + lines + "]";
         }
         script << "[play~end.wav]}";
     },
     runWith(keysEvery(100, 32, 1100), 60000),
     0,
     nullptr,
     {"play end.wav"},
     100},
    {"SceneClaimingThreeMillionByTwoMillionPixels",
     [](const std::string& folder) {
         writeFile(folder + "/script.bexu", std::string("{0[cg~huge.bmp][say~never]}"));
         writeFile(folder + "/huge.bmp", bmpClaiming(3000000, 2000000, 4096));
     },
     runWith("", 10000),
     1,
     "Failed to load scene.",
     {},
     100},
    {"TruncatedScene",
     [](const std::string& folder) {
         writeFile(folder + "/script.bexu", std::string("{0[cg~cut.bmp][say~never]}"));
         std::vector<uint8_t> bmp = encodeBmp24(solidImage(1600, 900, 0x336699));
         bmp.resize(bmp.size() / 2);
         writeFile(folder + "/cut.bmp", bmp);
     },
     runWith("", 10000),
     1,
     "Failed to load scene.",
     {},
     100},
    {"SoundThatIsNoWave",
     [](const std::string& folder) {
         writeFile(folder + "/script.bexu",
                   std::string("{0[play~noise.wav][wait~100][play~end.wav]}"));
         writeFile(folder + "/noise.wav", randomBytes(65536, 7, "RIFFWAVEfmt data"));
     },
     runWith("", 10000),
     0,
     nullptr,
     {"play noise.wav", "play end.wav"},
     100},
    {"LongestWait",
     [](const std::string& folder) {
         writeFile(folder + "/script.bexu", std::string("{0[wait~4294967295][play~end.wav]}"));
     },
     // Beyond 2^31 ms a wait ends at the next iteration: well within a second.
     runWith("", 1000),
     0,
     nullptr,
     {"play end.wav"},
     100},
    {"ZeroAndHighBytesEverywhere",
     [](const std::string& folder) {
         std::string script = std::string("\xff\x00\x80{\x80", 5) +
                              "\xfe[say~caf\xe9 \x80\x81\xff\x01][play~\xe9\xff.wav]" +
                              std::string("\0[say~hidden]}", 14) + "\x90{1" +
                              std::string("\0[say~gone]}", 12) + "{2[\x80\xff~\x90][\xe9say~" +
                              std::string(300, '\xfa') + "][play~end.wav]}";
         writeFile(folder + "/script.bexu", script);
         writeFile(folder + "/init.bexc", std::string("title\x00\xff\x80", 8));
     },
     runWith("200,400,600,800", 10000),
     0,
     nullptr,
     {"title title", "play \xe9\xff.wav", "play end.wav"},
     100},
    {"RandomBytes",
     [](const std::string& folder) {
         writeFile(
             folder + "/script.bexu",
             randomBytes(1 << 20, 11, "{{{}}}[[[]]]~~~0123456789 \nsaycgwaitplaystutterturnpage"));
     },
     // Whatever the bytes hold, it ends: played out, held (time limit) or reported.
     runWith(keysEvery(100, 50, 1000), 60000),
     -1,
     nullptr,
     {},
     100},
    // Each word stammers up to its index times: the line grows with the square of the words.
    {"StammerLongerThanMemory",
     [](const std::string& folder) { writeStammers(folder, 60000); },
     PlayerRun(),
     1,
     "Could not process dialogue: bad heap alloc",
     {},
     512},
    // Some 10 GB of stammers with memory to spare: given up at the 2 GiB the dialogue can hold.
    {"StammerBeyondWhatTheDialogueHolds",
     [](const std::string& folder) { writeStammers(folder, 100000); },
     cappedAt(5120),
     1,
     "Could not process dialogue: bad heap alloc",
     {},
     2200},
    // Offsets are 32-bit signed: a script of 2 GiB or more is refused, and the play ends.
    {"ScriptOfTwoGibibytes",
     [](const std::string& folder) {
         writeSparse(folder + "/script.bexu", "{0[play~start.wav]}", off_t{1} << 31);
     },
     runWith("", 10000),
     0,
     nullptr,
     {"exit 0"},
     100,
     {"play start.wav"}},
    {"SceneOfFourGibibytes",
     [](const std::string& folder) {
         writeFile(folder + "/script.bexu", std::string("{0[cg~big.bmp][say~never]}"));
         std::vector<uint8_t> header = bmpClaiming(30000, 30000, 0);
         writeSparse(folder + "/big.bmp", std::string(header.begin(), header.end()),
                     off_t{1} << 32);
     },
     runWith("", 10000),
     1,
     "Failed to load scene.",
     {},
     100},
    {"TitleOfTwoGibibytes",
     [](const std::string& folder) {
         writeFile(folder + "/script.bexu", std::string("{0[play~end.wav]}"));
         writeSparse(folder + "/init.bexc", "A title", off_t{1} << 31);
     },
     runWith("", 10000),
     0,
     nullptr,
     {"shown Bexu Game", "play end.wav"},
     100},
    {"ScriptIsAFolder",
     [](const std::string& folder) { replaceByFolder(folder, "script.bexu"); },
     runWith("", 10000),
     1,
     "script.bexu could not be located.",
     {},
     100},
    {"FontIsAFolder",
     [](const std::string& folder) { replaceByFolder(folder, "font.bmp"); },
     runWith("", 10000),
     1,
     "Failed to load font.bmp",
     {},
     100},
    {"SceneIsAFolder",
     [](const std::string& folder) {
         writeFile(folder + "/script.bexu", std::string("{0[cg~scene][say~never]}"));
         replaceByFolder(folder, "scene");
     },
     runWith("", 10000),
     1,
     "Failed to load scene.",
     {},
     100},
    {"ScriptIsAPipe",
     [](const std::string& folder) {
         std::string path = folder + "/script.bexu";
         remove(path.c_str());
         mkfifo(path.c_str(), 0644);
     },
     runWith("", 10000),
     1,
     "script.bexu could not be located.",
     {},
     100},
    {"UnreadableScript",
     [](const std::string& folder) { makeUnreadable(folder, "script.bexu"); },
     unprivileged(),
     1,
     "script.bexu could not be located.",
     {},
     100},
    {"UnreadableFont",
     [](const std::string& folder) { makeUnreadable(folder, "font.bmp"); },
     unprivileged(),
     1,
     "Failed to load font.bmp",
     {},
     100},
    {"UnreadableScene",
     [](const std::string& folder) {
         writeFile(folder + "/script.bexu", std::string("{0[cg~scene.bmp][say~never]}"));
         makeUnreadable(folder, "scene.bmp");
     },
     unprivileged(),
     1,
     "Failed to load scene.",
     {},
     100},
    {"UnreadableTitle",
     [](const std::string& folder) {
         writeFile(folder + "/script.bexu", std::string("{0[play~end.wav]}"));
         makeUnreadable(folder, "init.bexc");
     },
     unprivileged(),
     0,
     nullptr,
     {"shown Bexu Game", "play end.wav"},
     100},
};

class HostileFolder : public ::testing::TestWithParam<Hostile> {};

bool logHolds(const std::string& log, const std::string& what) {
    // Lines read "<tick> <what>".
    size_t at = 0;
    while ((at = log.find(" " + what + "\n", at)) != std::string::npos) {
        size_t lineStart = log.rfind('\n', at);
        lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
        if (log.find_first_not_of("0123456789", lineStart) == at) {
            return true;
        }
        ++at;
    }
    return false;
}

} // namespace

TEST_P(HostileFolder, EndsCleanlyWithinItsMemory) {
    const Hostile& hostile = GetParam();
    std::string folder = makeStoryFolder("");
    hostile.make(folder);
    PlayerOutcome outcome = runPlayer(folder, hostile.run);
    if (outcome.unprivilegedUnavailable) {
        removeFolder(folder);
        GTEST_SKIP() << "cannot run the player as an unprivileged user here";
    }
    uint64_t peakMiB = (outcome.peakResidentKiB + 1023) / 1024;
    printf("hostile %-44s exit %d, peak resident %4llu MiB (cap %s), %.2f s\n", hostile.name,
           outcome.exitCode, static_cast<unsigned long long>(peakMiB),
           memoryCapApplies() ? (std::to_string(hostile.run.memoryCapMiB) + " MiB").c_str()
                              : "none under ASan",
           outcome.seconds);
    RecordProperty("peak_resident_mib", std::to_string(peakMiB));

    ASSERT_TRUE(outcome.exited) << "ended by signal " << outcome.signal << "\n" << outcome.errors;
    if (hostile.exitCode >= 0) {
        EXPECT_EQ(outcome.exitCode, hostile.exitCode) << outcome.errors;
    } else {
        EXPECT_TRUE(outcome.exitCode == 0 || outcome.exitCode == 1 ||
                    outcome.exitCode == kEndedByTimeLimit)
            << outcome.exitCode << "\n"
            << outcome.errors;
    }
    if (hostile.message != nullptr) {
        EXPECT_NE(outcome.errors.find(hostile.message), std::string::npos) << outcome.errors;
    }
    if (outcome.exitCode == 1) {
        // Exit code 1 always comes with its message.
        EXPECT_NE(outcome.errors.find(": "), std::string::npos) << "exit 1 without a message";
    }
    for (const std::string& line : hostile.logged) {
        EXPECT_TRUE(logHolds(outcome.log, line)) << "no '" << line << "' in the log";
    }
    for (const std::string& line : hostile.notLogged) {
        EXPECT_FALSE(logHolds(outcome.log, line)) << "'" << line << "' in the log";
    }
    if (memoryCapApplies()) {
        EXPECT_LE(peakMiB, hostile.peakLimitMiB);
    }
    removeFolder(folder);
}

namespace {

// A PCM wave of 16-bit stereo samples, with its chunk sizes as given.
std::vector<uint8_t> wave(uint32_t riffSize, uint32_t dataSize, size_t sampleBytes) {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
    put32(out, riffSize);
    for (char c : std::string("WAVEfmt ")) {
        out.push_back(uint8_t(c));
    }
    put32(out, 16);
    put32(out, 1 | (2u << 16)); // PCM, two channels
    put32(out, 22050);
    put32(out, 22050 * 4);
    put32(out, 4 | (16u << 16)); // block align, bits per sample
    for (char c : std::string("data")) {
        out.push_back(uint8_t(c));
    }
    put32(out, dataSize);
    for (size_t i = 0; i < sampleBytes; ++i) {
        out.push_back(uint8_t(i * 37));
    }
    return out;
}

} // namespace

// The headless player does not read waves; the SDL player decodes them.
TEST(HostileSounds, SdlPlayerGoesOnPastWhatIsNoPlayableWave) {
    std::string player = sdlPlayerPath();
    if (player.empty()) {
        GTEST_SKIP() << "this build's player is not the SDL one";
    }
    std::string folder = makeStoryFolder(
        "{0[play~noise.wav][wait~20][play~claim.wav][wait~20][play~cut.wav][wait~20]"
        "[play~pipe.wav][wait~20][play~folder.wav][wait~20][play~missing.wav][wait~20]"
        "[play~good.wav][wait~20]}");
    writeFile(folder + "/noise.wav", randomBytes(65536, 3, "RIFFWAVEfmt data"));
    writeFile(folder + "/claim.wav", wave(0xFFFFFFF0u, 0xFFFFFF00u, 64));
    std::vector<uint8_t> cut = wave(36 + 40000, 40000, 40000);
    cut.resize(cut.size() / 3);
    writeFile(folder + "/cut.wav", cut);
    mkfifo((folder + "/pipe.wav").c_str(), 0644);
    mkdir((folder + "/folder.wav").c_str(), 0755);
    writeFile(folder + "/good.wav", wave(36 + 4000, 4000, 4000));
    PlayerRun run;
    run.player = player;
    PlayerOutcome outcome = runPlayer(folder, run);
    uint64_t peakMiB = (outcome.peakResidentKiB + 1023) / 1024;
    printf("hostile %-44s exit %d, peak resident %4llu MiB, %.2f s\n", "SdlSoundsThatAreNoWaves",
           outcome.exitCode, static_cast<unsigned long long>(peakMiB), outcome.seconds);
    ASSERT_TRUE(outcome.exited) << "ended by signal " << outcome.signal << "\n" << outcome.errors;
    EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
    if (memoryCapApplies()) {
        EXPECT_LE(peakMiB, 100u);
    }
    removeFolder(folder);
}

INSTANTIATE_TEST_SUITE_P(Stories, HostileFolder, ::testing::ValuesIn(kHostile),
                         [](const ::testing::TestParamInfo<Hostile>& info) {
                             return std::string(info.param.name);
                         });
