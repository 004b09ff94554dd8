// bexu-check run as built: each trap script gives exactly its finding at its place (a
// finding about a command as a whole at the command's `[`, as every tool names it; one
// about a byte at that byte), clean scripts give none, and the demo story is clean.
#include "check/author_traps.h"
#include "check/story_check.h"
#include "check/story_paths.h"
#include "support/test_files.h"
#include "tool_run.h"

#include "engine/engine.h"
#include "platform/platform.h"
#include "platform/win32/bitmap_file.h"
#include "support/player_load.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Finding {
    std::string file;
    int line = 0;
    int column = 0;
    std::string severity;
    std::string code;
};

// Reads the compiler-style lines: `folder/file:line:column: severity: message [code]`.
std::vector<Finding> findings(const std::string& output, const std::string& folder) {
    static const std::regex lineForm(
        R"(^([^:\n]*)(?::(\d+):(\d+))?: (error|warning|note): .* \[([a-z0-9-]+)\]$)");
    std::vector<Finding> found;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end - start);
        start = end == std::string::npos ? output.size() : end + 1;
        std::smatch match;
        if (std::regex_match(line, match, lineForm)) {
            Finding finding;
            finding.file = match[1].str();
            if (finding.file.compare(0, folder.size() + 1, folder + "/") == 0) {
                finding.file = finding.file.substr(folder.size() + 1);
            }
            finding.line = match[2].matched ? std::stoi(match[2].str()) : 0;
            finding.column = match[3].matched ? std::stoi(match[3].str()) : 0;
            finding.severity = match[4].str();
            finding.code = match[5].str();
            found.push_back(finding);
        }
    }
    return found;
}

ToolRun check(const std::string& folder, const std::string& options = "") {
    return runCommand(builtProgram("bexu-check") + " " + shellQuoted(folder) + options + " 2>&1");
}

std::string riffWave() {
    // A valid header and a few silent samples.
    std::string wave(
        "RIFF\x2c\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0"
        "data\x08\0\0\0\x80\x80\x80\x80\x80\x80\x80\x80",
        52);
    return wave;
}

// riffWave with another format tag, channel count, sample size and block size.
std::string riffWave(uint8_t tag, uint8_t channels, uint8_t bits, uint8_t blockAlign) {
    std::string wave = riffWave();
    wave[20] = static_cast<char>(tag);
    wave[22] = static_cast<char>(channels);
    wave[32] = static_cast<char>(blockAlign);
    wave[34] = static_cast<char>(bits);
    return wave;
}

// Extra files a trap folder gets beside the test font and tile.
enum class Extra {
    None,
    Scene,
    BadScene,
    Sound,
    BadSound,
    BareSound,
    Sound24,
    SoundFloat,
    SoundSixChannels,
    SoundImaAdpcm,
    SoundALaw,
    NoFont,
    SmallFont,
    NoTile,
    SmallTile,
    WideScene,
    SmallScene,
    SceneInFolder,
    TitleBreak,
    TitleControl,
    TitleUtf8,
    TitleClean,
    TitleSlashes,
    TitleHuge,
    SceneLinkedOut,
    FolderLinkedOut,
    SoundLinkedOut,
    FontLinkedOut,
    TitleLinkedOut,
    SceneLinkedIn,
    SceneLinkedInByFullPath,
    LinkLoop
};

// Where the files that links lead out to lie: beside the story folder, not in it.
std::string outsideOf(const std::string& folder) {
    return folder + "-outside";
}

std::vector<uint8_t> canvasScene(int32_t width, int32_t height) {
    return encodeBmp24(solidImage(width, height, 0x336699));
}

void addExtra(const std::string& folder, Extra extra) {
    switch (extra) {
    case Extra::None:
        break;
    case Extra::Scene:
        writeFile(folder + "/scene.bmp", canvasScene(1600, 900));
        break;
    case Extra::WideScene:
        writeFile(folder + "/scene.bmp", canvasScene(1920, 1080));
        break;
    case Extra::SmallScene:
        writeFile(folder + "/scene.bmp", canvasScene(1280, 720));
        break;
    case Extra::SceneInFolder:
        mkdir((folder + "/art").c_str(), 0755);
        writeFile(folder + "/art/scene.bmp", canvasScene(1600, 900));
        break;
    case Extra::TitleBreak:
        writeFile(folder + "/init.bexc", std::string("The Harbour\r\n"));
        break;
    case Extra::TitleControl:
        writeFile(folder + "/init.bexc", std::string("The\tHarbour"));
        break;
    case Extra::TitleUtf8:
        writeFile(folder + "/init.bexc", std::string("Caf\xC3\xA9 Harbour"));
        break;
    case Extra::TitleClean:
        writeFile(folder + "/init.bexc", std::string("The Harbour: a story"));
        break;
    case Extra::TitleSlashes:
        writeFile(folder + "/init.bexc", std::string("Me/You \"and\" C:\\them"));
        break;
    case Extra::TitleHuge:
        writeFile(folder + "/init.bexc", std::string(2 << 20, 'a'));
        break;
    case Extra::BadScene:
        writeFile(folder + "/scene.bmp", std::string("BM this is no bitmap"));
        break;
    case Extra::Sound:
        writeFile(folder + "/sound.wav", riffWave());
        break;
    case Extra::BadSound:
        writeFile(folder + "/sound.wav", std::string("ID3 an mp3 file"));
        break;
    case Extra::BareSound: // no RIFF header: the Windows player does not find its chunks
        writeFile(folder + "/sound.wav", riffWave().substr(8));
        break;
    case Extra::Sound24:
        writeFile(folder + "/sound.wav", riffWave(1, 1, 24, 3));
        break;
    case Extra::SoundFloat:
        writeFile(folder + "/sound.wav", riffWave(3, 1, 32, 4));
        break;
    case Extra::SoundSixChannels:
        writeFile(folder + "/sound.wav", riffWave(1, 6, 8, 6));
        break;
    case Extra::SoundImaAdpcm:
        writeFile(folder + "/sound.wav", riffWave(0x11, 1, 4, 8));
        break;
    case Extra::SoundALaw:
        writeFile(folder + "/sound.wav", riffWave(6, 2, 8, 2));
        break;
    case Extra::NoFont:
        remove((folder + "/font.bmp").c_str());
        break;
    case Extra::SmallFont:
        writeFile(folder + "/font.bmp", encodeBmp24(solidImage(400, 197, 0xFF00FF)));
        break;
    case Extra::NoTile:
        remove((folder + "/transparency.bmp").c_str());
        break;
    case Extra::SmallTile:
        writeFile(folder + "/transparency.bmp", encodeBmp24(solidImage(31, 32, 0)));
        break;
    // Links out of the folder lead to files that load: only the link is wrong.
    case Extra::SceneLinkedOut:
        mkdir(outsideOf(folder).c_str(), 0755);
        writeFile(outsideOf(folder) + "/scene.bmp", canvasScene(1600, 900));
        symlink((outsideOf(folder) + "/scene.bmp").c_str(), (folder + "/scene.bmp").c_str());
        break;
    case Extra::FolderLinkedOut:
        mkdir(outsideOf(folder).c_str(), 0755);
        writeFile(outsideOf(folder) + "/scene.bmp", canvasScene(1600, 900));
        symlink(("../" + outsideOf(folder).substr(folder.rfind('/') + 1)).c_str(),
                (folder + "/art").c_str());
        break;
    case Extra::SoundLinkedOut:
        mkdir(outsideOf(folder).c_str(), 0755);
        writeFile(outsideOf(folder) + "/sound.wav", riffWave());
        symlink((outsideOf(folder) + "/sound.wav").c_str(), (folder + "/sound.wav").c_str());
        break;
    case Extra::FontLinkedOut:
        mkdir(outsideOf(folder).c_str(), 0755);
        rename((folder + "/font.bmp").c_str(), (outsideOf(folder) + "/font.bmp").c_str());
        symlink((outsideOf(folder) + "/font.bmp").c_str(), (folder + "/font.bmp").c_str());
        break;
    case Extra::TitleLinkedOut:
        mkdir(outsideOf(folder).c_str(), 0755);
        writeFile(outsideOf(folder) + "/title", std::string("A title"));
        symlink((outsideOf(folder) + "/title").c_str(), (folder + "/init.bexc").c_str());
        break;
    case Extra::SceneLinkedIn:
        addExtra(folder, Extra::SceneInFolder);
        symlink("art/scene.bmp", (folder + "/scene.bmp").c_str());
        break;
    case Extra::SceneLinkedInByFullPath:
        addExtra(folder, Extra::SceneInFolder);
        symlink((folder + "/art/scene.bmp").c_str(), (folder + "/scene.bmp").c_str());
        break;
    case Extra::LinkLoop:
        symlink("scene.bmp", (folder + "/scene.bmp").c_str());
        break;
    }
}

struct Trap {
    const char* name;
    std::string script;
    Extra extra;
    const char* code; // nullptr: the script is clean
    const char* file;
    int line;
    int column;
    const char* severity;
    const char* options = ""; // for bexu-check
    // Another finding the same script gives (a long line that is also what overflows).
    const char* alsoCode = nullptr;
};

// Lines made for the page tests: a full page is 27 rows of 64 glyphs, one line that
// wraps or rows of their own.
const std::string kFullPage(64 * 27, 'a');
std::string pageOfRows() {
    std::string rows = std::string(64, 'a');
    for (int row = 1; row < 27; ++row) {
        rows += "\n" + std::string(64, 'a');
    }
    return rows;
}
std::string sayLines(int count) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += "[say~x]\n";
    }
    return lines;
}

const std::vector<Trap>& traps() {
    static const std::vector<Trap> table = {
        // The block sequence.
        {"missing block", "{0[say~a]}\n{2[say~b]}", Extra::None, "missing-block", "script.bexu", 2,
         1, "error"},
        {"no block 0", "notes only\n", Extra::None, "missing-block", "script.bexu", 1, 1, "error"},
        {"out of order", "{1[say~b]}\n{0[say~a]}", Extra::None, "block-order", "script.bexu", 1, 1,
         "error"},
        {"twice the same number", "{0[say~a]}\n{1[say~b]}\n  {1[say~c]}", Extra::None,
         "block-order", "script.bexu", 3, 3, "error"},
        {"never closed", "{0[say~a]\n", Extra::None, "unclosed-block", "script.bexu", 1, 1,
         "error"},
        {"next block inside an open one", "{0[say~a]\n {1[say~b]}", Extra::None, "brace-in-block",
         "script.bexu", 2, 2, "error"},
        {"stray brace in notes", "{0[say~a]}\nnotes: {x}", Extra::None, "stray-brace",
         "script.bexu", 2, 8, "warning"},
        {"number in notes", "Scene {2}: the harbour.\n{0[say~a]}\n{1[say~b]}", Extra::None,
         "stray-brace", "script.bexu", 1, 7, "warning"},
        {"number in notes around a block", "notes {5 and\n{0[say~a]}", Extra::None, "stray-brace",
         "script.bexu", 1, 7, "warning"},
        {"brace inside a command", "{0[say~a}b]}", Extra::None, "brace-in-command", "script.bexu",
         1, 9, "error"},
        // Commands.
        {"no argument", "{0[say~a][say][say~b]}", Extra::None, "empty-argument", "script.bexu", 1,
         10, "error"},
        {"tilde without argument", "{0\n  [say~]}", Extra::None, "empty-argument", "script.bexu", 2,
         3, "error"},
        {"empty brackets", "{0[]}", Extra::None, "empty-argument", "script.bexu", 1, 3, "error"},
        {"no keyword", "{0[speak~hi]}", Extra::None, "no-keyword", "script.bexu", 1, 3, "warning"},
        {"capital keyword", "{0[Say~hi]}", Extra::None, "no-keyword", "script.bexu", 1, 3,
         "warning"},
        {"empty name", "{0[~hi]}", Extra::None, "no-keyword", "script.bexu", 1, 3, "warning"},
        {"keyword inside a word", "{0[essay~hi]}", Extra::None, "keyword-inside-name",
         "script.bexu", 1, 3, "warning"},
        {"blank before the name", "{0[ say~hi]}", Extra::None, "keyword-inside-name", "script.bexu",
         1, 3, "warning"},
        {"turn with another word", "{0[say~a][turn~page ]}", Extra::None, "turn-argument",
         "script.bexu", 1, 10, "warning"},
        {"wait for words", "{0[wait~abc]}", Extra::None, "wait-argument", "script.bexu", 1, 3,
         "warning"},
        {"wait with a unit", "{0[wait~500ms]}", Extra::None, "wait-argument", "script.bexu", 1, 3,
         "warning"},
        {"wait beyond 2^31", "{0[wait~3000000000]}", Extra::None, "wait-argument", "script.bexu", 1,
         3, "warning"},
        // Files.
        {"scene missing", "{0[cg~none.bmp]}", Extra::None, "scene-missing", "script.bexu", 1, 3,
         "error"},
        {"scene name with a blank", "{0[cg~ scene.bmp]}", Extra::Scene, "scene-missing",
         "script.bexu", 1, 3, "error"},
        {"scene no bitmap", "{0\n[cg~scene.bmp]}", Extra::BadScene, "scene-unloadable",
         "script.bexu", 2, 1, "error"},
        {"sound missing", "{0[play~none.wav]}", Extra::None, "sound-missing", "script.bexu", 1, 3,
         "warning"},
        {"sound no wave", "{0[play~sound.wav]}", Extra::BadSound, "sound-unreadable", "script.bexu",
         1, 3, "warning"},
        {"sound without its RIFF header", "{0[play~sound.wav]}", Extra::BareSound,
         "sound-unreadable", "script.bexu", 1, 3, "warning"},
        // Encodings the Windows player may lack.
        {"sound in 24-bit PCM", "{0[play~sound.wav][say~a]}", Extra::Sound24, "sound-windows",
         "script.bexu", 1, 3, "warning"},
        {"sound in floating point", "{0[play~sound.wav][say~a]}", Extra::SoundFloat,
         "sound-windows", "script.bexu", 1, 3, "warning"},
        {"sound of six channels", "{0[play~sound.wav][say~a]}", Extra::SoundSixChannels,
         "sound-windows", "script.bexu", 1, 3, "warning"},
        {"font missing", "{0[say~a]}", Extra::NoFont, "font-missing", "font.bmp", 0, 0, "error"},
        {"font too small", "{0[say~a]}", Extra::SmallFont, "font-small", "font.bmp", 0, 0, "error"},
        {"tile missing", "{0[say~a]}", Extra::NoTile, "tile-missing", "transparency.bmp", 0, 0,
         "error"},
        {"tile too small", "{0[say~a]}", Extra::SmallTile, "tile-small", "transparency.bmp", 0, 0,
         "error"},
        // What the font draws.
        {"tab in a line", "{0[say~a\tb]}", Extra::None, "undrawable-byte", "script.bexu", 1, 9,
         "warning"},
        {"tilde in a line", "{0[say~a~b]}", Extra::None, "undrawable-byte", "script.bexu", 1, 9,
         "warning"},
        {"bar in a line", "{0[say~|b]}", Extra::None, "undrawable-byte", "script.bexu", 1, 8,
         "warning"},
        {"letter beyond z", "{0[say~caf\xE9]}", Extra::None, "undrawable-byte", "script.bexu", 1,
         11, "warning"},
        {"stutter with a tab", "{0[stutter3~a/b\tc]}", Extra::None, "undrawable-byte",
         "script.bexu", 1, 16, "warning"},
        // The page.
        {"wrap past the last row", "{0[say~" + kFullPage + "]\n[say~b]}", Extra::None,
         "page-overflow", "script.bexu", 2, 6, "warning", "", "long-line"},
        {"wrap inside one line", "{0[say~" + kFullPage + "b]}", Extra::None, "page-overflow",
         "script.bexu", 1, 8 + 64 * 27, "warning", "", "long-line"},
        {"line breaks below the canvas", "{0\n" + sayLines(27) + "[say~yz]}", Extra::None,
         "page-overflow", "script.bexu", 29, 6, "warning"},
        {"pages across blocks", "{0" + sayLines(20) + "}{1" + sayLines(8) + "}", Extra::None,
         "page-overflow", "script.bexu", 28, 6, "warning"},
        {"stammer-free stutter too long", "{0[say~" + kFullPage + "][stutter2~b/c]}", Extra::None,
         "page-overflow", "script.bexu", 1, 7 + 64 * 27 + 2, "warning", "", "long-line"},
        // The stammer.
        {"stutter without intensity", "{0[stutter~a/b]}", Extra::None, "no-stammer", "script.bexu",
         1, 3, "warning"},
        {"stutter intensity 1", "{0[stutter1~a/b]}", Extra::None, "no-stammer", "script.bexu", 1, 3,
         "warning"},
        // Brackets inside commands.
        {"brackets inside a line", "{0[say~Brackets [like this] inside]}", Extra::None,
         "bracket-in-command", "script.bexu", 1, 17, "warning"},
        {"command left open", "{0\n  [say~Unclosed command\n  [say~Next line.]\n}", Extra::None,
         "unclosed-command", "script.bexu", 2, 3, "error"},
        // Names a letter or two away from a keyword.
        {"say misspelt", "{0[sya~hi]}", Extra::None, "misspelt-keyword", "script.bexu", 1, 3,
         "warning"},
        {"wait misspelt", "{0[say~a]\n[wiat~500]}", Extra::None, "misspelt-keyword", "script.bexu",
         2, 1, "warning"},
        {"stutter misspelt", "{0[stuter3~a/b]}", Extra::None, "misspelt-keyword", "script.bexu", 1,
         3, "warning"},
        // Scenes of the wrong size, names that work on one system or one machine.
        {"scene too large", "{0[cg~scene.bmp]}", Extra::WideScene, "scene-size", "script.bexu", 1,
         3, "warning"},
        {"scene too small", "{0[cg~scene.bmp]}", Extra::SmallScene, "scene-size", "script.bexu", 1,
         3, "warning"},
        {"scene in another case", "{0[cg~Scene.bmp]}", Extra::Scene, "path-case", "script.bexu", 1,
         3, "error"},
        {"folder in another case", "{0[cg~Art/scene.bmp]}", Extra::SceneInFolder, "path-case",
         "script.bexu", 1, 3, "error"},
        {"sound in another case", "{0[play~SOUND.wav][say~a]}", Extra::Sound, "path-case",
         "script.bexu", 1, 3, "warning"},
        {"backslash between folders", "{0[cg~art\\scene.bmp]}", Extra::SceneInFolder,
         "path-backslash", "script.bexu", 1, 3, "error"},
        {"absolute path", "{0[cg~@DIR@/scene.bmp]}", Extra::Scene, "path-outside", "script.bexu", 1,
         3, "warning"},
        {"scene that is a folder", "{0[cg~art]}", Extra::SceneInFolder, "scene-missing",
         "script.bexu", 1, 3, "error"},
        {"path out and back in", "{0[play~../@NAME@/sound.wav]}", Extra::Sound, "path-outside",
         "script.bexu", 1, 3, "warning"},
        // Links: out of the story folder an error, even where the file there loads.
        {"scene linked out", "{0[say~a]\n[cg~scene.bmp]}", Extra::SceneLinkedOut,
         "path-link-outside", "script.bexu", 2, 1, "error"},
        {"folder linked out", "{0[cg~art/scene.bmp][say~a]}", Extra::FolderLinkedOut,
         "path-link-outside", "script.bexu", 1, 3, "error"},
        {"sound linked out", "{0[play~./sound.wav][say~a]}", Extra::SoundLinkedOut,
         "path-link-outside", "script.bexu", 1, 3, "error"},
        {"font linked out", "{0[say~a]}", Extra::FontLinkedOut, "path-link-outside", "font.bmp", 0,
         0, "error"},
        {"title linked out", "{0[say~a]}", Extra::TitleLinkedOut, "path-link-outside", "init.bexc",
         0, 0, "error"},
        {"links going round", "{0[cg~scene.bmp]}", Extra::LinkLoop, "scene-missing", "script.bexu",
         1, 3, "error"},
        // The title file.
        // What bexu-pack will not pack is an error.
        {"title with a final line break", "{0[say~a]}", Extra::TitleBreak, "title-line-break",
         "init.bexc", 1, 12, "error"},
        {"title with a tab", "{0[say~a]}", Extra::TitleControl, "title-control-byte", "init.bexc",
         1, 4, "error"},
        {"title in UTF-8", "{0[say~a]}", Extra::TitleUtf8, "title-non-ascii", "init.bexc", 1, 4,
         "error"},
        {"title file of two MiB", "{0[say~a]}", Extra::TitleHuge, "title-too-long", "init.bexc", 0,
         0, "error"},
        // Text in UTF-8.
        {"curly quotes and dashes", "{0\n[say~It\xE2\x80\x99s fine \xE2\x80\x94 really]}",
         Extra::None, "utf8-text", "script.bexu", 2, 8, "warning"},
        {"accented letter in UTF-8", "{0[stutter3~Caf\xC3\xA9/s]}", Extra::None, "utf8-text",
         "script.bexu", 1, 16, "warning"},
        // Lines longer than a row, at the byte where the player breaks them.
        {"line broken mid-word", "{0[say~" + std::string(60, 'a') + " bbbbbbbbbb]}", Extra::None,
         "long-line", "script.bexu", 1, 8 + 64, "warning"},
        {"second line broken", "{0[say~a\n" + std::string(70, 'c') + "]}", Extra::None, "long-line",
         "script.bexu", 2, 65, "warning"},
        {"65 glyphs", "{0[say~" + std::string(65, 'a') + "]}", Extra::None, "long-line",
         "script.bexu", 1, 8 + 64, "warning"},
        {"65 glyphs with notes", "{0[say~" + std::string(65, 'a') + "]}", Extra::None, "long-line",
         "script.bexu", 1, 8 + 64, "warning", " --notes"},
        {"stutter too long without stammers",
         "{0[stutter2~" + std::string(30, 'w') + " " + std::string(40, 'v') + "]}", Extra::None,
         "long-line", "script.bexu", 1, 13 + 64, "warning"},
        // Stammers that can push a line past the row: at the byte the longest layout breaks.
        {"stammers the issue saw break",
         "{0[stutter3~I/ I'll go up my/self, she said to the gulls.]}", Extra::None,
         "stammer-long-line", "script.bexu", 1, 45, "warning"},
        {"stammers breaking a long word",
         "{0[stutter3~Mara turned. It was her own gran/mother, forty years younger.]}", Extra::None,
         "stammer-long-line", "script.bexu", 1, 46, "warning"},
        {"many short stammered words", "{0[stutter9~a b c d e f g h i j k l m n o p]}", Extra::None,
         "stammer-long-line", "script.bexu", 1, 19, "warning"},
        // Notes, when asked for: what a line with '/' reads like without stammers.
        {"slash joins syllables", "{0[stutter3~I/don't know.]}", Extra::None, "stammer-reads-as",
         "script.bexu", 1, 14, "note", " --notes"},
        // Clean scripts: no finding at all.
        {"clean lines", "Notes before the first block.\n{0\n  [say~Hello.]\r\n  [say~a\r\nb]\n}\n",
         Extra::None, nullptr, "", 0, 0, ""},
        {"clean files", "{0[cg~scene.bmp][wait~500][say~a]}{1[say~b][turn~page]}", Extra::Scene,
         nullptr, "", 0, 0, ""},
        {"clean sound", "{0[play~sound.wav][say~a]}", Extra::Sound, nullptr, "", 0, 0, ""},
        {"clean IMA ADPCM sound", "{0[play~sound.wav][say~a]}", Extra::SoundImaAdpcm, nullptr, "",
         0, 0, ""},
        {"clean A-law stereo sound", "{0[play~sound.wav][say~a]}", Extra::SoundALaw, nullptr, "", 0,
         0, ""},
        {"clean stammer", "{0[stutter3~I/don't %know]}", Extra::None, nullptr, "", 0, 0, ""},
        {"page turned in time", "{0[say~" + pageOfRows() + "][turn~page][say~b]}", Extra::None,
         nullptr, "", 0, 0, ""},
        {"a full page fits", "{0" + sayLines(27) + "}", Extra::None, nullptr, "", 0, 0, ""},
        {"leading zeros", "{0[say~a]}{01[say~b]}{0000002[say~c]}", Extra::None, nullptr, "", 0, 0,
         ""},
        {"scene in a folder", "{0[cg~art/scene.bmp][say~Hello (and welcome).]}",
         Extra::SceneInFolder, nullptr, "", 0, 0, ""},
        {"clean title", "{0[say~a]}", Extra::TitleClean, nullptr, "", 0, 0, ""},
        {"title with slashes and quotes", "{0[say~a]}", Extra::TitleSlashes, nullptr, "", 0, 0, ""},
        {"scene linked inside", "{0[cg~scene.bmp][say~a]}", Extra::SceneLinkedIn, nullptr, "", 0, 0,
         ""},
        {"scene linked inside by its full path", "{0[cg~scene.bmp][say~a]}",
         Extra::SceneLinkedInByFullPath, nullptr, "", 0, 0, ""},
        {"plain ASCII punctuation", "{0[say~It's fine -- really... \"Yes.\"]}", Extra::None,
         nullptr, "", 0, 0, ""},
        {"64 glyphs", "{0[say~" + std::string(64, 'a') + "]}", Extra::None, nullptr, "", 0, 0, ""},
        {"a full row with notes", "{0[say~" + std::string(64, 'a') + "]}", Extra::None, nullptr, "",
         0, 0, "", " --notes"},
        {"a row of 64 after a line break", "{0[say~a\r\n" + std::string(64, 'b') + "]}",
         Extra::None, nullptr, "", 0, 0, ""},
        {"undrawn bytes take no room", "{0[say~" + std::string(64, 'a') + "~|~]}", Extra::None,
         "undrawable-byte", "script.bexu", 1, 8 + 64, "warning"},
        {"stammers that always fit", "{0[stutter9~I/ I'll go.]}", Extra::None, nullptr, "", 0, 0,
         ""},
        {"syllables kept from stammering",
         "{0[stutter3~%no %stammer %here %at %all %so %it %fits %the %row %as %long %as %it %is]}",
         Extra::None, nullptr, "", 0, 0, ""},
        {"a slash read as meant, without notes", "{0[stutter3~I don't know, it al/ways is.]}",
         Extra::None, nullptr, "", 0, 0, ""},

    };
    return table;
}

class TrapTest : public ::testing::TestWithParam<Trap> {};

TEST_P(TrapTest, GivesExactlyItsFinding) {
    const Trap& trap = GetParam();
    std::string folder = makeStoryFolder(trap.script);
    addExtra(folder, trap.extra);
    std::string script = trap.script;
    for (const auto& mark :
         {std::make_pair(std::string("@DIR@"), folder),
          std::make_pair(std::string("@NAME@"), folder.substr(folder.rfind('/') + 1))}) {
        for (size_t at = script.find(mark.first); at != std::string::npos;
             at = script.find(mark.first)) {
            script.replace(at, mark.first.size(), mark.second);
        }
    }
    writeFile(folder + "/script.bexu", script);
    ToolRun run = check(folder, trap.options);
    std::vector<Finding> found = findings(run.output, folder);
    SCOPED_TRACE(run.output);
    if (trap.code == nullptr) {
        EXPECT_TRUE(found.empty());
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_NE(run.output.find("script.bexu: "), std::string::npos);
        EXPECT_NE(run.output.find(": clean\n"), std::string::npos);
    } else {
        if (trap.alsoCode != nullptr) {
            ASSERT_EQ(found.size(), 2u);
            if (found[0].code != trap.code) {
                std::swap(found[0], found[1]);
            }
            EXPECT_EQ(found[1].code, trap.alsoCode);
            found.pop_back();
        }
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].code, trap.code);
        EXPECT_EQ(found[0].file, trap.file);
        EXPECT_EQ(found[0].line, trap.line);
        EXPECT_EQ(found[0].column, trap.column);
        EXPECT_EQ(found[0].severity, trap.severity);
        EXPECT_EQ(run.exitCode, std::string(trap.severity) == "error" ? 1 : 0);
    }
    removeFolder(folder);
    removeFolder(outsideOf(folder));
}

std::string trapName(const ::testing::TestParamInfo<Trap>& info) {
    return testName(info.param.name);
}

INSTANTIATE_TEST_SUITE_P(Traps, TrapTest, ::testing::ValuesIn(traps()), trapName);

TEST(CheckTool, SaysWhyAFileDoesNotLoad) {
    std::string folder = makeStoryFolder("{0[cg~scene.bmp][play~sound.wav]}");
    addExtra(folder, Extra::BadScene);
    addExtra(folder, Extra::BadSound);
    ToolRun run = check(folder);
    EXPECT_NE(run.output.find("does not load as a bitmap (not a BMP file)"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("does not load (not a wave file)"), std::string::npos) << run.output;
    removeFolder(folder);
}

// What the checker says of a file named on script line `line`: the reason it gives for
// not loading it, or "loaded".
std::string checkerAnswer(const CheckReport& report, uint32_t line) {
    for (const Diagnostic& d : report.diagnostics) {
        if (d.line == line && (d.code == "scene-unloadable" || d.code == "sound-unreadable")) {
            size_t open = d.message.find("does not load");
            open = d.message.find('(', open);
            return d.message.substr(open + 1, d.message.find(')', open) - open - 1);
        }
        if (d.line == line && (d.code == "scene-missing" || d.code == "sound-missing")) {
            return loadFailureText(LoadFailure::Missing);
        }
    }
    return loadFailureText(LoadFailure::None);
}

// Every sound and bitmap of the test corpora gets one answer, with one reason, from the
// players' decoders, from the Windows build's look at a bitmap before its loader, and
// from the checker. run_web.py asks the decoders compiled to wasm about the same files.
TEST(CheckTool, EveryCorpusFileHasOneAnswerOnEveryPath) {
    if (runCommand("command -v python3 >/dev/null").exitCode != 0) {
        GTEST_SKIP() << "python3 is needed to make the corpus";
    }
    std::string folder = makeStoryFolder("");
    ToolRun made = runCommand(
        "python3 " + shellQuoted(std::string(BEXU_SOURCE_DIR) + "/tests/web/decode_corpus.py") +
        " " + shellQuoted(folder + "/corpus") + " --bmpsuite " +
        shellQuoted(std::string(BEXU_TESTDATA_DIR) + "/bmpsuite"));
    ASSERT_EQ(made.exitCode, 0);
    std::vector<std::string> names = filesEndingWith(folder + "/corpus", ".wav");
    std::vector<std::string> bitmaps = filesEndingWith(folder + "/corpus", ".bmp");
    names.insert(names.end(), bitmaps.begin(), bitmaps.end());
    std::string script = "{0\n";
    for (const std::string& name : names) {
        script += (namesSound(name) ? "[play~corpus/" : "[cg~corpus/") + name + "]\n";
    }
    writeFile(folder + "/script.bexu", script + "}\n");
    CheckReport report = checkStory(folder);
    std::map<std::string, int> answers;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        bool sound = namesSound(name);
        std::string path = folder + "/corpus/" + name;
        std::string answer = loadFailureText(playerLoadFailure(path));
        EXPECT_EQ(checkerAnswer(report, static_cast<uint32_t>(i + 2)), answer) << name;
        if (!sound) {
            EXPECT_EQ(loadFailureText(bmpFileFailure(path.c_str())), answer) << name;
        }
        answers[std::string(sound ? "sound " : "bitmap ") + answer] += 1;
    }
    // Both kinds, loaded and refused for several reasons.
    EXPECT_GE(answers.size(), 9u) << testing::PrintToString(answers);
    removeFolder(folder);
}

TEST(CheckTool, UnreadableScriptsExitWithTwo) {
    std::string folder = makeTempFolder();
    ToolRun noScript = check(folder);
    EXPECT_EQ(noScript.exitCode, 2);
    std::vector<Finding> found = findings(noScript.output, folder);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].code, "script-unreadable");
    ToolRun noFolder = check(folder + "/no-such-folder");
    EXPECT_EQ(noFolder.exitCode, 2);
    found = findings(noFolder.output, folder);
    ASSERT_EQ(found.size(), 1u) << noFolder.output;
    EXPECT_EQ(found[0].code, "folder-unreadable");
    EXPECT_EQ(found[0].file, "no-such-folder");
    EXPECT_EQ(runCommand(builtProgram("bexu-check") + " --bogus 2>/dev/null").exitCode, 2);
    removeFolder(folder);
}

TEST(CheckTool, JsonHoldsTheSameFindings) {
    if (runCommand("command -v python3 >/dev/null").exitCode != 0) {
        GTEST_SKIP() << "python3 is needed to read the JSON";
    }
    std::string folder = makeStoryFolder("{0[essay~a\tb][wait~x]}\n{2[say~\"quoted\\\"]}");
    ToolRun text = check(folder);
    ToolRun json = check(folder, " --json");
    EXPECT_EQ(json.exitCode, text.exitCode);
    std::string listed = folder + "/listed.txt";
    writeFile(folder + "/out.json", json.output);
    // Each finding as file:line:column:code, one a line, plus the counts.
    ToolRun read = runCommand(
        "python3 -c 'import json,sys; r=json.load(open(sys.argv[1]));"
        "[print(\"%s:%d:%d:%s\" % (d[\"file\"], d[\"line\"], d[\"column\"], d[\"code\"])) "
        "for d in r[\"diagnostics\"]]; print(r[\"errors\"], r[\"warnings\"], r[\"blocks\"])' " +
        shellQuoted(folder + "/out.json"));
    ASSERT_EQ(read.exitCode, 0) << json.output;
    std::string expected;
    for (const Finding& f : findings(text.output, folder)) {
        expected += folder + "/" + f.file + ":" + std::to_string(f.line) + ":" +
                    std::to_string(f.column) + ":" + f.code + "\n";
    }
    EXPECT_EQ(read.output, expected + "1 3 1\n");
    removeFolder(folder);
}

// The search budget guards against unclosed blocks, which make every search read the
// rest of the file again; closed blocks cost only themselves, however many there are.
TEST(CheckTool, LongScriptsOfClosedBlocksAreCheckedToTheEnd) {
    std::string script;
    for (int block = 0; block < 1250; ++block) {
        script += "{" + std::to_string(block) + "\n";
        for (int line = 0; line < 20; ++line) {
            script += "  [say~" + std::string(60, 'a' + line % 26) + "]\n";
        }
        script += "  [turn~page]\n}\n";
    }
    ASSERT_GT(script.size(), 1700000u);
    std::string folder = makeStoryFolder(script);
    ToolRun run = check(folder);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find(": 1250 blocks, 26250 commands, 1250 pages: clean"),
              std::string::npos)
        << run.output.substr(0, 2000);
    removeFolder(folder);
}

TEST(CheckTool, DemoStoryIsClean) {
    std::string demo = demoStoryFolder();
    if (demo.empty()) {
        GTEST_SKIP() << "no demo story in examples/demo yet";
    }
    ToolRun run = check(demo);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(findings(run.output, demo).empty()) << run.output;
    EXPECT_NE(run.output.find(": clean\n"), std::string::npos) << run.output;
}

// The player's own transform, for every seed in a range: no row of a stammered line is
// longer than the checker's bound, or shorter than the line without stammers, which is the
// transform's at intensity 1; and where few syllables make it likely, the bound is met.
TEST(StammerBound, HoldsForEverySeed) {
    struct Line {
        const char* text;
        bool reached; // some seed of the range gives every syllable its most stammers
    };
    const Line lines[] = {
        {"I/ I'll go up my/self, she said to the gulls.", false},
        {"Mara turned. It was her own gran/mother, forty years younger.", false},
        {"aa bb", true},
        {"a/b", true},
        {"\ta/b %c", true},
        {"x//y z/", false},
        {"line\nbreak/s in s/syl", false},
        {"\r\n/x y", false},
        {"%", false},
        {"\n\n", true}, // stammers of a line break make rows of one '-'
        {"  lead and trail  ", false},
        {"~1 2/3 {|}", false},
        {"", false},
    };
    for (const Line& line : lines) {
        for (uint32_t intensity = 2; intensity <= 9; ++intensity) {
            StammerLayout layout = stammerLayout(line.text, intensity);
            uint32_t one = 0;
            char* plain = stutterText(line.text, 1, &one);
            ASSERT_NE(plain, nullptr);
            EXPECT_EQ(layout.plain, plain) << line.text;
            EXPECT_EQ(layout.shortest, longestRow(plain)) << line.text;
            platformFree(plain);
            uint32_t most = 0;
            for (uint32_t start = 0; start < 3000; ++start) {
                uint32_t seed = start * 7919u;
                char* stammered = stutterText(line.text, intensity, &seed);
                ASSERT_NE(stammered, nullptr);
                uint32_t row = longestRow(stammered);
                ASSERT_LE(row, layout.longest)
                    << line.text << " at intensity " << intensity << ": " << stammered;
                ASSERT_GE(row, layout.shortest) << line.text;
                most = std::max(most, row);
                platformFree(stammered);
            }
            if (line.reached && intensity <= 3) {
                EXPECT_EQ(most, layout.longest) << line.text << " at intensity " << intensity;
            }
        }
    }
}

// What the checker says of a stammered line's length with bexu-shot's seed is what the
// sheet shows, for each line in play order: the generator runs on from line to line.
TEST(StammerBound, SheetLengthIsTheSheets) {
    std::string folder = makeStoryFolder(
        "{0[stutter3~I/ I'll go up my/self, she said to the gulls.]\n"
        "[stutter3~Mara turned. It was her own gran/mother, forty years younger.]}");
    ToolRun checked = check(folder);
    ToolRun shot = runCommand(builtProgram("bexu-shot") + " " + shellQuoted(folder) + " --out " +
                              shellQuoted(folder + "-shots") + " --size 320x180 2>&1");
    ASSERT_EQ(shot.exitCode, 0) << shot.output;
    std::string html = readFile(folder + "-shots/index.html");
    size_t pre = html.rfind("<pre>");
    ASSERT_NE(pre, std::string::npos);
    std::string page = html.substr(pre + 5, html.find("</pre>", pre) - pre - 5);
    // The page's rows: the first line, then the second wrapped into two.
    size_t first = page.find('\n');
    size_t second = page.find('\n', first + 1);
    size_t third = page.find('\n', second + 1);
    ASSERT_NE(third, std::string::npos) << page;
    uint32_t firstLength = uint32_t(first);
    uint32_t secondLength = uint32_t(third - first - 2);
    for (uint32_t length : {firstLength, secondLength}) {
        EXPECT_NE(checked.output.find("(with bexu-shot's seed it is " + std::to_string(length) +
                                      " glyphs long)"),
                  std::string::npos)
            << length << "\n"
            << checked.output << page;
    }
    removeFolder(folder + "-shots");
    removeFolder(folder);
}

// Arbitrary bytes never crash the checker, and its own scan of block and command
// positions always agrees with the player's reader.
// The story folder's names as the checker and the packer open them: links are followed
// while they stay inside, or come back into the folder; what lies outside is never opened.
TEST(CheckCore, StoryNamesOpenOnlyWhatLiesInside) {
    std::string base = makeTempFolder();
    std::string story = base + "/story";
    for (const char* folder : {"/story", "/story/art", "/story/art/deep", "/elsewhere"}) {
        mkdir((base + folder).c_str(), 0755);
    }
    writeFile(story + "/art/deep/a.bmp", std::string("inside"));
    writeFile(base + "/elsewhere/b.bmp", std::string("outside"));
    mkfifo((story + "/pipe").c_str(), 0644);
    const std::pair<const char*, const char*> links[] = {
        {"up", "art/deep/../.."},            // the story folder itself, by a detour
        {"art/back", "../art"},              // a folder inside, through its parent
        {"full", ""},                        // the story folder by its absolute path: filled in
        {"away", "../elsewhere"},            // out
        {"art/deep/home", "../../../story"}, // out and back in
        {"loop", "loop"},
        {"art/etc", "/etc"},
    };
    for (const auto& [link, target] : links) {
        std::string to = std::string(target).empty() ? story : target;
        ASSERT_EQ(symlink(to.c_str(), (story + "/" + link).c_str()), 0) << link;
    }
    struct Case {
        const char* name;
        StoryOpen result;
        const char* link; // the link named when Outside
    };
    const Case cases[] = {
        {"art/deep/a.bmp", StoryOpen::Opened, ""},
        {"./art//deep/./a.bmp", StoryOpen::Opened, ""},
        {"art/deep/../deep/a.bmp", StoryOpen::Opened, ""},
        {"up/art/deep/a.bmp", StoryOpen::Opened, ""},
        {"art/back/deep/a.bmp", StoryOpen::Opened, ""},
        {"full/art/deep/a.bmp", StoryOpen::Opened, ""},
        {"art/deep/home/art/deep/a.bmp", StoryOpen::Opened, ""},
        {"pipe", StoryOpen::Opened, ""}, // opened without blocking; the loaders refuse it
        {"art/deep/a.bmp/", StoryOpen::Missing, ""},
        {"art/deep/a.bmp/x", StoryOpen::Missing, ""},
        {"art/none.bmp", StoryOpen::Missing, ""},
        {"loop", StoryOpen::Missing, ""},
        {"art", StoryOpen::Opened, ""}, // a folder: so are folders, for the loaders to refuse
        {"away/b.bmp", StoryOpen::Outside, "away"},
        {"art/back/../away/b.bmp", StoryOpen::Outside, "away"},
        {"art/etc/passwd", StoryOpen::Outside, "art/etc"},
        {"../elsewhere/b.bmp", StoryOpen::Outside, ""},
        {"/etc/passwd", StoryOpen::Outside, ""},
    };
    for (const Case& c : cases) {
        StoryFileOpened opened = openInStory(story, c.name);
        EXPECT_EQ(opened.result, c.result) << c.name;
        EXPECT_EQ(opened.link, c.link) << c.name;
        if (opened.result == StoryOpen::Opened &&
            std::string(c.name).find(".bmp") != std::string::npos) {
            char bytes[16] = {};
            EXPECT_EQ(read(opened.descriptor, bytes, sizeof bytes), 6) << c.name;
            EXPECT_STREQ(bytes, "inside") << c.name;
        }
        closeStoryFile(&opened);
    }
    removeFolder(base);
}

// Whether a finding's line and column name a place in `script`: line 0 (the whole file)
// with column 0, or a line the text has and a column on it or just past its end.
bool placeIsInScript(const std::string& script, uint32_t line, uint32_t column) {
    if (line == 0) {
        return column == 0;
    }
    size_t lineStart = 0;
    for (uint32_t seen = 1; seen < line; ++seen) {
        size_t newline = script.find('\n', lineStart);
        if (newline == std::string::npos) {
            return false;
        }
        lineStart = newline + 1;
    }
    size_t lineEnd = std::min(script.find('\n', lineStart), script.size());
    return column >= 1 && column <= lineEnd - lineStart + 1;
}

// The blocks the player itself plays: its own position, read by loadNextBlock to the end.
uint32_t blocksThePlayerLoads(const std::string& scriptPath) {
    uint32_t blocks = 0;
    if (!startScriptPosition(scriptPath.c_str())) {
        return UINT32_MAX;
    }
    while (loadNextBlock()) {
        ++blocks;
    }
    releaseScriptPosition();
    releaseInput();
    return blocks;
}

TEST(CheckCore, RandomScriptsAgreeWithTheReader) {
    std::string folder = makeStoryFolder("");
    std::string scriptPath = folder + "/script.bexu";
    std::mt19937 random(20261208);
    const char alphabet[] = "{}[]~0123456789saycgwaitplaystutterturnpage \n\r\t/%\x00\xff";
    uint32_t blocksSeen = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string script;
        size_t length = random() % 300;
        for (size_t i = 0; i < length; ++i) {
            script += alphabet[random() % (sizeof alphabet - 1)];
        }
        writeFile(scriptPath, script);
        CheckReport report = checkStory(folder);
        ASSERT_TRUE(report.readable);
        for (const Diagnostic& d : report.diagnostics) {
            if (d.file == "script.bexu") {
                ASSERT_TRUE(placeIsInScript(script, d.line, d.column))
                    << d.code << " at " << d.line << ":" << d.column
                    << " in script: " << testing::PrintToString(script);
            }
        }
        ASSERT_EQ(report.blocks, blocksThePlayerLoads(scriptPath))
            << "script: " << testing::PrintToString(script);
        blocksSeen += report.blocks;
    }
    EXPECT_GT(blocksSeen, 500u); // enough blocks played for the agreement to mean something
    removeFolder(folder);
}

} // namespace
