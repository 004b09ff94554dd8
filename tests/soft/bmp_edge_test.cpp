// Hand-made BMP files for the cases the suite does not pin down: RLE codes,
// every depth and row order, bit-field scaling, size limits and failures.
#include "platform/soft/soft_surface.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {
struct BmpFields {
    uint32_t headerSize = 40;
    int32_t width = 4;
    int32_t height = 3;
    uint16_t bits = 8;
    uint32_t compression = 0;
    std::vector<uint32_t> masks;   // after a 40-byte header, inside larger ones
    std::vector<uint32_t> palette; // 0x00RRGGBB
    std::vector<uint8_t> data;
};

void put16(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}
void put32(std::vector<uint8_t>* out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::vector<uint8_t> makeBmp(const BmpFields& fields) {
    std::vector<uint8_t> header;
    put32(&header, fields.headerSize);
    put32(&header, static_cast<uint32_t>(fields.width));
    put32(&header, static_cast<uint32_t>(fields.height));
    put16(&header, 1);
    put16(&header, fields.bits);
    put32(&header, fields.compression);
    put32(&header, 0);
    put32(&header, 2835);
    put32(&header, 2835);
    put32(&header, static_cast<uint32_t>(fields.palette.size()));
    put32(&header, 0);
    for (uint32_t mask : fields.masks) {
        put32(&header, mask);
    }
    while (header.size() < fields.headerSize) {
        header.push_back(0);
    }
    for (uint32_t entry : fields.palette) {
        put32(&header, entry);
    }
    std::vector<uint8_t> file = {'B', 'M'};
    uint32_t offset = 14 + static_cast<uint32_t>(header.size());
    put32(&file, offset + static_cast<uint32_t>(fields.data.size()));
    put32(&file, 0);
    put32(&file, offset);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), fields.data.begin(), fields.data.end());
    return file;
}

PlatformBitmap* decode(const std::vector<uint8_t>& bytes) {
    return softDecodeBmp(bytes.data(), bytes.size());
}

const std::vector<uint32_t> kPalette = {0x000000, 0x110000, 0x002200, 0x000033,
                                        0x440000, 0x005500, 0x000066, 0x777777};

// The picture as palette digits, top row first; '.' is black.
std::string indexPicture(const PlatformBitmap* bitmap) {
    std::string picture;
    for (int32_t y = 0; y < bitmap->height; ++y) {
        for (int32_t x = 0; x < bitmap->width; ++x) {
            uint32_t pixel = bitmap->pixels[y * bitmap->width + x];
            char c = '?';
            for (size_t i = 0; i < kPalette.size(); ++i) {
                if (kPalette[i] == pixel) {
                    c = i == 0 ? '.' : static_cast<char>('0' + i);
                }
            }
            picture += c;
        }
        picture += y + 1 < bitmap->height ? "/" : "";
    }
    return picture;
}

struct RleCase {
    const char* name;
    uint32_t compression; // 1: RLE8, 2: RLE4
    std::vector<uint8_t> codes;
    const char* picture; // 4 x 3, top row first
};

const RleCase kRleCases[] = {
    {"runs and ends of line", 1, {2, 1, 0, 0, 4, 2, 0, 0, 1, 3, 0, 1}, "3.../2222/11.."},
    {"delta moves right and up", 1, {1, 1, 0, 2, 2, 1, 1, 2, 0, 1}, "..../...2/1..."},
    {"odd absolute run is padded", 1, {0, 3, 1, 2, 3, 0, 1, 4, 0, 1}, "..../..../1234"},
    {"run past the right edge is cut", 1, {6, 1, 0, 0, 1, 2, 0, 1}, "..../2.../1111"},
    {"end of bitmap leaves the rest black", 1, {2, 1, 0, 1, 4, 2}, "..../..../11.."},
    {"data ending without an end code keeps what came", 1, {4, 1, 0, 0, 2}, "..../..../1111"},
    {"delta above the top draws nothing more", 1, {0, 2, 0, 5, 4, 1, 0, 1}, "..../..../...."},
    {"absolute run cut by the end of data", 1, {0, 4, 1, 2}, "..../..../...."},
    {"index past the palette is black", 1, {2, 200, 1, 1, 0, 1}, "..../..../..1."},
    {"RLE4 run alternates nibbles", 2, {3, 0x45, 0, 0, 4, 0x66, 0, 1}, "..../6666/454."},
    {"RLE4 absolute run of 3 pixels is padded to a word",
     2,
     {0, 3, 0x12, 0x30, 1, 0x70, 0, 1},
     "..../..../1237"},
    {"RLE4 absolute run of 5 is cut at the edge",
     2,
     {0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 1, 0x20, 0, 1},
     "..../2.../1234"},
};

TEST(BmpRle, CodesDrawWhatTheyShould) {
    for (const RleCase& test : kRleCases) {
        SCOPED_TRACE(test.name);
        BmpFields fields;
        fields.bits = test.compression == 1 ? 8 : 4;
        fields.compression = test.compression;
        fields.palette = kPalette;
        fields.data = test.codes;
        PlatformBitmap* bitmap = decode(makeBmp(fields));
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(indexPicture(bitmap), test.picture);
        platformDeleteBitmap(bitmap);
    }
}

// Packs palette indices into BMP rows of the given depth.
std::vector<uint8_t> packRows(const std::vector<uint8_t>& indices, int32_t width, int32_t height,
                              int bits, bool topDown) {
    size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
    std::vector<uint8_t> data(stride * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        int32_t row = topDown ? y : height - 1 - y;
        for (int32_t x = 0; x < width; ++x) {
            size_t bit = static_cast<size_t>(x) * bits;
            int shift = 8 - bits - static_cast<int>(bit % 8);
            data[row * stride + bit / 8] |= static_cast<uint8_t>(indices[y * width + x] << shift);
        }
    }
    return data;
}

TEST(BmpDepths, PalettedRowsOfEveryDepthWidthAndOrder) {
    const int depths[] = {1, 2, 4, 8};
    const int32_t widths[] = {1, 3, 7, 9, 17, 33};
    for (int bits : depths) {
        for (int32_t width : widths) {
            for (bool topDown : {false, true}) {
                SCOPED_TRACE(testing::Message() << bits << " bits, width " << width
                                                << (topDown ? " top-down" : " bottom-up"));
                int32_t height = 3;
                uint32_t entries = 1u << (bits < 3 ? bits : 3);
                std::vector<uint8_t> indices(static_cast<size_t>(width) * height);
                for (size_t i = 0; i < indices.size(); ++i) {
                    indices[i] = static_cast<uint8_t>((i * 5 + i / 3) % entries);
                }
                BmpFields fields;
                fields.width = width;
                fields.height = topDown ? -height : height;
                fields.bits = static_cast<uint16_t>(bits);
                fields.palette.assign(kPalette.begin(), kPalette.begin() + entries);
                fields.data = packRows(indices, width, height, bits, topDown);
                PlatformBitmap* bitmap = decode(makeBmp(fields));
                ASSERT_NE(bitmap, nullptr);
                ASSERT_EQ(bitmap->width, width);
                ASSERT_EQ(bitmap->height, height);
                for (size_t i = 0; i < indices.size(); ++i) {
                    ASSERT_EQ(bitmap->pixels[i], kPalette[indices[i]]) << i;
                }
                platformDeleteBitmap(bitmap);
            }
        }
    }
}

struct MaskCase {
    const char* name;
    uint16_t bits;
    uint32_t compression;
    std::vector<uint32_t> masks;
    uint32_t stored;
    uint32_t expected;
};

const MaskCase kMaskCases[] = {
    {"5-5-5 white scales to 255", 16, 0, {}, 0x7FFF, 0xFFFFFF},
    {"5-5-5 spare bit ignored", 16, 0, {}, 0x8000, 0x000000},
    {"5-5-5 one step is round(255 / 31)", 16, 0, {}, 0x0421, 0x080808},
    {"5-6-5 one step of green is round(255 / 63)",
     16,
     3,
     {0xF800, 0x07E0, 0x001F},
     0x0020,
     0x000400},
    {"5-6-5 mid values", 16, 3, {0xF800, 0x07E0, 0x001F}, 0x8410, 0x848284},
    {"zero blue mask reads 0", 16, 3, {0xFF00, 0x00FF, 0}, 0x80FF, 0x80FF00},
    {"32-bit spare byte ignored", 32, 0, {}, 0xFF123456, 0x123456},
    {"32-bit masks in odd order", 32, 3, {0xFF000000, 0xFF0, 0xFF0000}, 0x12345678, 0x126734},
    {"10-bit channels", 32, 3, {0x3FF00000, 0xFFC00, 0x3FF}, 0x3FF00200, 0xFF0080},
    {"alpha bit fields after a 40-byte header",
     32,
     6,
     {0xFF, 0xFF00, 0xFF0000, 0xFF000000},
     0x80112233,
     0x332211},
};

TEST(BmpDepths, BitFieldsScaleEachChannelToEightBits) {
    for (const MaskCase& test : kMaskCases) {
        SCOPED_TRACE(test.name);
        BmpFields fields;
        fields.width = 1;
        fields.height = 1;
        fields.bits = test.bits;
        fields.compression = test.compression;
        fields.masks = test.masks;
        fields.data = {static_cast<uint8_t>(test.stored), static_cast<uint8_t>(test.stored >> 8),
                       static_cast<uint8_t>(test.stored >> 16),
                       static_cast<uint8_t>(test.stored >> 24)};
        PlatformBitmap* bitmap = decode(makeBmp(fields));
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->pixels[0], test.expected);
        platformDeleteBitmap(bitmap);
    }
}

struct RefusedCase {
    const char* name;
    int32_t width;
    int32_t height;
    uint16_t bits;
    uint32_t compression;
    uint32_t headerSize;
};

// Refused from the headers alone, before anything is allocated.
const RefusedCase kRefusedCases[] = {
    {"wider than 32768", 32769, 1, 24, 0, 40},
    {"taller than 32768", 1, 32769, 24, 0, 40},
    {"taller than 32768 top-down", 1, -32769, 24, 0, 40},
    {"more than 256 MiB of pixels", 16385, 4097, 8, 1, 40},
    {"zero width", 0, 1, 24, 0, 40},
    {"negative width", -4, 1, 24, 0, 40},
    {"zero height", 4, 0, 24, 0, 40},
    {"most negative height", 4, INT32_MIN, 24, 0, 40},
    {"3 bits", 4, 1, 3, 0, 40},
    {"64 bits", 4, 1, 64, 0, 40},
    {"RLE8 at 4 bits", 4, 1, 4, 1, 40},
    {"RLE4 at 8 bits", 4, 1, 8, 2, 40},
    {"RLE8 top-down", 4, -1, 8, 1, 40},
    {"bit fields at 24 bits", 4, 1, 24, 3, 40},
    {"embedded JPEG", 4, 1, 0, 4, 124},
    {"embedded PNG", 4, 1, 0, 5, 124},
    {"unknown compression", 4, 1, 8, 7, 40},
    {"OS/2 v2 Huffman", 4, 1, 1, 3, 64},
    {"OS/2 v2 RLE24", 4, 1, 24, 4, 64},
    {"header size 20", 4, 1, 24, 0, 20},
    {"header size 1000000", 4, 1, 24, 0, 1000000},
    {"truncated rows", 4, 3, 24, 0, 40},
};

TEST(BmpLimits, BadHeadersAreRefusedWithoutAllocating) {
    for (const RefusedCase& test : kRefusedCases) {
        SCOPED_TRACE(test.name);
        BmpFields fields;
        fields.width = test.width;
        fields.height = test.height;
        fields.bits = test.bits;
        fields.compression = test.compression;
        fields.headerSize = test.headerSize == 1000000 ? 40 : test.headerSize;
        // Rows of a 4 x 1 picture at most: every size above needs more.
        fields.data.assign(16, 0x11);
        if (test.compression == 3) {
            fields.masks = {0xFF0000, 0xFF00, 0xFF};
        }
        std::vector<uint8_t> bytes = makeBmp(fields);
        if (test.headerSize == 1000000) {
            bytes[14] = 0x40;
            bytes[15] = 0x42;
            bytes[16] = 0x0F;
        }
        uint64_t allocations = platformAllocationCount();
        PlatformBitmap* bitmap = decode(bytes);
        EXPECT_EQ(bitmap, nullptr);
        EXPECT_EQ(platformAllocationCount(), allocations);
        platformDeleteBitmap(bitmap);
    }
}

TEST(BmpLimits, LargestAllowedSizesDecode) {
    // 32768 x 1 at 8 bits: the widest row.
    BmpFields wide;
    wide.width = 32768;
    wide.height = 1;
    wide.palette = kPalette;
    wide.data.assign(32768, 7);
    PlatformBitmap* bitmap = decode(makeBmp(wide));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->pixels[32767], kPalette[7]);
    platformDeleteBitmap(bitmap);

    // 16384 x 4096 is exactly 256 MiB of pixels; RLE keeps the file small.
    BmpFields big;
    big.width = 16384;
    big.height = 4096;
    big.compression = 1;
    big.palette = kPalette;
    big.data = {2, 3, 0, 1};
    bitmap = decode(makeBmp(big));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->pixels[size_t(4095) * 16384 + 1], kPalette[3]);
    platformDeleteBitmap(bitmap);
}

TEST(BmpLimits, FailedAllocationGivesNoBitmap) {
    BmpFields fields;
    fields.palette = kPalette;
    fields.data.assign(12, 1);
    std::vector<uint8_t> bytes = makeBmp(fields);
    platformFailAllocation(1);
    EXPECT_EQ(decode(bytes), nullptr);
    platformFailAllocation(0);

    std::string folder = makeTempFolder();
    std::string path = folder + "/picture.bmp";
    writeFile(path, bytes);
    for (uint32_t nth = 1; nth <= 3; ++nth) {
        platformFailAllocation(nth);
        PlatformBitmap* bitmap = platformLoadBitmap(path.c_str());
        platformFailAllocation(0);
        EXPECT_EQ(bitmap, nullptr) << nth;
        platformDeleteBitmap(bitmap);
    }
    PlatformBitmap* bitmap = platformLoadBitmap(path.c_str());
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->pixels[0], kPalette[1]);
    platformDeleteBitmap(bitmap);
    removeFolder(folder);
}

TEST(BmpLoad, MissingEmptyAndFolderPathsGiveNoBitmap) {
    std::string folder = makeTempFolder();
    writeFile(folder + "/empty.bmp", std::string());
    EXPECT_EQ(platformLoadBitmap((folder + "/missing.bmp").c_str()), nullptr);
    EXPECT_EQ(platformLoadBitmap((folder + "/empty.bmp").c_str()), nullptr);
    EXPECT_EQ(platformLoadBitmap(folder.c_str()), nullptr);
    removeFolder(folder);
}

TEST(BmpLoad, SaysWhyAFileDoesNotLoad) {
    BmpFields good;
    good.palette = kPalette;
    good.data.assign(12, 1);
    BmpFields jpeg = good;
    jpeg.compression = 4;
    BmpFields topDownRle = good;
    topDownRle.compression = 1;
    topDownRle.height = -3;
    BmpFields huge = good;
    huge.width = 40000;
    BmpFields threeBits = good;
    threeBits.bits = 3;
    std::vector<uint8_t> cut = makeBmp(good);
    cut.resize(cut.size() - 5);
    std::vector<uint8_t> header = makeBmp(good);
    header.resize(30);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        LoadFailure expected;
    } cases[] = {
        {"good", makeBmp(good), LoadFailure::None},
        {"empty", {}, LoadFailure::NotBmp},
        {"png", {0x89, 'P', 'N', 'G', 13, 10, 26, 10}, LoadFailure::NotBmp},
        {"three bits a pixel", makeBmp(threeBits), LoadFailure::NotBmp},
        {"jpeg inside", makeBmp(jpeg), LoadFailure::UnsupportedCompression},
        {"rle top-down", makeBmp(topDownRle), LoadFailure::UnsupportedCompression},
        {"40000 wide", makeBmp(huge), LoadFailure::TooLarge},
        {"rows cut", cut, LoadFailure::Truncated},
        {"header cut", header, LoadFailure::Truncated},
    };
    std::string folder = makeTempFolder();
    for (const Case& c : cases) {
        writeFile(folder + "/picture.bmp", c.bytes);
        PlatformBitmap* bitmap = platformLoadBitmap((folder + "/picture.bmp").c_str());
        EXPECT_EQ(bitmap != nullptr, c.expected == LoadFailure::None) << c.name;
        EXPECT_EQ(platformLoadFailure(), c.expected) << c.name;
        platformDeleteBitmap(bitmap);
    }
    EXPECT_EQ(platformLoadBitmap((folder + "/missing.bmp").c_str()), nullptr);
    EXPECT_EQ(platformLoadFailure(), LoadFailure::Missing);
    removeFolder(folder);
}
} // namespace
