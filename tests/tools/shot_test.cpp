// bexu-shot run as built: every PNG is a frame the player itself shows, in order,
// one per key wait; runs are reproducible; stops are reported, never hung on.
#include "support/story_driver.h"
#include "support/test_files.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Four key waits: a line over a small scene, a timed wait, a stammer before a page
// turn, and a page whose last line mentions a turn.
const char kStory[] = "{0[cg~scene.bmp][say~Hello.][wait~700][stutter9~I/don't k/now at %all]"
                      "[turn~page]}\n{1[say~Next page.][say~Return]}";
constexpr int kStoryWaits = 4;

std::string storyFolder() {
    std::string folder = makeStoryFolder(kStory);
    writeFile(folder + "/scene.bmp", encodeBmp24(solidImage(640, 360, 0x2060A0)));
    return folder;
}

// The story folder and the picture folders beside it.
void removeStory(const std::string& folder) {
    for (const char* beside : {"", "-shots", "-first", "-second", "-other"}) {
        removeFolder(folder + beside);
    }
}

ToolRun shoot(const std::string& folder, const std::string& options) {
    return runCommand(builtProgram("bexu-shot") + " " + shellQuoted(folder) + " " + options +
                      " 2>&1");
}

struct Size {
    int32_t width;
    int32_t height;
};

class ShotFrames : public ::testing::TestWithParam<Size> {};

// The player, run on its own with frame dumps and Space every 2.5 s, shows every
// indicator frame of every wait; bexu-shot's pictures must be among them, in order.
TEST_P(ShotFrames, EveryPngIsAFrameThePlayerShows) {
    Size size = GetParam();
    std::string folder = storyFolder();
    std::string sizeText = std::to_string(size.width) + "x" + std::to_string(size.height);
    ToolRun played = runCommand("cd " + shellQuoted(folder) +
                                " && BEXU_HEADLESS_DUMP=dumps BEXU_HEADLESS_SIZE=" + sizeText +
                                " BEXU_HEADLESS_KEYS=2500,5000,7500,10000 " +
                                builtProgram("bexu-headless") + " 2>&1");
    ASSERT_EQ(played.exitCode, 0) << played.output;
    ToolRun shot = shoot(folder, "--out " + shellQuoted(folder + "-shots") + " --size " + sizeText);
    ASSERT_EQ(shot.exitCode, 0) << shot.output;

    std::vector<std::string> dumps = filesEndingWith(folder + "/dumps", ".ppm");
    std::vector<std::string> pngs = filesEndingWith(folder + "-shots", ".png");
    ASSERT_EQ(pngs.size(), size_t(kStoryWaits));
    size_t next = 0;
    for (const std::string& name : pngs) {
        TestImage png = readPngImage(folder + "-shots/" + name);
        ASSERT_EQ(png.width, size.width) << name;
        ASSERT_EQ(png.height, size.height) << name;
        bool found = false;
        while (!found && next < dumps.size()) {
            TestImage frame = readPpm(folder + "/dumps/" + dumps[next++]);
            found = frame.pixels == png.pixels;
        }
        ASSERT_TRUE(found) << name << " is not among the player's frames after the previous one";
    }
    // In-process, with Space pressed at the same pace, the first frame of each wait
    // is the very picture bexu-shot wrote.
    StoryOptions options;
    options.keyDelay = 20; // delivered two iterations after the wait began, as bexu-shot does
    options.snapshotDelay = 1;
    options.clientWidth = size.width;
    options.clientHeight = size.height;
    StoryResult inProcess = playStory(folder, options);
    ASSERT_EQ(inProcess.snapshots.size(), pngs.size());
    for (size_t i = 0; i < pngs.size(); ++i) {
        EXPECT_TRUE(readPngImage(folder + "-shots/" + pngs[i]).pixels ==
                    inProcess.snapshots[i].pixels)
            << pngs[i];
    }
    std::string index = readFile(folder + "-shots/index.html");
    for (const std::string& name : pngs) {
        EXPECT_NE(index.find("src=\"" + name + "\""), std::string::npos) << name;
    }
    removeStory(folder);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ShotFrames,
                         ::testing::Values(Size{1600, 900}, Size{500, 900}, Size{803, 451}),
                         [](const ::testing::TestParamInfo<Size>& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

TEST(ShotTool, TheSeedMakesRunsReproducible) {
    std::string folder = storyFolder();
    const char* runs[] = {"first", "second", "other"};
    for (const char* run : runs) {
        std::string seed = std::string(run) == "other" ? "12345" : "100000";
        ToolRun shot = shoot(folder, "--out " + shellQuoted(folder + "-" + run) +
                                         " --size 400x225 " + "--seed " + seed);
        ASSERT_EQ(shot.exitCode, 0) << shot.output;
    }
    for (int i = 1; i <= kStoryWaits; ++i) {
        char name[32];
        snprintf(name, sizeof name, "/shot-%04d.png", i);
        std::string first = readFile(folder + "-first" + name);
        ASSERT_FALSE(first.empty()) << name;
        EXPECT_EQ(first, readFile(folder + "-second" + name)) << name;
        // Only the stammered line depends on the seed.
        EXPECT_EQ(first == readFile(folder + "-other" + name), i != 2) << name;
    }
    removeStory(folder);
}

struct Stop {
    const char* name;
    const char* script;
    int exitCode;
    int shots;
    const char* message;
};

class ShotStops : public ::testing::TestWithParam<Stop> {};

TEST_P(ShotStops, EndsWithWhatItHas) {
    const Stop& stop = GetParam();
    std::string folder = makeStoryFolder(stop.script);
    ToolRun shot = shoot(folder, "--out " + shellQuoted(folder + "-shots") + " --size 320x180");
    EXPECT_EQ(shot.exitCode, stop.exitCode) << shot.output;
    EXPECT_NE(shot.output.find(stop.message), std::string::npos) << shot.output;
    EXPECT_EQ(filesEndingWith(folder + "-shots", ".png").size(), size_t(stop.shots));
    EXPECT_NE(readFile(folder + "-shots/index.html").find("</html>"), std::string::npos);
    removeStory(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, ShotStops,
    ::testing::Values(Stop{"Finished", "{0[say~a][wait~86400000][say~b]}", 0, 2, "2 key waits"},
                      Stop{"SceneMissing", "{0[say~a][cg~none.bmp][say~b]}", 1, 1,
                           "script.bexu:1:10: [cg~none.bmp] stopped the play: the scene file "
                           "'none.bmp' cannot be opened, and the player says: Error: Failed to "
                           "load scene. (missing)"},
                      Stop{"SceneUnloadable", "{0\n[cg~script.bexu][say~b]}", 1, 0,
                           "script.bexu:2:1: [cg~script.bexu] stopped the play: the scene file "
                           "'script.bexu' does not load as a bitmap"},
                      Stop{"EmptyArgument", "{0[say~a][say][say~b]}", 1, 1,
                           "script.bexu:1:10: [say] has no argument: the play stops for good"},
                      Stop{"NoBlocks", "no blocks", 0, 0, "0 key waits"}),
    [](const ::testing::TestParamInfo<Stop>& info) { return std::string(info.param.name); });

TEST(ShotTool, RejectsBadArguments) {
    std::string folder = makeStoryFolder("{0[say~a]}");
    const char* options[] = {"--size 0x900", "--size 1600", "--size 1600x900x",
                             "--seed -1",    "--bogus",     "extra-folder"};
    for (const char* option : options) {
        EXPECT_EQ(
            shoot(folder, std::string("--out ") + shellQuoted(folder + "-shots") + " " + option)
                .exitCode,
            2)
            << option;
    }
    EXPECT_EQ(shoot(folder + "/missing", "--out " + shellQuoted(folder + "-shots")).exitCode, 2);
    removeStory(folder);
}

// ---- the contact sheet ------------------------------------------------------------

// Every '<' opens a tag the sheet uses, every '&' an entity, and every byte is ASCII.
void expectWellFormedHtml(const std::string& html) {
    const char* const tags[] = {"!DOCTYPE", "html", "head",   "meta", "title", "style",      "body",
                                "h1",       "p",    "figure", "a",    "img",   "figcaption", "b",
                                "code",     "pre",  "ul",     "li",   "strong"};
    for (size_t i = 0; i < html.size(); ++i) {
        auto byte = static_cast<unsigned char>(html[i]);
        ASSERT_TRUE(byte == '\n' || (byte >= 32 && byte < 127))
            << "byte " << int(byte) << " at " << i;
        if (byte == '<') {
            size_t name = html[i + 1] == '/' ? i + 2 : i + 1;
            size_t end = html.find_first_of(" >", name);
            std::string tag = html.substr(name, end - name);
            bool known = false;
            for (const char* t : tags) {
                known = known || tag == t;
            }
            ASSERT_TRUE(known) << "unexpected tag '" << tag << "' at " << i;
            // Attribute values hold no '<' or '>'.
            size_t close = html.find('>', i);
            ASSERT_EQ(html.find('<', i + 1) > close, true) << "unclosed tag at " << i;
        } else if (byte == '&') {
            size_t semicolon = html.find(';', i);
            std::string entity = html.substr(i, semicolon - i + 1);
            ASSERT_TRUE(entity == "&amp;" || entity == "&lt;" || entity == "&gt;" ||
                        entity == "&quot;")
                << entity;
        }
    }
}

TEST(ShotSheet, EscapesWhatThePlayerShowsAndCaptionsWithPositions) {
    std::string folder = makeStoryFolder("{0\n"
                                         "  [cg~scene.bmp]\n"
                                         "  [say~Fish & <chips> \"now\"]\n"
                                         "  [play~sound.wav]\n"
                                         "  [wait~300]\n"
                                         "  [say~Caf\xC3\xA9 na\xEFve\tend]\n"
                                         "  [turn~page][say~Next page.]\n"
                                         "}\n");
    writeFile(folder + "/scene.bmp", encodeBmp24(solidImage(64, 36, 0x2060A0)));
    writeFile(folder + "/sound.wav", std::string("RIFF"));
    writeFile(folder + "/init.bexc", std::string("Fish <&> Chips\n"));
    ToolRun shot = shoot(folder, "--out " + shellQuoted(folder + "-shots") + " --size 320x180");
    ASSERT_EQ(shot.exitCode, 0) << shot.output;
    std::string html = readFile(folder + "-shots/index.html");
    expectWellFormedHtml(html);
    // The title is the window's, line break and all.
    EXPECT_NE(html.find("<title>Fish &lt;&amp;&gt; Chips\\x0A - bexu-shot</title>"),
              std::string::npos);
    // Dialogue as drawn: escaped, the bytes the font cannot draw left out and counted.
    EXPECT_NE(html.find("<pre>Fish &amp; &lt;chips&gt; &quot;now&quot;\n</pre>"),
              std::string::npos);
    EXPECT_NE(html.find("<pre>Fish &amp; &lt;chips&gt; &quot;now&quot;\nCaf naveend\n</pre>"),
              std::string::npos);
    EXPECT_NE(html.find("4 bytes of this dialogue the font cannot draw"), std::string::npos);
    // Commands as written, with the bytes shown as \xNN.
    EXPECT_NE(html.find("<code>[say~Caf\\xC3\\xA9 na\\xEFve\\x09end]</code>"), std::string::npos);
    // Positions as bexu-check gives them: the folder as given and the command's `[`; and
    // what happened between the pictures.
    std::string script = folder + "/script.bexu:";
    size_t first = html.find("<b>shot-0001.png</b> " + script + "3:3 ");
    size_t scene = html.find("<li>" + script + "2:3 scene <code>scene.bmp</code></li>");
    size_t sound = html.find("<li>" + script + "4:3 sound <code>sound.wav</code></li>");
    size_t wait = html.find("<li>" + script + "5:3 wait 300 ms</li>");
    size_t second = html.find("<b>shot-0002.png</b> " + script + "6:3 ");
    for (size_t found : {first, scene, sound, wait, second}) {
        ASSERT_NE(found, std::string::npos);
    }
    EXPECT_LT(scene, first);
    EXPECT_LT(first, sound);
    EXPECT_LT(sound, wait);
    EXPECT_LT(wait, second);
    size_t turned = html.find("<li>" + script + "7:3 page turned</li>");
    size_t third = html.find("<b>shot-0003.png</b> " + script + "7:14 ");
    ASSERT_NE(turned, std::string::npos);
    ASSERT_NE(third, std::string::npos);
    EXPECT_LT(second, turned);
    EXPECT_LT(turned, third);
    ToolRun check = runCommand(builtProgram("bexu-check") + " " + shellQuoted(folder));
    EXPECT_NE(check.output.find(script + "2:3: warning: scene 'scene.bmp' is 64 x 36"),
              std::string::npos)
        << "the checker names the scene where the sheet does:\n"
        << check.output;
    removeStory(folder);
}

// ---- the transcript's rows are the player's ------------------------------------------

// The glyph the player drew in the cell at (column, row) of a canvas-sized picture, as
// the test font's colours name it, or 0 where none is.
unsigned char glyphAt(const TestImage& picture, int32_t column, int32_t row) {
    for (int32_t x : {1, 2}) {
        uint32_t pixel = picture.at(column * 25 + x, row * 33);
        if (((pixel >> 8) & 0xFF) == uint32_t(x * 10) && (pixel & 0xFF) == 0) {
            return static_cast<unsigned char>(pixel >> 16);
        }
    }
    return 0;
}

void dropEmptyEnd(std::vector<std::string>* rows) {
    while (!rows->empty() && rows->back().empty()) {
        rows->pop_back();
    }
}

// The rows of text in the picture, each up to its first cell without a text glyph (the
// marker's cells are not text).
std::vector<std::string> rowsInPicture(const TestImage& picture) {
    std::vector<std::string> rows;
    for (int32_t row = 0; row < 27; ++row) {
        std::string text;
        for (int32_t column = 0; column < 64; ++column) {
            unsigned char c = glyphAt(picture, column, row);
            if (c < 32 || c > 122) {
                break;
            }
            text += static_cast<char>(c);
        }
        rows.push_back(text);
    }
    dropEmptyEnd(&rows);
    return rows;
}

// The transcript the sheet gives under a picture, row by row.
std::vector<std::string> transcriptOf(const std::string& html, const std::string& file) {
    size_t figure = html.find("<b>" + file + "</b>");
    size_t start = html.find("<pre>", figure);
    size_t end = html.find("</pre>", start);
    if (figure == std::string::npos || start == std::string::npos || end == std::string::npos) {
        return {"(no transcript for " + file + ")"};
    }
    std::string text = html.substr(start + 5, end - start - 5);
    const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}};
    for (const auto& [entity, byte] : entities) {
        for (size_t at = text.find(entity); at != std::string::npos;
             at = text.find(entity, at + 1)) {
            text.replace(at, strlen(entity), byte);
        }
    }
    std::vector<std::string> rows(1);
    for (char c : text) {
        if (c == '\n') {
            rows.emplace_back();
        } else {
            rows.back() += c;
        }
    }
    dropEmptyEnd(&rows);
    return rows;
}

// Long lines, a row of exactly 64 glyphs, a line written across two, bytes the font
// skips, and the two stammered lines, which wrap with the sheet's seed.
TEST(ShotSheet, TranscriptRowsAreThePlayersRows) {
    std::string folder = makeStoryFolder(
        "{0\n"
        "  [say~Across the wide grey flats the tide ran out, and she walked on across the "
        "flats.]\n"
        "  [say~" +
        std::string(64, 'x') +
        "]\n"
        "  [say~written across\r\ntwo lines, a tab\there, a bar | and & <tags>]\n"
        "  [stutter3~I/ I'll go up my/self, she said to the gulls.]\n"
        "  [stutter3~Mara turned. It was her own gran/mother, forty years younger.]\n"
        "  [stutter9~Th/th/the s/s/sea, the s/sea, it t/t/takes and t/takes and never gives "
        "it back]\n"
        "}\n");
    ToolRun shot = shoot(folder, "--out " + shellQuoted(folder + "-shots"));
    ASSERT_EQ(shot.exitCode, 0) << shot.output;
    std::string html = readFile(folder + "-shots/index.html");
    std::vector<std::string> pngs = filesEndingWith(folder + "-shots", ".png");
    ASSERT_EQ(pngs.size(), 6u);
    bool wrapped = false;
    for (const std::string& png : pngs) {
        TestImage picture = readPngImage(folder + "-shots/" + png);
        ASSERT_EQ(picture.width, 1600);
        std::vector<std::string> drawn = rowsInPicture(picture);
        std::vector<std::string> told = transcriptOf(html, png);
        EXPECT_EQ(told, drawn) << png;
        for (const std::string& row : drawn) {
            wrapped = wrapped || row.size() == 64;
        }
    }
    EXPECT_TRUE(wrapped) << "some row is full and wraps";
    removeStory(folder);
}

// A story of 40 key waits.
std::string longStory() {
    std::string script = "{0\n";
    for (int i = 1; i <= 40; ++i) {
        script += "  [say~Line " + std::to_string(i) + " of the long story.]\n";
        script += i % 20 == 0 ? "  [turn~page]\n" : "";
    }
    return makeStoryFolder(script + "}\n");
}

TEST(ShotTool, PagesPicturesARangeOfTheSamePictures) {
    std::string folder = longStory();
    ToolRun whole = shoot(folder, "--out " + shellQuoted(folder + "-first") + " --size 320x180");
    ASSERT_EQ(whole.exitCode, 0) << whole.output;
    ASSERT_EQ(filesEndingWith(folder + "-first", ".png").size(), 40u);
    struct Range {
        const char* pages;
        std::vector<std::string> files;
    };
    const Range ranges[] = {
        {"3-5", {"shot-0003.png", "shot-0004.png", "shot-0005.png"}},
        {"39-", {"shot-0039.png", "shot-0040.png"}},
        {"21", {"shot-0021.png"}},
        {"40-99", {"shot-0040.png"}},
    };
    for (const Range& range : ranges) {
        removeFolder(folder + "-second");
        ToolRun part = shoot(folder, "--out " + shellQuoted(folder + "-second") +
                                         " --size 320x180 --pages " + range.pages);
        ASSERT_EQ(part.exitCode, 0) << range.pages << "\n" << part.output;
        EXPECT_EQ(filesEndingWith(folder + "-second", ".png"), range.files) << range.pages;
        for (const std::string& file : range.files) {
            EXPECT_EQ(readFile(folder + "-second/" + file), readFile(folder + "-first/" + file))
                << range.pages << " " << file;
            EXPECT_NE(readFile(folder + "-second/index.html").find("<b>" + file + "</b>"),
                      std::string::npos);
        }
    }
    for (const char* bad : {"0-3", "5-3", "-3", "3-x", "x", "4294967296"}) {
        EXPECT_EQ(
            shoot(folder, "--out " + shellQuoted(folder + "-other") + " --pages " + bad).exitCode,
            2)
            << bad;
    }
    removeStory(folder);
}

// On a terminal, a line on standard error tells the pages done, the total and the time
// left; through a pipe nothing of it shows.
TEST(ShotTool, ShowsProgressOnATerminalOnly) {
    if (runCommand("command -v script >/dev/null").exitCode != 0) {
        GTEST_SKIP() << "script (util-linux) is needed for a terminal";
    }
    std::string folder = longStory();
    std::string command = builtProgram("bexu-shot") + " " + shellQuoted(folder) + " --out " +
                          shellQuoted(folder + "-shots") + " --size 320x180";
    // The line shows at once rather than after a second: the pictures here take less.
    ToolRun terminal =
        runCommand("BEXU_PROGRESS_AFTER_MS=0 script -qefc " + shellQuoted(command) + " /dev/null");
    ASSERT_EQ(terminal.exitCode, 0) << terminal.output;
    EXPECT_NE(terminal.output.find("\rbexu-shot: pages "), std::string::npos) << terminal.output;
    EXPECT_NE(terminal.output.find(" of 40, about "), std::string::npos) << terminal.output;
    EXPECT_NE(terminal.output.find(" s left\033[K"), std::string::npos) << terminal.output;
    EXPECT_NE(terminal.output.find("\r\033[Kbexu-shot: 40 key waits written"), std::string::npos)
        << "the line is cleared before the summary:\n"
        << terminal.output;
    removeFolder(folder + "-shots");
    ToolRun piped = runCommand("BEXU_PROGRESS_AFTER_MS=0 " + command + " 2>&1");
    ASSERT_EQ(piped.exitCode, 0) << piped.output;
    EXPECT_EQ(piped.output.find("pages "), std::string::npos) << piped.output;
    EXPECT_EQ(piped.output.find('\r'), std::string::npos) << piped.output;
    removeStory(folder);
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names = filesEndingWith(folder, "");
    return names;
}

TEST(ShotTool, DefaultOutputLiesOutsideTheStoryFolder) {
    std::string folder = makeStoryFolder("{0[say~a]}");
    std::vector<std::string> before = entries(folder);
    std::string name = folder.substr(folder.rfind('/') + 1);
    std::string parent = folder.substr(0, folder.rfind('/'));

    // Run from inside the story: beside it.
    ToolRun inside = runCommand("cd " + shellQuoted(folder) + " && " + builtProgram("bexu-shot") +
                                " --size 320x180 2>&1");
    EXPECT_EQ(inside.exitCode, 0) << inside.output;
    EXPECT_NE(readFile(parent + "/" + name + "-shots/index.html").find("</html>"),
              std::string::npos);
    removeFolder(parent + "/" + name + "-shots");

    // Run from elsewhere: in the current folder.
    std::string elsewhere = makeTempFolder();
    ToolRun outside =
        runCommand("cd " + shellQuoted(elsewhere) + " && " + builtProgram("bexu-shot") + " " +
                   shellQuoted(folder) + " --size 320x180 2>&1");
    EXPECT_EQ(outside.exitCode, 0) << outside.output;
    EXPECT_EQ(filesEndingWith(elsewhere + "/" + name + "-shots", ".png").size(), 1u);
    removeFolder(elsewhere);

    // Never into the story folder, however the path is written.
    for (const std::string& out :
         {folder + "/shots", folder + "/sub/../shots", folder + "/.", folder + "/../" + name}) {
        ToolRun refused = shoot(folder, "--out " + shellQuoted(out));
        EXPECT_EQ(refused.exitCode, 2) << out;
        EXPECT_NE(refused.output.find("outside the story folder"), std::string::npos)
            << refused.output;
    }
    EXPECT_EQ(entries(folder), before) << "nothing was written into the story folder";
    removeStory(folder);
}

TEST(ShotTool, DemoStoryGivesOnePictureForEachKeyWait) {
    std::string demo = demoStoryFolder();
    if (demo.empty()) {
        GTEST_SKIP() << "no demo story in examples/demo yet";
    }
    StoryResult played = playStory(demo);
    ASSERT_EQ(played.exitCode, 0) << played.caption << ": " << played.text;
    std::string out = makeTempFolder();
    ToolRun shot = shoot(demo, "--out " + shellQuoted(out) + " --size 320x180");
    EXPECT_EQ(shot.exitCode, 0) << shot.output;
    EXPECT_EQ(filesEndingWith(out, ".png").size(), played.waits.size());
    removeFolder(out);
}

} // namespace
