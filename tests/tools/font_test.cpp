// bexu-font run as built, on fonts of every shape: the sheet it writes must keep each
// glyph inside its cell, never blend with the keyed-out magenta, and draw in the player.
#include "support/story_driver.h"
#include "support/test_files.h"
#include "tool_run.h"

#include "platform/platform.h"
#include "platform/soft/soft_surface.h"
#include "shot/png_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr uint32_t kMagenta = 0xFF00FF;
constexpr int32_t kCellW = 25;
constexpr int32_t kCellH = 33;
const char kFontFolder[] = "/usr/share/fonts/truetype/dejavu/";

TestImage loadSheet(const std::string& path) {
    PlatformBitmap* bitmap = platformLoadBitmap(path.c_str());
    if (bitmap == nullptr) {
        return TestImage{0, 0, {}};
    }
    TestImage image{bitmap->width, bitmap->height,
                    std::vector<uint32_t>(bitmap->pixels,
                                          bitmap->pixels + size_t(bitmap->width) * bitmap->height)};
    platformDeleteBitmap(bitmap);
    return image;
}

TestImage cellOf(const TestImage& sheet, unsigned char byte) {
    TestImage cell{kCellW, kCellH, {}};
    int32_t left = ((byte - 32) % 16) * kCellW;
    int32_t top = ((byte - 32) / 16) * kCellH;
    for (int32_t y = 0; y < kCellH; ++y) {
        for (int32_t x = 0; x < kCellW; ++x) {
            cell.pixels.push_back(sheet.at(left + x, top + y));
        }
    }
    return cell;
}

// ---- colours: is a pixel a mix of the given colours only? --------------------

using Vec = std::vector<double>;

Vec rgb(uint32_t pixel) {
    return {double((pixel >> 16) & 0xFF), double((pixel >> 8) & 0xFF), double(pixel & 0xFF)};
}

// Distance from `point` to the triangle, segment or point `corners` when its projection
// falls inside; -1 otherwise (a smaller subset covers that case).
double distanceInside(const Vec& point, const std::vector<Vec>& corners) {
    size_t n = corners.size() - 1;
    // Solve the normal equations G w = b over the edge vectors from corners[0].
    std::vector<Vec> edges(n, Vec(3));
    Vec offset(3);
    for (int c = 0; c < 3; ++c) {
        offset[c] = point[c] - corners[0][c];
        for (size_t i = 0; i < n; ++i) {
            edges[i][c] = corners[i + 1][c] - corners[0][c];
        }
    }
    std::vector<Vec> system(n, Vec(n + 1, 0.0));
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) {
            for (int c = 0; c < 3; ++c) {
                system[i][j] += edges[i][c] * edges[j][c];
            }
        }
        for (int c = 0; c < 3; ++c) {
            system[i][n] += edges[i][c] * offset[c];
        }
    }
    for (size_t i = 0; i < n; ++i) {
        if (std::fabs(system[i][i]) < 1e-9) {
            return -1;
        }
        for (size_t k = 0; k < n; ++k) {
            if (k == i) {
                continue;
            }
            double factor = system[k][i] / system[i][i];
            for (size_t j = i; j <= n; ++j) {
                system[k][j] -= factor * system[i][j];
            }
        }
    }
    double sum = 0;
    Vec nearest = corners[0];
    for (size_t i = 0; i < n; ++i) {
        double weight = system[i][n] / system[i][i];
        if (weight < -1e-6) {
            return -1;
        }
        sum += weight;
        for (int c = 0; c < 3; ++c) {
            nearest[c] += weight * edges[i][c];
        }
    }
    if (sum > 1 + 1e-6) {
        return -1;
    }
    double squared = 0;
    for (int c = 0; c < 3; ++c) {
        squared += (point[c] - nearest[c]) * (point[c] - nearest[c]);
    }
    return std::sqrt(squared);
}

// Distance from `pixel` to the nearest mix of `colors` (up to four).
double distanceToMixes(uint32_t pixel, const std::vector<uint32_t>& colors) {
    double best = 1e9;
    size_t count = colors.size();
    for (unsigned mask = 1; mask < (1u << count); ++mask) {
        std::vector<Vec> corners;
        for (size_t i = 0; i < count; ++i) {
            if (mask & (1u << i)) {
                corners.push_back(rgb(colors[i]));
            }
        }
        double distance = distanceInside(rgb(pixel), corners);
        if (distance >= 0 && distance < best) {
            best = distance;
        }
    }
    return best;
}

TEST(FontColours, MixesAreFoundAndOthersAreNot) {
    std::vector<uint32_t> colors = {0xFFFFFF, 0x000000, 0xFF0000};
    EXPECT_LT(distanceToMixes(0x808080, colors), 1.0);
    EXPECT_LT(distanceToMixes(0x804040, colors), 1.0);
    EXPECT_GT(distanceToMixes(0xC060C0, colors), 20.0); // a magenta fringe
    EXPECT_GT(distanceToMixes(0x00FF00, colors), 100.0);
}

// ---- the sheets ---------------------------------------------------------------

struct Style {
    const char* name;
    const char* options;
    std::vector<uint32_t> colors; // text, outline, shadow, matte as they apply
};

const Style kStyles[] = {
    {"plain", "--color F0E0A0 --outline 0", {0xF0E0A0, 0x000000}},
    {"outline", "--color FFFFFF --outline 2 --outline-color 203060", {0xFFFFFF, 0x203060}},
    {"shadow",
     "--color 40C0FF --outline 0 --shadow 2,3 --shadow-color 101010",
     {0x40C0FF, 0x101010}},
    {"both",
     "--color FFF0C0 --outline 1 --outline-color 602000 --shadow -2,2 --shadow-color 000040 "
     "--matte 305030",
     {0xFFF0C0, 0x602000, 0x000040, 0x305030}},
};

const char* const kFonts[] = {"DejaVuSansMono", "DejaVuSerif", "DejaVuSans-Bold"};

struct Sheet {
    ToolRun run;
    TestImage image;
};

Sheet makeSheet(const std::string& font, const std::string& options, const std::string& out) {
    Sheet sheet;
    sheet.run = runCommand(builtProgram("bexu-font") + " " + shellQuoted(kFontFolder + font) +
                           " -o " + shellQuoted(out) + " " + options + " 2>&1");
    sheet.image = loadSheet(out);
    return sheet;
}

bool fontInstalled(const std::string& font) {
    struct stat info;
    return stat((kFontFolder + font).c_str(), &info) == 0;
}

// Keeps a picture of the sheet in the build folder, to be looked at.
void keepPicture(const TestImage& image, const std::string& name) {
    std::string folder = std::string(BEXU_BINARY_DIR) + "/font-sheets";
    mkdir(folder.c_str(), 0755);
    writePng(folder + "/" + name + ".png", image.width, image.height, image.pixels.data());
}

struct FontCase {
    const char* font;
    const Style* style;
};

class FontSheets : public ::testing::TestWithParam<FontCase> {};

TEST_P(FontSheets, GlyphsStayInsideTheirCellsInTheirOwnColours) {
    std::string font = std::string(GetParam().font) + ".ttf";
    const Style& style = *GetParam().style;
    if (!fontInstalled(font)) {
        GTEST_SKIP() << font << " is not installed (fonts-dejavu-core)";
    }
    std::string folder = makeTempFolder();
    Sheet sheet = makeSheet(font, style.options, folder + "/font.bmp");
    ASSERT_EQ(sheet.run.exitCode, 0) << sheet.run.output;
    EXPECT_NE(sheet.run.output.find("the largest size that fits"), std::string::npos)
        << sheet.run.output;
    ASSERT_EQ(sheet.image.width, 400);
    ASSERT_EQ(sheet.image.height, 198);
    keepPicture(sheet.image, std::string(GetParam().font) + "-" + style.name);

    for (int byte = 32; byte <= 127; ++byte) {
        TestImage cell = cellOf(sheet.image, static_cast<unsigned char>(byte));
        int32_t left = kCellW;
        int32_t right = -1;
        for (int32_t y = 0; y < kCellH; ++y) {
            for (int32_t x = 0; x < kCellW; ++x) {
                uint32_t pixel = cell.at(x, y);
                if (pixel == kMagenta) {
                    continue;
                }
                // A glyph cut by its cell would leave ink on the cell's border.
                ASSERT_TRUE(x > 0 && y > 0 && x < kCellW - 1 && y < kCellH - 1)
                    << "byte " << byte << " reaches its cell's border at " << x << "," << y;
                std::vector<uint32_t> colors = style.colors;
                ASSERT_LT(distanceToMixes(pixel, colors), 1.0)
                    << "byte " << byte << " pixel " << x << "," << y << " is " << std::hex << pixel;
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        if (byte == 32) {
            EXPECT_EQ(right, -1) << "space must be empty";
            continue;
        }
        ASSERT_GE(right, 0) << "byte " << byte << " has no ink";
        if (byte <= 122) {
            EXPECT_LE(std::abs(left - (kCellW - 1 - right)), 1)
                << "byte " << byte << " is not centred";
        }
    }
    removeFolder(folder);
}

std::vector<FontCase> allCases() {
    std::vector<FontCase> cases;
    for (const char* font : kFonts) {
        for (const Style& style : kStyles) {
            cases.push_back({font, &style});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Fonts, FontSheets, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<FontCase>& info) {
                             std::string name =
                                 std::string(info.param.font) + "_" + info.param.style->name;
                             for (char& c : name) {
                                 c = (c == '-') ? '_' : c;
                             }
                             return name;
                         });

// The cell of `byte` keyed over the black canvas at (left, 0) of the screen.
bool showsCell(const TestImage& screen, int32_t left, const TestImage& sheet, unsigned char byte) {
    TestImage cell = cellOf(sheet, byte);
    for (int32_t y = 0; y < kCellH; ++y) {
        for (int32_t x = 0; x < kCellW; ++x) {
            uint32_t expected = cell.at(x, y) == kMagenta ? 0x000000 : cell.at(x, y);
            if (screen.at(left + x, y) != expected) {
                return false;
            }
        }
    }
    return true;
}

class FontInPlayer : public ::testing::TestWithParam<const char*> {};

// The player draws a line from the sheet: each glyph's cell keyed over the black
// canvas, the line-end marker right after it.
TEST_P(FontInPlayer, DrawsHelloWhereExpected) {
    std::string font = std::string(GetParam()) + ".ttf";
    if (!fontInstalled(font)) {
        GTEST_SKIP() << font << " is not installed (fonts-dejavu-core)";
    }
    std::string folder = makeStoryFolder("{0[say~Hello]}");
    Sheet sheet = makeSheet(font, "--shadow 1,2", folder + "/font.bmp");
    ASSERT_EQ(sheet.run.exitCode, 0) << sheet.run.output;
    StoryOptions options;
    options.snapshotDelay = 1;
    StoryResult played = playStory(folder, options);
    ASSERT_EQ(played.exitCode, 0) << played.caption << ": " << played.text;
    ASSERT_EQ(played.snapshots.size(), 1u);
    const TestImage& screen = played.snapshots[0];
    const char hello[] = "Hello";
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(showsCell(screen, i * kCellW, sheet.image, hello[i])) << hello[i];
    }
    // The line-end marker blinks between its two frames.
    EXPECT_TRUE(showsCell(screen, 5 * kCellW, sheet.image, 126) ||
                showsCell(screen, 5 * kCellW, sheet.image, 127));
    EXPECT_EQ(screen.at(6 * kCellW + 12, 16), 0x000000u) << "nothing after the marker";
    removeFolder(folder);
}

INSTANTIATE_TEST_SUITE_P(Fonts, FontInPlayer, ::testing::ValuesIn(kFonts),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name) {
                                 c = (c == '-') ? '_' : c;
                             }
                             return name;
                         });

// The size bexu-font says it chose ("... at 17 px ..."), or 0.
int sizeChosen(const ToolRun& run) {
    size_t at = run.output.find(" at ");
    return at == std::string::npos ? 0 : atoi(run.output.c_str() + at + 4);
}

TEST(FontTool, TheSizeChosenIsTheLargestThatFits) {
    std::string font = "DejaVuSerif.ttf";
    if (!fontInstalled(font)) {
        GTEST_SKIP() << font << " is not installed (fonts-dejavu-core)";
    }
    std::string folder = makeTempFolder();
    Sheet chosen = makeSheet(font, "", folder + "/font.bmp");
    ASSERT_EQ(chosen.run.exitCode, 0) << chosen.run.output;
    int size = sizeChosen(chosen.run);
    ASSERT_GT(size, 10) << chosen.run.output;

    Sheet same = makeSheet(font, "--size " + std::to_string(size), folder + "/same.bmp");
    EXPECT_EQ(same.run.exitCode, 0) << same.run.output;
    EXPECT_EQ(readFile(folder + "/same.bmp"), readFile(folder + "/font.bmp"));

    Sheet larger = makeSheet(font, "--size " + std::to_string(size + 1), folder + "/large.bmp");
    EXPECT_EQ(larger.run.exitCode, 1) << larger.run.output;
    EXPECT_NE(larger.run.output.find("px wide, the cell holds 23"), std::string::npos)
        << larger.run.output;
    EXPECT_EQ(larger.image.width, 0) << "nothing is written for a size that does not fit";
    removeFolder(folder);
}

// The columns a glyph's ink spans in its cell, or -1 for none; false when ink touches
// the cell's border.
bool inkSpan(const TestImage& sheet, unsigned char byte, int32_t* width) {
    TestImage cell = cellOf(sheet, byte);
    int32_t left = kCellW;
    int32_t right = -1;
    for (int32_t y = 0; y < kCellH; ++y) {
        for (int32_t x = 0; x < kCellW; ++x) {
            if (cell.at(x, y) == kMagenta) {
                continue;
            }
            if (x == 0 || y == 0 || x == kCellW - 1 || y == kCellH - 1) {
                return false;
            }
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    *width = right - left + 1;
    return true;
}

// --stretch widens the glyphs narrower than the cell, up to the cell and no further, so
// the widest glyph still sets the same size as without it.
TEST(FontTool, StretchWidensOnlyWhatFitsAndKeepsTheSize) {
    std::string font = "DejaVuSerif-Bold.ttf";
    if (!fontInstalled(font)) {
        GTEST_SKIP() << font << " is not installed (fonts-dejavu-core)";
    }
    std::string folder = makeTempFolder();
    Sheet plain = makeSheet(font, "", folder + "/plain.bmp");
    Sheet wide = makeSheet(font, "--stretch 1.5", folder + "/wide.bmp");
    ASSERT_EQ(plain.run.exitCode, 0) << plain.run.output;
    ASSERT_EQ(wide.run.exitCode, 0) << wide.run.output;
    EXPECT_GT(sizeChosen(plain.run), 12) << plain.run.output;
    EXPECT_EQ(sizeChosen(wide.run), sizeChosen(plain.run)) << wide.run.output;
    EXPECT_NE(wide.run.output.find("--stretch 1.50 widened "), std::string::npos)
        << wide.run.output;
    EXPECT_NE(wide.run.output.find("less, to keep them in their cells ("), std::string::npos)
        << wide.run.output;
    for (int byte = 33; byte <= 122; ++byte) {
        int32_t before = 0;
        int32_t after = 0;
        ASSERT_TRUE(inkSpan(plain.image, static_cast<unsigned char>(byte), &before)) << byte;
        ASSERT_TRUE(inkSpan(wide.image, static_cast<unsigned char>(byte), &after)) << byte;
        EXPECT_GE(after, before) << "byte " << byte;
        EXPECT_LE(after, kCellW - 2) << "byte " << byte;
    }
    for (unsigned char narrow : {'i', 'n', 'o', 'e'}) {
        int32_t before = 0;
        int32_t after = 0;
        inkSpan(plain.image, narrow, &before);
        inkSpan(wide.image, narrow, &after);
        // The outline's two pixels each side are not widened.
        EXPECT_GE(after - 4, (before - 4) * 13 / 10) << narrow;
    }
    removeFolder(folder);
}

struct Spacing {
    const char* font;
    const char* options;
    bool warned;
};

// A proportional font whose letters come out far narrower than the cells is told to
// look letter-spaced; a monospaced one, or one widened enough, is not.
TEST(FontTool, WarnsWhenProportionalTextWillLookLetterSpaced) {
    const Spacing table[] = {
        {"DejaVuSerif.ttf", "", true},
        {"DejaVuSans-Bold.ttf", "--outline 0", true},
        {"DejaVuSansMono.ttf", "", false},
        {"DejaVuSansMono-Bold.ttf", "--stretch 1.25", false},
        {"DejaVuSerif.ttf", "--stretch 1.5", false},
    };
    std::string folder = makeTempFolder();
    for (const Spacing& row : table) {
        if (!fontInstalled(row.font)) {
            continue;
        }
        Sheet sheet = makeSheet(row.font, row.options, folder + "/font.bmp");
        ASSERT_EQ(sheet.run.exitCode, 0) << sheet.run.output;
        bool warned = sheet.run.output.find("will look letter-spaced") != std::string::npos;
        EXPECT_EQ(warned, row.warned) << row.font << " " << row.options << "\n" << sheet.run.output;
        if (row.warned) {
            EXPECT_NE(sheet.run.output.find("bexu-font: warning: DejaVu "), std::string::npos);
            EXPECT_NE(sheet.run.output.find("monospaced"), std::string::npos);
        }
    }
    removeFolder(folder);
}

TEST(FontTool, MarkerCellsComeFromTheAuthorsBitmap) {
    std::string font = "DejaVuSansMono.ttf";
    if (!fontInstalled(font)) {
        GTEST_SKIP() << font << " is not installed (fonts-dejavu-core)";
    }
    std::string folder = makeTempFolder();
    TestImage strip{125, 33, {}};
    for (int32_t i = 0; i < 125 * 33; ++i) {
        strip.pixels.push_back(i % 7 == 0 ? kMagenta : 0x010203u * uint32_t(i % 50));
    }
    writeFile(folder + "/marker.bmp", encodeBmp24(strip));
    Sheet sheet =
        makeSheet(font, "--marker " + shellQuoted(folder + "/marker.bmp"), folder + "/font.bmp");
    ASSERT_EQ(sheet.run.exitCode, 0) << sheet.run.output;
    for (int byte = 123; byte <= 127; ++byte) {
        TestImage cell = cellOf(sheet.image, static_cast<unsigned char>(byte));
        for (int32_t y = 0; y < kCellH; ++y) {
            for (int32_t x = 0; x < kCellW; ++x) {
                ASSERT_EQ(cell.at(x, y), strip.at((byte - 123) * kCellW + x, y)) << byte;
            }
        }
    }
    writeFile(folder + "/wrong.bmp", encodeBmp24(solidImage(100, 33, 0)));
    Sheet wrong =
        makeSheet(font, "--marker " + shellQuoted(folder + "/wrong.bmp"), folder + "/other.bmp");
    EXPECT_EQ(wrong.run.exitCode, 2);
    EXPECT_NE(wrong.run.output.find("125 x 33"), std::string::npos) << wrong.run.output;
    removeFolder(folder);
}

TEST(FontTool, RejectsBadArgumentsAndFiles) {
    std::string folder = makeTempFolder();
    std::string font = shellQuoted(std::string(kFontFolder) + "DejaVuSansMono.ttf");
    std::string out = " -o " + shellQuoted(folder + "/font.bmp");
    writeFile(folder + "/notafont.ttf", std::string("not a font at all"));
    const std::string runs[] = {
        font,                                        // no -o
        font + out + " --color FF00FF",              // the background colour
        font + out + " --color 12345",               // too short
        font + out + " --shadow 2",                  // no DY
        font + out + " --shadow 0,0",                // no offset
        font + out + " --outline 9",                 // too wide
        font + out + " --size 2",                    // below the range
        font + out + " --stretch 3",                 // out of range
        font + out + " --bogus",                     //
        shellQuoted(folder + "/notafont.ttf") + out, // unreadable font
        shellQuoted(folder + "/missing.ttf") + out,  // missing font
        font + out + " --marker " + shellQuoted(folder + "/missing.bmp"),
    };
    for (const std::string& arguments : runs) {
        ToolRun run = runCommand(builtProgram("bexu-font") + " " + arguments + " 2>&1");
        EXPECT_EQ(run.exitCode, 2) << arguments << "\n" << run.output;
        EXPECT_TRUE(readFile(folder + "/font.bmp").empty()) << arguments;
    }
    removeFolder(folder);
}

} // namespace
