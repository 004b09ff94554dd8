// bexu-pack run as built: what each archive holds, exactly; what it refuses, with
// the place; the same bytes on every run; bad folders and huge stories.
#include "format/web_story.h"
#include "pack/story_contents.h"
#include "platform/soft/lossless_wave.h"
#include "platform/soft/soft_surface.h"
#include "png_reference.h"
#include "support/test_files.h"
#include "tool_run.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

std::string riffWave() {
    return std::string("RIFF\x2c\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0"
                       "\x01\0\x08\0data\x08\0\0\0\x80\x80\x80\x80\x80\x80\x80\x80",
                       52);
}

// A story folder below `base` with the test font and tile and the given files.
std::string storyIn(const std::string& base, const std::string& script,
                    const std::vector<std::pair<std::string, std::string>>& files = {}) {
    std::string folder = base + "/story";
    mkdir(folder.c_str(), 0755);
    writeFile(folder + "/script.bexu", script);
    writeFile(folder + "/font.bmp", encodeBmp24(testFontSheet()));
    writeFile(folder + "/transparency.bmp", encodeBmp24(testTile()));
    for (const auto& [name, bytes] : files) {
        for (size_t slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1)) {
            mkdir((folder + "/" + name.substr(0, slash)).c_str(), 0755);
        }
        writeFile(folder + "/" + name, bytes);
    }
    return folder;
}

std::string sceneBytes() {
    return [] {
        std::vector<uint8_t> bytes = encodeBmp24(solidImage(64, 36, 0x336699));
        return std::string(bytes.begin(), bytes.end());
    }();
}

void writeSparse(const std::string& path, const std::string& start, off_t size) {
    writeFile(path, start);
    ASSERT_EQ(truncate(path.c_str(), size), 0) << path;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
}

std::vector<std::string> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
                names.push_back(entry->d_name); // a leftover temporary file included
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The self-contained player where this build makes one, else the plain one: any
// Linux program does for what these tests look at.
std::string linuxPlayer() {
    std::string packed = std::string(BEXU_BINARY_DIR) + "/bexu-static";
    return access(packed.c_str(), R_OK) == 0 ? packed : std::string(BEXU_BINARY_DIR) + "/bexu";
}

// The files a web player build holds, as stand-ins that begin as the real ones do.
void writeWebPlayer(const std::string& folder) {
    mkdir(folder.c_str(), 0755);
    writeFile(folder + "/index.html", std::string("<!doctype html><title>stand-in</title>"));
    writeFile(folder + "/bexu.js", std::string("// stand-in for the web player"));
    writeFile(folder + "/bexu.wasm", std::string("\0asm\x01\0\0\0", 8));
}

struct Packing {
    std::string base;      // temporary folder holding everything
    std::string out;       // where the archives go
    std::string standIn;   // a stand-in Windows player
    std::string webPlayer; // a stand-in web player's folder
    Packing() {
        base = makeTempFolder();
        chmod(base.c_str(), 0755);
        out = base + "/out";
        standIn = base + "/stand-in.exe";
        writeFile(standIn, std::string("MZ stand-in for the Windows player"));
        webPlayer = base + "/web-player";
        writeWebPlayer(webPlayer);
    }
    ~Packing() { removeFolder(base); }

    ToolRun pack(const std::string& story, const std::string& options = "") const {
        return runCommand(builtProgram("bexu-pack") + " " + shellQuoted(story) + " --out " +
                          shellQuoted(out) + " --windows-player " + shellQuoted(standIn) +
                          " --linux-player " + shellQuoted(linuxPlayer()) + " --web-player " +
                          shellQuoted(webPlayer) + " " + options + " 2>&1");
    }
    std::string zip(const std::string& title) const { return out + "/" + title + "-windows.zip"; }
    std::string tarball(const std::string& title) const {
        return out + "/" + title + "-linux-x86_64.tar.gz";
    }
    std::string webZip(const std::string& title) const { return out + "/" + title + "-web.zip"; }
    // bexu-pack's arguments for `story`: 0 the story, 2 the output folder, 4, 6 and 8 the
    // Windows, Linux and web players.
    std::vector<std::string> arguments(const std::string& story) const {
        return {story,    "--out",          out,           "--windows-player",
                standIn,  "--linux-player", linuxPlayer(), "--web-player",
                webPlayer};
    }
    std::vector<std::string> archives(const std::string& title) const {
        return {title + "-linux-x86_64.tar.gz", title + "-web.zip", title + "-windows.zip"};
    }
};

std::vector<std::string> zipListing(const std::string& zip) {
    return lines(runCommand("unzip -Z1 " + shellQuoted(zip)).output);
}

std::vector<std::string> tarListing(const std::string& tarball) {
    return lines(runCommand("tar tzf " + shellQuoted(tarball)).output);
}

std::string zipMember(const std::string& zip, const std::string& member) {
    return runCommand("unzip -p " + shellQuoted(zip) + " " + shellQuoted(member)).output;
}

std::string tarMember(const std::string& tarball, const std::string& member) {
    return runCommand("tar xzf " + shellQuoted(tarball) + " -O " + shellQuoted(member)).output;
}

std::vector<std::string> withTop(const std::string& top, const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const std::string& name : names) {
        out.push_back(top + "/" + name);
    }
    return out;
}

// ---- the web archive's story data ----------------------------------------------

struct WebEntry {
    WebCoding coding;
    std::string name;
    uint32_t fileSize;
    std::string stored;
};

uint32_t little(const std::string& bytes, size_t at, size_t size) {
    uint32_t value = 0;
    for (size_t i = size; i-- > 0;) {
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    }
    return value;
}

// The entries of story.bexw, read by the layout of format/web_story.h; empty when the
// layout does not hold, with the reason added as a failure.
std::vector<WebEntry> webEntries(const std::string& data) {
    std::vector<WebEntry> entries;
    if (data.size() < kWebStoryHeaderSize || data.compare(0, 8, kWebStoryMagic) != 0) {
        ADD_FAILURE() << "no story data";
        return entries;
    }
    size_t at = kWebStoryHeaderSize;
    size_t indexEnd = at + little(data, 8, 4);
    size_t payload = indexEnd;
    for (uint32_t i = 0, count = little(data, 12, 4); i < count; ++i) {
        WebEntry entry;
        entry.coding = static_cast<WebCoding>(data[at]);
        uint32_t stored = little(data, at + 1, 4);
        entry.fileSize = little(data, at + 5, 4);
        size_t nameSize = little(data, at + 9, 2);
        entry.name = data.substr(at + kWebStoryEntryHeaderSize, nameSize);
        at += kWebStoryEntryHeaderSize + nameSize;
        entry.stored = data.substr(payload, stored);
        payload += stored;
        entries.push_back(entry);
    }
    EXPECT_EQ(at, indexEnd);
    EXPECT_EQ(payload, data.size());
    return entries;
}

std::vector<std::string> webNames(const std::vector<WebEntry>& entries) {
    std::vector<std::string> names;
    for (const WebEntry& entry : entries) {
        names.push_back(entry.name);
    }
    return names;
}

std::string inflated(const std::string& stored, uint32_t size) {
    std::string out(size, '\0');
    z_stream stream = {};
    inflateInit2(&stream, -15);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data()));
    stream.avail_in = static_cast<uInt>(stored.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = size;
    bool ended = inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.avail_out == 0;
    inflateEnd(&stream);
    return ended ? out : "(does not inflate to its size)";
}

std::vector<uint32_t> bmpPixels(const std::string& file, int32_t* width, int32_t* height) {
    PlatformBitmap* bitmap =
        softDecodeBmp(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    if (bitmap == nullptr) {
        return {};
    }
    *width = bitmap->width;
    *height = bitmap->height;
    std::vector<uint32_t> pixels(bitmap->pixels,
                                 bitmap->pixels + size_t(bitmap->width) * bitmap->height);
    platformDeleteBitmap(bitmap);
    return pixels;
}

// Each entry gives back what the player reads of the story's file: the same bytes, or
// for a PNG the same pixels, in a BMP of the size the index gives.
void expectEntriesGiveTheFiles(const std::vector<WebEntry>& entries, const std::string& story,
                               const std::string& work) {
    for (const WebEntry& entry : entries) {
        SCOPED_TRACE(entry.name);
        std::string file = readFile(story + "/" + entry.name);
        switch (entry.coding) {
        case WebCoding::Stored:
            EXPECT_TRUE(entry.stored == file);
            break;
        case WebCoding::Deflate:
            EXPECT_TRUE(inflated(entry.stored, entry.fileSize) == file);
            break;
        case WebCoding::Wave: {
            std::string decoded(entry.fileSize, '\0');
            EXPECT_TRUE(decodeLosslessWave(
                reinterpret_cast<const uint8_t*>(entry.stored.data()), entry.stored.size(),
                reinterpret_cast<uint8_t*>(&decoded[0]), decoded.size()));
            EXPECT_TRUE(decoded == file);
            break;
        }
        case WebCoding::Png: {
            writeFile(work + "/entry.png", entry.stored);
            ReferenceImage png;
            ASSERT_TRUE(readPng(work + "/entry.png", &png));
            int32_t width = 0;
            int32_t height = 0;
            std::vector<uint32_t> pixels = bmpPixels(file, &width, &height);
            EXPECT_EQ(png.width, width);
            EXPECT_EQ(png.height, height);
            for (uint32_t& pixel : png.pixels) {
                pixel &= 0xFFFFFF;
            }
            EXPECT_TRUE(png.pixels == pixels);
            EXPECT_EQ(entry.fileSize, webBitmapFileSize(uint32_t(width), uint32_t(height)));
            EXPECT_LE(entry.fileSize, file.size());
            break;
        }
        default:
            ADD_FAILURE() << "coding " << int(entry.coding);
        }
        EXPECT_LT(entry.stored.size(), file.size() + 1);
    }
}

// ---- the files a script names, each at its command's `[` -------------------------

struct NamedFiles {
    const char* name;
    std::string script;
    std::vector<FileUse> uses;
};

const NamedFiles kNamedFiles[] = {
    {"PlacesAcrossLines",
     "{0\n  [cg~a.bmp]\r\n  [play~b.wav]}",
     {{"a.bmp", true, 2, 3}, {"b.wav", false, 3, 3}}},
    {"NotesOutsideBlocks", "notes [cg~n.bmp]\n{0 [cg~a.bmp][say~x]}", {{"a.bmp", true, 2, 4}}},
    {"StopsAtAnEmptyArgument", "{0 [cg~a.bmp][say~][cg~b.bmp]}", {{"a.bmp", true, 1, 4}}},
    {"StopsAtAMissingBlock", "{0 [cg~a.bmp]}{2 [cg~b.bmp]}", {{"a.bmp", true, 1, 4}}},
    {"KeywordOrderOfThePlayer",
     "{0 [cgplay~a.bmp][playcg~b.bmp][sayplay~c.wav][display~d.wav]}",
     {{"a.bmp", true, 1, 4}, {"b.bmp", true, 1, 18}, {"d.wav", false, 1, 47}}},
    {"BlockWithAZeroByte", std::string("{0 [cg~a.bmp]\0[cg~b.bmp]}", 25), {{"a.bmp", true, 1, 4}}},
    {"UnclosedBlock", "{0 [cg~a.bmp]", {{"a.bmp", true, 1, 4}}},
    {"RepeatsKept", "{0 [cg~a.bmp][cg~a.bmp]}", {{"a.bmp", true, 1, 4}, {"a.bmp", true, 1, 14}}},
    {"BlocksInPlayOrder",
     "{1 [cg~early.bmp]}\n{0 [cg~zero.bmp]}\n{1 [cg~late.bmp]}",
     {{"zero.bmp", true, 2, 4}, {"late.bmp", true, 3, 4}}},
};

class PackNamedFiles : public ::testing::TestWithParam<NamedFiles> {};

TEST_P(PackNamedFiles, AreThoseOfTheBlocksThatPlayAtTheirPlaces) {
    const NamedFiles& named = GetParam();
    std::string folder = makeStoryFolder(named.script);
    FileUses found = listFileUses(folder);
    removeFolder(folder);
    ASSERT_TRUE(found.readable);
    ASSERT_EQ(found.uses.size(), named.uses.size());
    for (size_t i = 0; i < named.uses.size(); ++i) {
        EXPECT_EQ(found.uses[i].name, named.uses[i].name) << i;
        EXPECT_EQ(found.uses[i].scene, named.uses[i].scene) << i;
        EXPECT_EQ(found.uses[i].line, named.uses[i].line) << i;
        EXPECT_EQ(found.uses[i].column, named.uses[i].column) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Pack, PackNamedFiles, ::testing::ValuesIn(kNamedFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// The search budget is for searches that read the file again, not for one pass over it.
TEST(Pack, NamedFilesOfAScriptLargerThanTheSearchBudget) {
    std::string folder = makeStoryFolder("");
    writeSparse(folder + "/script.bexu", "{0 [cg~a.bmp][say~x]}", off_t{300} << 20);
    FileUses found = listFileUses(folder);
    removeFolder(folder);
    ASSERT_EQ(found.uses.size(), 1u);
    EXPECT_EQ(found.uses[0].name, "a.bmp");
}

// ---- what the archives hold ---------------------------------------------------

TEST(Pack, DemoArchivesHoldExactlyThePlayerTheStoryAndTheirOwnFiles) {
    std::string demo = demoStoryFolder();
    if (demo.empty()) {
        GTEST_SKIP() << "examples/demo holds no story yet";
    }
    Packing packing;
    ToolRun run = packing.pack(demo);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string title = "The-Keeper-of-Gull-Rock";
    std::vector<std::string> story = {"ahoy.wav",    "bell.wav",         "chime.wav", "dawn.bmp",
                                      "font.bmp",    "harbour.bmp",      "init.bexc", "night.bmp",
                                      "script.bexu", "transparency.bmp", "waves.wav"};
    std::vector<std::string> zip = withTop(title, {"", title + ".exe", "README.txt"});
    std::vector<std::string> tar =
        withTop(title, {"", title, title + ".desktop", "README.txt", "bexu"});
    for (const std::string& name : story) {
        zip.push_back(title + "/" + name);
        tar.push_back(title + "/" + name);
    }
    EXPECT_EQ(zipListing(packing.zip(title)), zip);
    EXPECT_EQ(tarListing(packing.tarball(title)), tar);
    EXPECT_EQ(folderNames(packing.out), packing.archives(title));
    // The web archive: the page's files at its top, the story's files in its data, in
    // the order the play first opens them.
    EXPECT_EQ(zipListing(packing.webZip(title)),
              (std::vector<std::string>{"README.txt", "bexu.js", "bexu.wasm", "index.html",
                                        "story.bexw"}));
    EXPECT_EQ(zipMember(packing.webZip(title), "bexu.wasm"),
              readFile(packing.webPlayer + "/bexu.wasm"));
    std::vector<WebEntry> web = webEntries(zipMember(packing.webZip(title), "story.bexw"));
    EXPECT_EQ(webNames(web),
              (std::vector<std::string>{"script.bexu", "init.bexc", "font.bmp", "transparency.bmp",
                                        "night.bmp", "waves.wav", "bell.wav", "harbour.bmp",
                                        "ahoy.wav", "dawn.bmp", "chime.wav"}));
    expectEntriesGiveTheFiles(web, demo, packing.base);
    std::string readMe = zipMember(packing.zip(title), title + "/README.txt");
    EXPECT_NE(readMe.find("Space reads on. Closing the window quits.\r\n"), std::string::npos)
        << readMe;
    EXPECT_EQ(readMe.compare(0, 25, "The Keeper of Gull Rock\r\n"), 0) << readMe;
    // How to get past the warnings an unsigned program meets, in Windows' own words.
    for (const char* words :
         {"\"Windows protected your PC\"", "\"More info\"", "\"Run anyway\"",
          "\"Open File - Security Warning\"", "Click \"Run\"", "\"Unblock\"", "Extract All"}) {
        EXPECT_NE(readMe.find(words), std::string::npos) << words << "\n" << readMe;
    }
    EXPECT_NE(readMe.find("right-click " + title + ".exe"), std::string::npos) << readMe;
    for (size_t at = readMe.find('\n'); at != std::string::npos; at = readMe.find('\n', at + 1)) {
        ASSERT_EQ(readMe[at - 1], '\r') << "a line of the Windows read-me ends without CR";
    }
}

TEST(Pack, SmallStoryPacksWhatItsBlocksNameAndListsTheRest) {
    Packing packing;
    std::string story = storyIn(packing.base,
                                "{0 [cg~rooms/hall.bmp][play~door.wav][say~Hello.]}\n"
                                "{1 [cg~rooms/../yard.bmp][play~./door.wav][cg~rooms//hall.bmp]"
                                "[say~Bye.]}\n"
                                "{3 [cg~never.bmp][say~Block 2 is missing.]}\n",
                                {{"rooms/hall.bmp", sceneBytes()},
                                 {"yard.bmp", sceneBytes()},
                                 {"door.wav", riffWave()},
                                 {"never.bmp", sceneBytes()},
                                 {"notes.txt", "ideas"},
                                 {"shots/index.html", "<html>"},
                                 {"shots/shot-0001.png", "png"},
                                 {"init.bexc", "Small Story"}});
    ToolRun run = packing.pack(story, "--force"); // block 2 is missing: an error
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::vector<std::string> files = {"door.wav",         "font.bmp",       "init.bexc",
                                      "rooms/",           "rooms/hall.bmp", "script.bexu",
                                      "transparency.bmp", "yard.bmp"};
    std::vector<std::string> zip = withTop("Small-Story", {"", "Small-Story.exe", "README.txt"});
    std::vector<std::string> tar =
        withTop("Small-Story", {"", "Small-Story", "Small-Story.desktop", "README.txt", "bexu"});
    for (const std::string& name : files) {
        zip.push_back("Small-Story/" + name);
        tar.push_back("Small-Story/" + name);
    }
    EXPECT_EQ(zipListing(packing.zip("Small-Story")), zip);
    EXPECT_EQ(tarListing(packing.tarball("Small-Story")), tar);
    std::vector<WebEntry> web = webEntries(zipMember(packing.webZip("Small-Story"), "story.bexw"));
    EXPECT_EQ(webNames(web),
              (std::vector<std::string>{"script.bexu", "init.bexc", "font.bmp", "transparency.bmp",
                                        "rooms/hall.bmp", "door.wav", "yard.bmp"}));
    expectEntriesGiveTheFiles(web, story, packing.base);
    for (const char* left :
         {"  left out: never.bmp", "  left out: notes.txt", "  left out: shots/ (2 files)"}) {
        EXPECT_NE(run.output.find(std::string(left) + "\n"), std::string::npos) << left << "\n"
                                                                                << run.output;
    }
    // Every file as it is on disk; the Windows player under the title's name.
    for (const char* name : {"rooms/hall.bmp", "door.wav", "script.bexu", "font.bmp"}) {
        std::string source = readFile(story + "/" + name);
        EXPECT_EQ(zipMember(packing.zip("Small-Story"), std::string("Small-Story/") + name), source)
            << name;
        EXPECT_EQ(tarMember(packing.tarball("Small-Story"), std::string("Small-Story/") + name),
                  source)
            << name;
    }
    EXPECT_EQ(zipMember(packing.zip("Small-Story"), "Small-Story/Small-Story.exe"),
              readFile(packing.standIn));
    std::string modes = runCommand("tar tzvf " + shellQuoted(packing.tarball("Small-Story")) +
                                   " | awk '{print $1, $2, $6}'")
                            .output;
    EXPECT_NE(modes.find("-rwxr-xr-x root/root Small-Story/bexu\n"), std::string::npos) << modes;
    EXPECT_NE(modes.find("-rwxr-xr-x root/root Small-Story/Small-Story\n"), std::string::npos);
    EXPECT_NE(modes.find("-rw-r--r-- root/root Small-Story/door.wav\n"), std::string::npos);
}

// 16-bit PCM of two decaying partials, as a struck bell: what linear prediction codes well.
std::string bellWave(uint32_t frames) {
    std::string samples;
    for (uint32_t i = 0; i < frames; ++i) {
        double t = i / 22050.0;
        double v = (0.5 * sin(2 * M_PI * 523 * t) + 0.3 * sin(2 * M_PI * 1307 * t)) * exp(-t);
        auto sample = static_cast<int16_t>(lround(v * 20000));
        samples.push_back(static_cast<char>(sample & 0xFF));
        samples.push_back(static_cast<char>((sample >> 8) & 0xFF));
    }
    std::string header =
        "RIFF" + std::string(4, '\0') + "WAVEfmt " +
        std::string("\x10\0\0\0\x01\0\x01\0\x22\x56\0\0\x44\xac\0\0\x02\0\x10\0", 20) + "data";
    uint32_t size = static_cast<uint32_t>(samples.size());
    for (int i = 0; i < 4; ++i) {
        header.push_back(static_cast<char>(size >> (8 * i)));
    }
    return header + samples;
}

// Each file travels in the coding that makes it smallest, and gives the file back.
TEST(Pack, WebStoryCodesEachFileSmallestAndGivesItBack) {
    Packing packing;
    TestImage gradient = solidImage(320, 180, 0);
    for (int32_t y = 0; y < 180; ++y) {
        for (int32_t x = 0; x < 320; ++x) {
            gradient.pixels[size_t(y) * 320 + x] =
                uint32_t(x * 255 / 319) << 16 | uint32_t(y * 255 / 179) << 8 | uint32_t(x ^ y);
        }
    }
    std::vector<uint8_t> drawn = encodeBmp24(gradient);
    std::string noise;
    for (uint32_t i = 0, seed = 7; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        noise.push_back(static_cast<char>(seed >> 24));
    }
    std::string story = storyIn(
        packing.base, "{0 [cg~drawn.bmp][play~bell.wav][cg~flat.bmp][play~noise.wav][say~x]}",
        {{"drawn.bmp", std::string(drawn.begin(), drawn.end())},
         {"flat.bmp", sceneBytes()},
         {"bell.wav", bellWave(22050)},
         {"noise.wav", noise}});
    ASSERT_EQ(packing.pack(story).exitCode, 0);
    std::vector<WebEntry> web = webEntries(zipMember(packing.webZip("story"), "story.bexw"));
    std::vector<std::pair<std::string, WebCoding>> codings;
    for (const WebEntry& entry : web) {
        codings.emplace_back(entry.name, entry.coding);
    }
    EXPECT_EQ(codings, (std::vector<std::pair<std::string, WebCoding>>{
                           {"script.bexu", WebCoding::Deflate},
                           {"font.bmp", WebCoding::Png},
                           {"transparency.bmp", WebCoding::Deflate},
                           {"drawn.bmp", WebCoding::Png},
                           {"bell.wav", WebCoding::Wave},
                           {"flat.bmp", WebCoding::Deflate},
                           {"noise.wav", WebCoding::Stored}}));
    expectEntriesGiveTheFiles(web, story, packing.base);
}

// Past 100 bytes a tar path is split into prefix and name, or, with a name that long,
// carried in a pax record.
TEST(Pack, LongPathsArriveWhole) {
    Packing packing;
    std::string deep;
    for (int i = 0; i < 12; ++i) {
        deep += "folder" + std::to_string(i) + "/";
    }
    deep += "scene.bmp";
    std::string longName = std::string(150, 'n') + ".wav";
    std::string story = storyIn(packing.base, "{0 [cg~" + deep + "][play~" + longName + "][say~x]}",
                                {{deep, sceneBytes()}, {longName, riffWave()}});
    ASSERT_EQ(packing.pack(story).exitCode, 0);
    std::vector<std::string> tar = tarListing(packing.tarball("story"));
    std::vector<std::string> zip = zipListing(packing.zip("story"));
    for (const std::string& path : {deep, longName}) {
        EXPECT_NE(std::find(tar.begin(), tar.end(), "story/" + path), tar.end()) << path;
        EXPECT_NE(std::find(zip.begin(), zip.end(), "story/" + path), zip.end()) << path;
        EXPECT_EQ(tarMember(packing.tarball("story"), "story/" + path),
                  readFile(story + "/" + path));
    }
}

TEST(Pack, PackingTwiceGivesTheSameBytesWhateverTheFilesTimes) {
    Packing packing;
    std::string story = storyIn(packing.base, "{0 [cg~scene.bmp][say~Hello.]}",
                                {{"scene.bmp", sceneBytes()}, {"init.bexc", "Twice"}});
    ASSERT_EQ(packing.pack(story).exitCode, 0);
    std::string zip = readFile(packing.zip("Twice"));
    std::string tarball = readFile(packing.tarball("Twice"));
    std::string web = readFile(packing.webZip("Twice"));
    ASSERT_FALSE(zip.empty());
    ASSERT_FALSE(tarball.empty());
    ASSERT_FALSE(web.empty());
    runCommand("touch -d '2001-02-03 04:05:06' " + shellQuoted(story) + "/*");
    ASSERT_EQ(packing.pack(story).exitCode, 0);
    EXPECT_TRUE(readFile(packing.zip("Twice")) == zip);
    EXPECT_TRUE(readFile(packing.tarball("Twice")) == tarball);
    EXPECT_TRUE(readFile(packing.webZip("Twice")) == web);
}

// ---- what stops the packing ---------------------------------------------------

struct Refusal {
    const char* name;
    const char* script;
    const char* finding; // the line printed, after the story folder
};

const Refusal kRefusals[] = {
    {"CheckerError", "{0 [say~a]}\n{2 [say~b]}",
     "script.bexu:2:1: error: "}, // the checker's own wording is its tests' to fix
    {"SceneLeavingTheFolder", "{0\n  [cg~../outside.bmp]\n  [say~x]}",
     "script.bexu:2:3: error: scene '../outside.bmp' leaves the story folder through '..': the "
     "unpacked story does not hold the file [unpackable-name]"},
    {"SceneLeavingDeeper", "{0 [say~x][cg~rooms/../../outside.bmp]}",
     "script.bexu:1:11: error: scene 'rooms/../../outside.bmp' leaves the story folder"},
    {"AbsoluteSound", "{0 [play~/usr/share/sounds/x.wav][say~x]}",
     "script.bexu:1:4: error: sound '/usr/share/sounds/x.wav' is an absolute path"},
    {"DriveLetter", "{0 [play~C:/x.wav][say~x]}",
     "script.bexu:1:4: error: sound 'C:/x.wav' is an absolute path"},
    {"CaseDiffers", "{0 [cg~rooms/HALL.bmp][say~x]}",
     "script.bexu:1:4: error: scene 'rooms/HALL.bmp' differs in case from 'hall.bmp' on disk"},
    {"FolderCaseDiffers", "{0 [play~Rooms/door.wav][say~x]}",
     "script.bexu:1:4: error: sound 'Rooms/door.wav' differs in case from 'rooms' on disk"},
    {"Backslash", "{0 [play~rooms\\door.wav][say~x]}",
     "script.bexu:1:4: error: sound 'rooms\\door.wav' holds '\\'"},
    {"TitleLineBreak", "{0 [say~x]}",
     "init.bexc:1:6: error: init.bexc ends with a line break, which becomes part of the window "
     "title; save the file without one (printf 'My Story' > init.bexc) [title-line-break]"},
};

class PackRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(PackRefusal, NothingIsPackedUnlessForced) {
    const Refusal& refusal = GetParam();
    Packing packing;
    writeFile(packing.base + "/outside.bmp", sceneBytes());
    std::string story = storyIn(packing.base, refusal.script,
                                {{"rooms/hall.bmp", sceneBytes()}, {"rooms/door.wav", riffWave()}});
    if (std::string(refusal.name) == "TitleLineBreak") {
        writeFile(story + "/init.bexc", std::string("Title\n"));
    }
    ToolRun run = packing.pack(story);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find(story + "/" + refusal.finding), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("nothing packed (--force packs the story as it is)"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(folderNames(packing.out), std::vector<std::string>{});

    ToolRun forced = packing.pack(story, "--force");
    EXPECT_EQ(forced.exitCode, 0) << forced.output;
    EXPECT_EQ(folderNames(packing.out).size(), 3u) << forced.output;
}

INSTANTIATE_TEST_SUITE_P(Pack, PackRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// Links out of the story folder are never packed, --force or not; the checker's finding
// names the place. The files they lead to load, so nothing else is wrong.
struct LinkedOut {
    const char* name;
    const char* script;
    const char* link;   // made in the story folder
    const char* target; // relative to the folder holding the story and the secret
    const char* finding;
};

const LinkedOut kLinkedOut[] = {
    {"Scene", "{0 [say~x]\n[cg~secret.bmp][say~y]}", "secret.bmp", "secret/scene.bmp",
     "script.bexu:2:1: error: 'secret.bmp' is a link to '"},
    {"FolderOnTheWay", "{0 [cg~art/scene.bmp][say~y]}", "art", "../secret",
     "script.bexu:1:4: error: 'art/scene.bmp' goes through the link 'art' to '../secret'"},
    {"Sound", "{0 [play~secret.wav][say~y]}", "secret.wav", "secret/sound.wav",
     "script.bexu:1:4: error: 'secret.wav' is a link to '"},
    {"Font", "{0 [say~y]}", "font.bmp", "secret/font.bmp",
     "font.bmp: error: 'font.bmp' is a link to '"},
    {"Title", "{0 [say~y]}", "init.bexc", "secret/title", "init.bexc: error: 'init.bexc' is a "},
    {"Script", "", "script.bexu", "secret/script.bexu", "script.bexu: error: 'script.bexu' is a "},
};

class PackLinkedOut : public ::testing::TestWithParam<LinkedOut> {};

TEST_P(PackLinkedOut, IsRefusedEvenWithForce) {
    const LinkedOut& linked = GetParam();
    Packing packing;
    std::string secret = packing.base + "/secret";
    mkdir(secret.c_str(), 0755);
    writeFile(secret + "/scene.bmp", sceneBytes());
    writeFile(secret + "/sound.wav", riffWave());
    writeFile(secret + "/font.bmp", encodeBmp24(testFontSheet()));
    writeFile(secret + "/title", std::string("A secret title"));
    writeFile(secret + "/script.bexu", std::string("{0 [say~secret]}"));
    std::string story = storyIn(packing.base, linked.script);
    std::string link = story + "/" + linked.link;
    remove(link.c_str());
    std::string target =
        linked.target[0] == '.' ? std::string(linked.target) : packing.base + "/" + linked.target;
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    for (const char* options : {"", "--force"}) {
        ToolRun run = packing.pack(story, options);
        EXPECT_EQ(run.exitCode, 1) << options << "\n" << run.output;
        EXPECT_NE(run.output.find(story + "/" + linked.finding), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("[path-link-outside]"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("out of the story folder: nothing packed, not even with --force"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(folderNames(packing.out), std::vector<std::string>{});
    }
}

INSTANTIATE_TEST_SUITE_P(Pack, PackLinkedOut, ::testing::ValuesIn(kLinkedOut),
                         [](const auto& info) { return std::string(info.param.name); });

// Links that stay in the story folder are followed: the archives hold the file's bytes
// under the name the script gives.
TEST(Pack, LinksInsideTheStoryFolderArePacked) {
    Packing packing;
    std::string story = storyIn(packing.base, "{0 [cg~here.bmp][play~sounds/door.wav][say~x]}",
                                {{"art/hall.bmp", sceneBytes()}, {"audio/door.wav", riffWave()}});
    ASSERT_EQ(symlink("art/hall.bmp", (story + "/here.bmp").c_str()), 0);
    ASSERT_EQ(symlink((story + "/audio").c_str(), (story + "/sounds").c_str()), 0);
    ToolRun run = packing.pack(story);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(zipMember(packing.zip("story"), "story/here.bmp"), sceneBytes());
    EXPECT_EQ(tarMember(packing.tarball("story"), "story/sounds/door.wav"), riffWave());
}

struct TitleCase {
    const char* name;
    std::string title;
    const char* fileTitle; // what names the archives, at once or with --force
    const char* refusedAt; // nullptr: packed without --force
};

const TitleCase kTitles[] = {
    {"Plain", "The Keeper of Gull Rock", "The-Keeper-of-Gull-Rock", nullptr},
    {"Punctuation", "Who's there? <Me>: *", "Who-s-there-Me", nullptr},
    {"DeviceName", "con", "con-story", nullptr},
    {"NothingLeft", "***", "story", nullptr},
    // Shown as written in every title bar; the file names are made safe like any other.
    {"Slash", "Part 1/2: ../../etc", "Part-1-2-..-..-etc", nullptr},
    {"Backslash", "C:\\Windows", "C-Windows", nullptr},
    {"DoubleQuotes", "\"Quoted\" title", "Quoted-title", nullptr},
    {"LineBreak", "Title\n", "Title", "init.bexc:1:6: error: init.bexc ends with a line break"},
    {"ControlByte", std::string("Bell\x07"), "Bell",
     "init.bexc:1:5: error: the title holds byte 0x07"},
    {"NulByte", std::string("A\0B", 3), "A-B", "init.bexc:1:2: error: the title holds byte 0x00"},
    {"HighByte", "Caf\xC3\xA9", "Caf", "init.bexc:1:4: error: the title is UTF-8, U+00E9"},
    {"Latin1Byte", "Caf\xE9", "Caf", "init.bexc:1:4: error: the title holds byte 0xE9"},
};

class PackTitle : public ::testing::TestWithParam<TitleCase> {};

TEST_P(PackTitle, NamesTheArchivesOrIsRefused) {
    const TitleCase& title = GetParam();
    Packing packing;
    std::string story = storyIn(packing.base, "{0 [say~x]}", {{"init.bexc", title.title}});
    ToolRun run = packing.pack(story);
    if (title.refusedAt != nullptr) {
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find(story + "/" + title.refusedAt), std::string::npos) << run.output;
        EXPECT_EQ(folderNames(packing.out), std::vector<std::string>{});
        run = packing.pack(story, "--force");
    }
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::string name = title.fileTitle;
    EXPECT_EQ(folderNames(packing.out), packing.archives(name));
    EXPECT_EQ(zipListing(packing.zip(name))[1], name + "/" + name + ".exe");
}

INSTANTIATE_TEST_SUITE_P(Pack, PackTitle, ::testing::ValuesIn(kTitles),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- one title rule --------------------------------------------------------------

struct TitleVerdict {
    const char* name;
    std::string title;
    bool allowed;
};

const TitleVerdict kTitleVerdicts[] = {
    {"Plain", "The Harbour", true},
    {"Slash", "Me/You", true},
    {"QuotesAndBackslash", "Say \"hi\" \\ bye", true},
    {"Punctuation", "Who's there? <Me>: *", true},
    {"Utf8DashAndAccent", "Caf\xC3\xA9 \xE2\x80\x93 test", false},
    {"Latin1Accent", "Caf\xE9", false},
    {"Tab", "The\tHarbour", false},
    {"FinalLineBreak", "The Harbour\n", false},
    {"InnerLineBreak", "The\nHarbour", false},
    {"DeleteByte", "The Harbour\x7f", false},
};

class TitleRule : public ::testing::TestWithParam<TitleVerdict> {};

// bexu-new refuses a title exactly when bexu-check calls it an error and bexu-pack will
// not pack it.
TEST_P(TitleRule, NewCheckAndPackGiveOneVerdict) {
    const TitleVerdict& verdict = GetParam();
    struct stat info;
    if (stat("/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf", &info) != 0) {
        GTEST_SKIP() << "bexu-new's font is not installed (fonts-dejavu-core)";
    }
    Packing packing;
    std::string story = packing.base + "/story";
    ToolRun made = runCommand(builtProgram("bexu-new") + " " + shellQuoted(story) + " --title " +
                              shellQuoted(verdict.title) + " 2>&1");
    if (verdict.allowed) {
        ASSERT_EQ(made.exitCode, 0) << made.output;
        EXPECT_EQ(readFile(story + "/init.bexc"), verdict.title);
    } else {
        EXPECT_EQ(made.exitCode, 2) << made.output;
        EXPECT_NE(made.output.find("bexu-new: --title cannot be used: "), std::string::npos)
            << made.output;
        EXPECT_NE(stat(story.c_str(), &info), 0) << "nothing is made for a refused title";
        made = runCommand(builtProgram("bexu-new") + " " + shellQuoted(story) + " 2>&1");
        ASSERT_EQ(made.exitCode, 0) << made.output;
        writeFile(story + "/init.bexc", verdict.title);
    }
    ToolRun checked = runCommand(builtProgram("bexu-check") + " " + shellQuoted(story) + " 2>&1");
    EXPECT_EQ(checked.exitCode, verdict.allowed ? 0 : 1) << checked.output;
    EXPECT_EQ(checked.output.find(story + "/init.bexc:") == std::string::npos, verdict.allowed)
        << checked.output;
    ToolRun packed = packing.pack(story);
    EXPECT_EQ(packed.exitCode, verdict.allowed ? 0 : 1) << packed.output;
    EXPECT_EQ(folderNames(packing.out).size(), verdict.allowed ? 3u : 0u) << packed.output;
}

INSTANTIATE_TEST_SUITE_P(Tools, TitleRule, ::testing::ValuesIn(kTitleVerdicts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Pack, FileTitlesAreShortAndNeverEmpty) {
    EXPECT_EQ(safeFileTitle(std::string(100, 'a')), std::string(64, 'a'));
    EXPECT_EQ(safeFileTitle(std::string(63, 'a') + " b"), std::string(63, 'a'));
    EXPECT_EQ(safeFileTitle("..."), "story");
    EXPECT_EQ(safeFileTitle("...hidden"), "hidden");
    EXPECT_EQ(safeFileTitle("LPT1.txt"), "LPT1.txt-story");
    EXPECT_EQ(safeFileTitle("Com10"), "Com10");
}

TEST(Pack, WithoutATitleFileTheFolderNamesTheArchives) {
    Packing packing;
    std::string story = storyIn(packing.base, "{0 [say~x]}");
    std::string named = packing.base + "/My Story!";
    ASSERT_EQ(rename(story.c_str(), named.c_str()), 0);
    ToolRun run = packing.pack(named);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(folderNames(packing.out), packing.archives("My-Story"));
}

// ---- bad folders, bad players, huge stories ----------------------------------

// Runs bexu-pack with `arguments`, as nobody when `unprivileged` and root runs the
// tests, so that file modes hold. Returns the exit code (-1 for a signal), the
// output, and the peak resident memory in KiB.
struct MeasuredRun {
    int exitCode = -1;
    std::string output;
    long peakKiB = 0;
};

MeasuredRun runPack(const std::vector<std::string>& arguments, bool unprivileged = false,
                    int stopAfterMs = -1) {
    std::string program = std::string(BEXU_BINARY_DIR) + "/bexu-pack";
    std::string log = makeTempFolder();
    chmod(log.c_str(), 0777);
    if (unprivileged && getuid() == 0) {
        program = copyForAnyUser(program, log);
    }
    std::string logFile = log + "/output";
    pid_t child = fork();
    if (child == 0) {
        int descriptor = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(descriptor, 1);
        dup2(descriptor, 2);
        if (unprivileged && getuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(120);
        }
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (stopAfterMs >= 0) {
        usleep(static_cast<useconds_t>(stopAfterMs) * 1000);
        kill(child, SIGTERM);
    }
    int status = 0;
    rusage usage = {};
    wait4(child, &status, 0, &usage);
    MeasuredRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = readFile(logFile);
    run.peakKiB = usage.ru_maxrss;
    removeFolder(log);
    return run;
}

struct BadInput {
    const char* name;
    const char* message;
};

const BadInput kBadInputs[] = {
    {"MissingStoryFolder", "story folder '%S/nowhere' cannot be read: No such file or directory"},
    {"StoryIsAFile", "story folder '%S/story/script.bexu' cannot be read: Not a directory"},
    {"UnreadableStoryFolder", "story folder '%S/story' cannot be read: Permission denied"},
    {"NoScript", "script.bexu cannot be read: nothing packed"},
    {"OutputIsAFile", "the output folder '%S/story/font.bmp' is not a folder"},
    {"OutputCannotBeMade", "the output folder '/proc/bexu-pack' cannot be made"},
    {"OutputNotWritable", "cannot write in '%S/locked': Permission denied: nothing packed"},
    {"NoWindowsPlayer", "the Windows player '%S/none.exe' is missing or not one"},
    {"LinuxPlayerNotAProgram", "the Linux player '%S/story/script.bexu' is missing or not one"},
    {"NoWebPlayer", "the web player '%S/story' is missing or not one (its bexu.js is missing or "
                    "not one): build it (cmake --preset web && cmake --build --preset web) or "
                    "name its folder with --web-player"},
    {"WebPlayerWithoutWasm", "the web player '%S/web-player' is missing or not one (its "
                             "bexu.wasm is missing or not one)"},
    {"StoryOfSeveralGigabytes", "; a zip archive holds at most 4.2 GB: nothing packed"},
};

class PackBadInput : public ::testing::TestWithParam<BadInput> {};

TEST_P(PackBadInput, ClearMessageNonZeroExitNoArchive) {
    const BadInput& bad = GetParam();
    std::string name = bad.name;
    Packing packing;
    std::string story = storyIn(packing.base, "{0 [play~big.wav][play~big2.wav][say~x]}");
    std::vector<std::string> arguments = packing.arguments(story);
    bool unprivileged = false;
    if (name == "MissingStoryFolder") {
        arguments[0] = packing.base + "/nowhere";
    } else if (name == "StoryIsAFile") {
        arguments[0] = story + "/script.bexu";
    } else if (name == "UnreadableStoryFolder") {
        chmod(story.c_str(), 0);
        unprivileged = true;
    } else if (name == "NoScript") {
        remove((story + "/script.bexu").c_str());
    } else if (name == "OutputIsAFile") {
        arguments[2] = story + "/font.bmp";
    } else if (name == "OutputCannotBeMade") {
        arguments[2] = "/proc/bexu-pack";
    } else if (name == "OutputNotWritable") {
        arguments[2] = packing.base + "/locked";
        mkdir(arguments[2].c_str(), 0555);
        chmod(story.c_str(), 0755);
        unprivileged = true;
    } else if (name == "NoWindowsPlayer") {
        arguments[4] = packing.base + "/none.exe";
    } else if (name == "LinuxPlayerNotAProgram") {
        arguments.insert(arguments.end(), {"--linux-player", story + "/script.bexu"});
    } else if (name == "NoWebPlayer") {
        arguments[8] = story;
    } else if (name == "WebPlayerWithoutWasm") {
        writeFile(packing.webPlayer + "/bexu.wasm", std::string("MZ no wasm"));
    } else if (name == "StoryOfSeveralGigabytes") {
        writeSparse(story + "/big.wav", riffWave(), 2500000000);
        writeSparse(story + "/big2.wav", riffWave(), 2500000000);
    }
    if (unprivileged && getuid() == 0) {
        arguments[6] = copyForAnyUser(arguments[6], packing.base);
    }
    MeasuredRun run = runPack(arguments, unprivileged);
    if (run.exitCode == 120) {
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    }
    std::string message = bad.message;
    size_t marker = message.find("%S");
    if (marker != std::string::npos) {
        message.replace(marker, 2, packing.base);
    }
    EXPECT_NE(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("bexu-pack: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    EXPECT_EQ(folderNames(packing.out), std::vector<std::string>{});
    if (name == "OutputNotWritable") {
        EXPECT_EQ(folderNames(arguments[2]), std::vector<std::string>{});
    }
    chmod(story.c_str(), 0755);
}

INSTANTIATE_TEST_SUITE_P(Pack, PackBadInput, ::testing::ValuesIn(kBadInputs),
                         [](const auto& info) { return std::string(info.param.name); });

// A 320 MiB sound goes through in chunks: little memory, and its full size arrives.
// Stopped half-way, the packing leaves nothing behind.
// An archive being written shows on a terminal how far it is, and clears the line
// before the summary; one done within the first second shows nothing.
TEST(Pack, ShowsProgressOnATerminalWhenAnArchiveTakesLong) {
    if (runCommand("command -v script >/dev/null").exitCode != 0) {
        GTEST_SKIP() << "script (util-linux) is needed for a terminal";
    }
    Packing packing;
    std::string story = storyIn(packing.base, "{0 [play~big.wav][say~x]}");
    writeSparse(story + "/big.wav", riffWave(), off_t{64} << 20);
    std::string command = builtProgram("bexu-pack") + " " + shellQuoted(story) + " --out " +
                          shellQuoted(packing.out) + " --windows-player " +
                          shellQuoted(packing.standIn) + " --linux-player " +
                          shellQuoted(linuxPlayer()) + " --web-player " +
                          shellQuoted(packing.webPlayer);
    // The line shows at once rather than after a second: the archives here take less.
    ToolRun terminal =
        runCommand("BEXU_PROGRESS_AFTER_MS=0 script -qefc " + shellQuoted(command) + " /dev/null");
    ASSERT_EQ(terminal.exitCode, 0) << terminal.output;
    for (const char* archive : {"story-windows.zip", "story-linux-x86_64.tar.gz"}) {
        EXPECT_NE(terminal.output.find(std::string("\rbexu-pack: ") + archive + " "),
                  std::string::npos)
            << archive << "\n"
            << terminal.output;
    }
    EXPECT_NE(terminal.output.find(" MB, about "), std::string::npos) << terminal.output;
    EXPECT_NE(terminal.output.find("\r\033[Kbexu-pack: \"story\": 4 story files"),
              std::string::npos)
        << terminal.output;

    writeFile(story + "/big.wav", riffWave());
    removeFolder(packing.out);
    ToolRun quick = runCommand("script -qefc " + shellQuoted(command) + " /dev/null");
    ASSERT_EQ(quick.exitCode, 0) << quick.output;
    EXPECT_EQ(quick.output.find("\033[K"), std::string::npos) << quick.output;
}

TEST(Pack, LargeFilesAreStreamedAndAnInterruptedPackingLeavesNothing) {
    Packing packing;
    std::string story = storyIn(packing.base, "{0 [play~big.wav][say~x]}");
    const off_t size = off_t{320} << 20;
    writeSparse(story + "/big.wav", riffWave(), size);
    std::vector<std::string> arguments = packing.arguments(story);

    MeasuredRun stopped = runPack(arguments, false, 300);
    EXPECT_NE(stopped.exitCode, 0) << stopped.output;
    EXPECT_EQ(folderNames(packing.out), std::vector<std::string>{});

    MeasuredRun run = runPack(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.output;
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(run.peakKiB, 64 * 1024) << "peak resident memory";
#endif
    std::string listed = runCommand("tar tzvf " + shellQuoted(packing.tarball("story")) +
                                    " story/big.wav | awk '{print $3}'")
                             .output;
    EXPECT_EQ(listed, std::to_string(size) + "\n");
    std::string zipped = runCommand("unzip -Zl " + shellQuoted(packing.zip("story")) +
                                    " story/big.wav | awk '{print $4}'")
                             .output;
    EXPECT_EQ(zipped, std::to_string(size) + "\n");
}

} // namespace
