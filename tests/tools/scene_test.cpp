// bexu-scene run as built on pictures of every kind an author brings, and bad ones:
// the scene it writes loads in the player's own BMP decoder at the canvas's size and
// shows the expected pixels; RLE8 is chosen exactly when the scene has at most 256
// colours; bad files give a message that names them, exit code 1 and no file.
#include "common/bmp_writer.h"
#include "picture_encode.h"
#include "platform/platform.h"
#include "platform/soft/soft_surface.h"
#include "scene/scene_layout.h"
#include "support/test_files.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <sys/stat.h>
#include <zlib.h>

namespace {

// Three vertical stripes, red, green and blue, over the whole picture.
RgbaPicture stripes(int32_t width, int32_t height) {
    RgbaPicture picture = blankPicture(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            picture.set(x, y, x < width / 3 ? 0xFF0000 : x < 2 * width / 3 ? 0x00FF00 : 0x0000FF);
        }
    }
    return picture;
}

struct SceneRun {
    ToolRun run;
    TestImage scene; // as the player loads it; width 0 when it does not
    bool written;
};

SceneRun makeScene(const std::string& folder, const std::string& name, const std::string& bytes,
                   const std::string& options = "") {
    writeFile(folder + "/" + name, bytes);
    std::string out = folder + "/scene.bmp";
    remove(out.c_str());
    SceneRun result;
    result.run = runCommand(builtProgram("bexu-scene") + " " + shellQuoted(folder + "/" + name) +
                            " -o " + shellQuoted(out) + options + " 2>&1");
    struct stat info;
    result.written = stat(out.c_str(), &info) == 0;
    result.scene = TestImage{0, 0, {}};
    if (PlatformBitmap* bitmap = platformLoadBitmap(out.c_str())) {
        result.scene = TestImage{
            bitmap->width, bitmap->height,
            std::vector<uint32_t>(bitmap->pixels, bitmap->pixels + bitmap->width * bitmap->height)};
        platformDeleteBitmap(bitmap);
    }
    return result;
}

bool near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift = 0; shift <= 16; shift += 8) {
        int difference = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
        if (difference > tolerance || difference < -tolerance) {
            return false;
        }
    }
    return true;
}

struct Sample {
    int32_t x, y;
    uint32_t pixel;
};

// The pictures are made when a test runs, not when the tests are listed.
using MakeBytes = std::string (*)();

struct ScenePicture {
    const char* name;
    const char* file;
    MakeBytes make;
    const char* options;
    const char* form; // "RLE8" or "24-bit"
    int tolerance;    // per channel, at the samples
    std::vector<Sample> samples;
};

// A picture of at most 256 colours: 16 x 9 tiles of a colour each, at the canvas's size.
RgbaPicture tiles() {
    RgbaPicture picture = blankPicture(1600, 900);
    for (int32_t y = 0; y < 900; ++y) {
        for (int32_t x = 0; x < 1600; ++x) {
            picture.set(x, y,
                        uint32_t((x / 100) * 15) << 16 | uint32_t((y / 100) * 25) << 8 | 0x40);
        }
    }
    return picture;
}

// The tiles at twice the size: area averaging gives each scene pixel one colour back.
RgbaPicture doubledTiles() {
    RgbaPicture picture = blankPicture(3200, 1800);
    for (int32_t y = 0; y < 1800; ++y) {
        for (int32_t x = 0; x < 3200; ++x) {
            picture.set(x, y,
                        uint32_t((x / 200) * 15) << 16 | uint32_t((y / 200) * 25) << 8 | 0x40);
        }
    }
    return picture;
}

// 300 colours: one too many for a palette however it is scaled.
RgbaPicture manyColors() {
    RgbaPicture picture = blankPicture(1600, 900);
    for (int32_t y = 0; y < 900; ++y) {
        for (int32_t x = 0; x < 1600; ++x) {
            uint32_t index = uint32_t(y * 1600 + x) % 300;
            picture.set(x, y, (index % 256) << 16 | (index / 256) << 8);
        }
    }
    return picture;
}

// The stripes of a photograph: grain in every pixel gives thousands of colours.
RgbaPicture grainyStripes(int32_t width, int32_t height) {
    RgbaPicture picture = stripes(width, height);
    std::mt19937 random(4000);
    for (size_t i = 0; i < picture.bytes.size(); ++i) {
        if (i % 4 != 3) {
            int value = picture.bytes[i] + int(random() % 9) - 4;
            picture.bytes[i] = uint8_t(value < 0 ? 0 : value > 255 ? 255 : value);
        }
    }
    return picture;
}

// Half transparent at the left, clear at the right.
RgbaPicture translucent() {
    RgbaPicture picture = blankPicture(800, 450);
    for (int32_t y = 0; y < 450; ++y) {
        for (int32_t x = 0; x < 800; ++x) {
            picture.set(x, y, 0xFF0000, x < 400 ? 128 : 0);
        }
    }
    return picture;
}

const std::vector<ScenePicture>& scenePictures() {
    static const std::vector<ScenePicture> table = {
        {"jpeg filled",
         "art.jpg",
         [] { return jpegBytes(grainyStripes(4000, 3000), 95); },
         "",
         "24-bit",
         12,
         // The whole width is kept; the middle of each stripe.
         {{260, 450, 0xFF0000}, {800, 100, 0x00FF00}, {1340, 800, 0x0000FF}}},
        {"wide png filled: sides cut",
         "wide.png",
         [] { return pngBytes(stripes(2400, 900)); },
         "",
         "RLE8",
         0,
         // 400 columns cut at each side: the middle stripe spans 400 to 1200 of the scene.
         {{0, 450, 0xFF0000},
          {399, 450, 0xFF0000},
          {400, 450, 0x00FF00},
          {1199, 0, 0x00FF00},
          {1200, 899, 0x0000FF},
          {1599, 450, 0x0000FF}}},
        {"wide png fitted: bars",
         "wide.png",
         [] { return pngBytes(stripes(2400, 900)); },
         " --fit --background 102030",
         "RLE8",
         0,
         // 1600 x 600 at y 150: bars of the background above and below.
         {{800, 0, 0x102030},
          {800, 149, 0x102030},
          {0, 150, 0xFF0000},
          {800, 449, 0x00FF00},
          {1599, 749, 0x0000FF},
          {800, 750, 0x102030},
          {800, 899, 0x102030}}},
        {"tall png fitted: bars at the sides",
         "tall.png",
         [] { return pngBytes(stripes(900, 900)); },
         " --fit",
         "RLE8",
         0,
         {{0, 450, 0x000000},
          {349, 450, 0x000000},
          {350, 450, 0xFF0000},
          {800, 450, 0x00FF00},
          {1249, 450, 0x0000FF},
          {1250, 450, 0x000000}}},
        {"png with alpha over white",
         "glass.png",
         [] { return pngBytes(translucent()); },
         " --background white",
         "RLE8",
         1,
         // Half red over white, and white where the picture is clear.
         {{100, 100, 0xFF7F7F}, {700, 800, 0xFF7F7F}, {900, 100, 0xFFFFFF}, {1599, 899, 0xFFFFFF}}},
        {"256 colours or fewer at the canvas's size",
         "tiles.png",
         [] { return pngBytes(tiles()); },
         "",
         "RLE8",
         0,
         {{0, 0, 0x000040}, {150, 250, 0x0F3240}, {1599, 899, 0xE1C840}}},
        {"few colours, halved exactly",
         "tiles.png",
         [] { return pngBytes(doubledTiles()); },
         "",
         "RLE8",
         0,
         {{0, 0, 0x000040}, {150, 250, 0x0F3240}, {1599, 899, 0xE1C840}}},
        {"bmp of another size, as the player reads it",
         "old.bmp",
         [] {
             std::vector<uint8_t> bmp = encodeBmp24(solidImage(1920, 1080, 0x336699));
             return std::string(bmp.begin(), bmp.end());
         },
         "",
         "RLE8",
         0,
         {{0, 0, 0x336699}, {1599, 899, 0x336699}}},
        {"300 colours",
         "many.png",
         [] { return pngBytes(manyColors()); },
         "",
         "24-bit",
         0,
         {{0, 0, 0x000000}, {1, 0, 0x010000}, {299, 0, 0x2B0100}, {300, 0, 0x000000}}},
    };
    return table;
}

class ScenePictureTest : public ::testing::TestWithParam<ScenePicture> {};

TEST_P(ScenePictureTest, LoadsInThePlayerWithTheExpectedPixels) {
    const ScenePicture& picture = GetParam();
    std::string folder = makeTempFolder();
    SceneRun made = makeScene(folder, picture.file, picture.make(), picture.options);
    SCOPED_TRACE(made.run.output);
    ASSERT_EQ(made.run.exitCode, 0);
    ASSERT_EQ(made.scene.width, 1600);
    ASSERT_EQ(made.scene.height, 900);
    EXPECT_NE(made.run.output.find(std::string("wrote ") + folder + "/scene.bmp: " + picture.form),
              std::string::npos);
    for (const Sample& sample : picture.samples) {
        uint32_t got = made.scene.at(sample.x, sample.y);
        EXPECT_TRUE(near(got, sample.pixel, picture.tolerance))
            << "at " << sample.x << "," << sample.y << ": " << std::hex << got << " for "
            << sample.pixel;
    }
    std::string bmp = readFile(folder + "/scene.bmp");
    // The compression field of the info header: 1 for RLE8, 0 for plain 24-bit.
    ASSERT_GT(bmp.size(), 34u);
    EXPECT_EQ(bmp[30], std::string(picture.form) == "RLE8" ? 1 : 0);
    removeFolder(folder);
}

std::string pictureName(const ::testing::TestParamInfo<ScenePicture>& info) {
    return testName(info.param.name);
}

INSTANTIATE_TEST_SUITE_P(Pictures, ScenePictureTest, ::testing::ValuesIn(scenePictures()),
                         pictureName);

// A PNG chunk: length, type, data and checksum.
std::string pngChunk(const std::string& type, const std::string& data) {
    std::string chunk;
    for (int shift = 24; shift >= 0; shift -= 8) {
        chunk += char(data.size() >> shift);
    }
    std::string body = type + data;
    uLong checksum = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
    chunk += body;
    for (int shift = 24; shift >= 0; shift -= 8) {
        chunk += char(checksum >> shift);
    }
    return chunk;
}

// A PNG whose header claims 30000 x 30000 pixels, followed by the start of its data.
std::string hugePng() {
    std::string side("\0\0\x75\x30", 4);                                 // 30000
    std::string header = side + side + std::string("\x08\x06\0\0\0", 5); // 8 bits, RGBA
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) +
           pngChunk("IDAT", std::string("\x78\x9c\xed\xc1\x01\x0d\0\0\0\xc2", 10));
}

struct BadPicture {
    const char* name;
    const char* file;
    MakeBytes make;
    const char* says;
};

std::string pngStripes() {
    return pngBytes(stripes(600, 400));
}
std::string jpegStripes() {
    return jpegBytes(stripes(600, 400), 95);
}

const std::vector<BadPicture>& badPictures() {
    static const std::vector<BadPicture> table = {
        {"huge picture", "huge.png", hugePng, "is 30000 x 30000 (900.0 megapixels)"},
        {"png cut short", "cut.png",
         [] {
             std::string png = pngStripes();
             return png.substr(0, png.size() / 2);
         },
         "it is damaged or cut short"},
        {"jpeg cut short", "cut.jpg",
         [] {
             std::string jpeg = jpegStripes();
             return jpeg.substr(0, jpeg.size() * 2 / 3);
         },
         "it is damaged or cut short"},
        {"jpeg header only", "head.jpg", [] { return jpegStripes().substr(0, 40); },
         "it is damaged or cut short"},
        {"no picture", "notes.png",
         [] { return std::string("These are my notes, not a picture.\n"); },
         "is not a picture bexu-scene reads"},
        {"empty file", "empty.jpg", [] { return std::string(); },
         "is not a picture bexu-scene reads"},
    };
    return table;
}

// AddressSanitizer reserves terabytes of address space for its shadow at start, which the
// limit would refuse: a sanitized build runs without it.
#if defined(__SANITIZE_ADDRESS__)
const std::string kMemoryLimit = "";
#else
const std::string kMemoryLimit = "ulimit -v 400000; ";
#endif

class BadPictureTest : public ::testing::TestWithParam<BadPicture> {};

TEST_P(BadPictureTest, IsRefusedByNameAndWritesNothing) {
    const BadPicture& bad = GetParam();
    std::string folder = makeTempFolder();
    writeFile(folder + "/" + bad.file, bad.make());
    // A scene already there stays as it was; and the refusal comes before any large
    // allocation, so a tight memory limit does not change it.
    writeFile(folder + "/scene.bmp", std::string("old scene"));
    ToolRun run = runCommand(kMemoryLimit + builtProgram("bexu-scene") + " " +
                             shellQuoted(folder + "/" + bad.file) + " -o " +
                             shellQuoted(folder + "/scene.bmp") + " 2>&1");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("bexu-scene: " + folder + "/" + bad.file), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(bad.says), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("nothing written"), std::string::npos) << run.output;
    EXPECT_EQ(readFile(folder + "/scene.bmp"), "old scene");
    EXPECT_EQ(filesEndingWith(folder, ".part").size(), 0u);
    removeFolder(folder);
}

std::string badName(const ::testing::TestParamInfo<BadPicture>& info) {
    return testName(info.param.name);
}

INSTANTIATE_TEST_SUITE_P(Bad, BadPictureTest, ::testing::ValuesIn(badPictures()), badName);

TEST(SceneTool, BadArgumentsExitWithTwo) {
    for (const char* arguments :
         {"", "in.png", "in.png -o out.bmp --background pink", "in.png -o out.bmp --stretch"}) {
        ToolRun run = runCommand(builtProgram("bexu-scene") + " " + arguments + " 2>&1");
        EXPECT_EQ(run.exitCode, 2) << arguments << "\n" << run.output;
        EXPECT_NE(run.output.find("usage: bexu-scene"), std::string::npos) << run.output;
    }
}

struct Placement {
    int32_t width, height;
    SceneFit fit;
    ScenePlacement expected;
};

TEST(SceneLayout, CutsAndBarsAreEvenAndExact) {
    const Placement table[] = {
        {1600, 900, SceneFit::Fill, {0, 0, 1600, 900, 0, 0, 1600, 900}},
        {1600, 900, SceneFit::Fit, {0, 0, 1600, 900, 0, 0, 1600, 900}},
        {4000, 3000, SceneFit::Fill, {0, 0, 1600, 900, 0, 375, 4000, 2250}},
        {4000, 3000, SceneFit::Fit, {200, 0, 1200, 900, 0, 0, 4000, 3000}},
        {2400, 900, SceneFit::Fill, {0, 0, 1600, 900, 400, 0, 1600, 900}},
        {2400, 900, SceneFit::Fit, {0, 150, 1600, 600, 0, 0, 2400, 900}},
        {1, 1, SceneFit::Fill, {0, 0, 1600, 900, 0, 0, 1, 1}},
        {1, 1000, SceneFit::Fit, {799, 0, 1, 900, 0, 0, 1, 1000}},
        {32768, 1, SceneFit::Fit, {0, 449, 1600, 1, 0, 0, 32768, 1}},
    };
    for (const Placement& row : table) {
        ScenePlacement got = placeScene(row.width, row.height, row.fit);
        const ScenePlacement& want = row.expected;
        SCOPED_TRACE(std::to_string(row.width) + " x " + std::to_string(row.height));
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        EXPECT_EQ(got.sourceX, want.sourceX);
        EXPECT_EQ(got.sourceY, want.sourceY);
        EXPECT_EQ(got.sourceWidth, want.sourceWidth);
        EXPECT_EQ(got.sourceHeight, want.sourceHeight);
    }
}

// Rows of long runs, short runs and stretches of distinct bytes of every length round
// the encoder's limits come back from the player's decoder as they went in.
TEST(BmpWriter, Rle8RoundTripsThroughThePlayersDecoder) {
    std::mt19937 random(18);
    for (int32_t width : {1, 2, 3, 254, 255, 256, 257, 511, 1600}) {
        const int32_t height = 7;
        std::vector<uint32_t> palette;
        for (uint32_t i = 0; i < 256; ++i) {
            palette.push_back(i * 0x010203u & 0xFFFFFF);
        }
        std::vector<uint8_t> indices(size_t(width) * height);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                uint8_t& index = indices[size_t(y) * width + x];
                switch (y) {
                case 0:
                    index = 7;
                    break; // one run
                case 1:
                    index = uint8_t(x);
                    break; // all distinct
                case 2:
                    index = uint8_t(x / 2);
                    break; // pairs
                case 3:
                    index = uint8_t(x / 3);
                    break; // threes
                default:
                    index = uint8_t(random() % (y == 4 ? 2 : 256)); // noise
                }
            }
        }
        std::vector<uint8_t> file = bmpRle8Bytes(width, height, indices.data(), palette);
        PlatformBitmap* bitmap = softDecodeBmp(file.data(), file.size());
        ASSERT_NE(bitmap, nullptr) << width;
        for (size_t i = 0; i < indices.size(); ++i) {
            ASSERT_EQ(bitmap->pixels[i], palette[indices[i]])
                << "width " << width << " pixel " << i;
        }
        platformDeleteBitmap(bitmap);
    }
}

} // namespace
