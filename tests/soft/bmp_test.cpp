// BMP decoding: the BMP suite's files against its reference images, hand-made
// files for the edge cases, and truncated or oversized input.
#include "png_reference.h"

#include "platform/soft/soft_surface.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
const std::string kSuite = std::string(BEXU_TESTDATA_DIR) + "/bmpsuite/";

bool suitePresent() {
    FILE* file = fopen((kSuite + "manifest.tsv").c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    fclose(file);
    return true;
}

#define SKIP_WITHOUT_SUITE()                                                                       \
    if (!suitePresent()) {                                                                         \
        GTEST_SKIP() << "BMP suite not found at " << kSuite;                                       \
    }

std::vector<uint8_t> readBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return bytes;
    }
    uint8_t buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    fclose(file);
    return bytes;
}

// Decodes from an exactly sized copy, so a sanitizer sees any read past the end.
PlatformBitmap* decode(const std::vector<uint8_t>& bytes, size_t length) {
    auto* data = static_cast<uint8_t*>(malloc(length == 0 ? 1 : length));
    if (length > 0) {
        memcpy(data, bytes.data(), length);
    }
    PlatformBitmap* bitmap = softDecodeBmp(data, length);
    free(data);
    return bitmap;
}

PlatformBitmap* decode(const std::vector<uint8_t>& bytes) {
    return decode(bytes, bytes.size());
}

uint32_t channel(uint32_t pixel, int shift) {
    return (pixel >> shift) & 0xFF;
}

enum class Compare {
    Colours,        // every pixel, each channel within 1 level
    OpaqueColours,  // alpha is dropped: colours of the pixels the reference shows opaque
    SwappedRedGreen // the embedded profile is not applied, so red and green stay swapped
};

// Largest channel difference, or -1 when the sizes differ or less than half the
// pixels could be compared.
int largestDifference(const PlatformBitmap* bitmap, const ReferenceImage& reference,
                      Compare compare) {
    if (bitmap->width != reference.width || bitmap->height != reference.height) {
        return -1;
    }
    int largest = 0;
    size_t compared = 0;
    for (size_t i = 0; i < reference.pixels.size(); ++i) {
        uint32_t expected = reference.pixels[i];
        uint32_t got = bitmap->pixels[i];
        if (compare == Compare::OpaqueColours && (expected >> 24) != 0xFF) {
            continue;
        }
        ++compared;
        if (compare == Compare::SwappedRedGreen) {
            expected =
                (expected & 0xFF0000FF) | ((expected >> 8) & 0xFF00) | ((expected << 8) & 0xFF0000);
        }
        for (int shift = 0; shift < 24; shift += 8) {
            int difference = abs(static_cast<int>(channel(got, shift)) -
                                 static_cast<int>(channel(expected, shift)));
            largest = difference > largest ? difference : largest;
        }
        if ((got >> 24) != 0) {
            return 999; // the spare byte must stay clear
        }
    }
    return compared * 2 >= reference.pixels.size() ? largest : -1;
}

struct SuiteCase {
    const char* file;
    bool decodes;
    const char* reference; // html/ image the result must match, when it decodes
    Compare compare;
};

// g/: every file decodes and matches. q/: our choice per file.
const SuiteCase kSuiteCases[] = {
    {"g/pal1.bmp", true, "pal1.png", Compare::Colours},
    {"g/pal1bg.bmp", true, "pal1bg.png", Compare::Colours},
    {"g/pal1wb.bmp", true, "pal1.png", Compare::Colours},
    {"g/pal4.bmp", true, "pal4.png", Compare::Colours},
    {"g/pal4gs.bmp", true, "pal4gs.png", Compare::Colours},
    {"g/pal4rle.bmp", true, "pal4.png", Compare::Colours},
    {"g/pal8-0.bmp", true, "pal8.png", Compare::Colours},
    {"g/pal8.bmp", true, "pal8.png", Compare::Colours},
    {"g/pal8gs.bmp", true, "pal8gs.png", Compare::Colours},
    {"g/pal8nonsquare.bmp", true, "pal8nonsquare-e.png", Compare::Colours},
    {"g/pal8os2.bmp", true, "pal8.png", Compare::Colours},
    {"g/pal8rle.bmp", true, "pal8.png", Compare::Colours},
    {"g/pal8topdown.bmp", true, "pal8.png", Compare::Colours},
    {"g/pal8v4.bmp", true, "pal8.png", Compare::Colours},
    {"g/pal8v5.bmp", true, "pal8.png", Compare::Colours},
    {"g/pal8w124.bmp", true, "pal8w124.png", Compare::Colours},
    {"g/pal8w125.bmp", true, "pal8w125.png", Compare::Colours},
    {"g/pal8w126.bmp", true, "pal8w126.png", Compare::Colours},
    {"g/rgb16-565.bmp", true, "rgb16-565.png", Compare::Colours},
    {"g/rgb16-565pal.bmp", true, "rgb16-565.png", Compare::Colours},
    {"g/rgb16.bmp", true, "rgb16.png", Compare::Colours},
    {"g/rgb16bfdef.bmp", true, "rgb16.png", Compare::Colours},
    {"g/rgb24.bmp", true, "rgb24.png", Compare::Colours},
    {"g/rgb24pal.bmp", true, "rgb24.png", Compare::Colours},
    {"g/rgb32.bmp", true, "rgb24.png", Compare::Colours},
    {"g/rgb32bf.bmp", true, "rgb24.png", Compare::Colours},
    {"g/rgb32bfdef.bmp", true, "rgb24.png", Compare::Colours},
    // Fax Huffman coding is not supported.
    {"q/pal1huffmsb.bmp", false, nullptr, Compare::Colours},
    // Index 1 has no palette entry and shows black.
    {"q/pal1p1.bmp", true, "pal1p1.png", Compare::Colours},
    {"q/pal2.bmp", true, "pal2.png", Compare::Colours},
    {"q/pal2color.bmp", true, "pal2color.png", Compare::Colours},
    // Pixels the RLE codes skip stay black.
    {"q/pal4rlecut.bmp", true, "pal4rlecut-b.png", Compare::Colours},
    {"q/pal4rletrns.bmp", true, "pal4rletrns-b.png", Compare::Colours},
    {"q/pal8offs.bmp", true, "pal8.png", Compare::Colours},
    {"q/pal8os2-hs.bmp", true, "pal8.png", Compare::Colours},
    {"q/pal8os2-sz.bmp", true, "pal8.png", Compare::Colours},
    {"q/pal8os2sp.bmp", true, "pal8.png", Compare::Colours},
    {"q/pal8os2v2-16.bmp", true, "pal8.png", Compare::Colours},
    {"q/pal8os2v2-40sz.bmp", true, "pal8.png", Compare::Colours},
    {"q/pal8os2v2-sz.bmp", true, "pal8.png", Compare::Colours},
    {"q/pal8os2v2.bmp", true, "pal8.png", Compare::Colours},
    {"q/pal8oversizepal.bmp", true, "pal8.png", Compare::Colours},
    {"q/pal8rlecut.bmp", true, "pal8rlecut-b.png", Compare::Colours},
    {"q/pal8rletrns.bmp", true, "pal8rletrns-b.png", Compare::Colours},
    {"q/rgb16-231.bmp", true, "rgb16-231.png", Compare::Colours},
    {"q/rgb16-3103.bmp", true, "rgb16-3103.png", Compare::Colours},
    // The spare bit is not alpha.
    {"q/rgb16faketrns.bmp", true, "rgb16.png", Compare::Colours},
    // Embedded JPEG and PNG streams are for printers: refused.
    {"q/rgb24jpeg.bmp", false, nullptr, Compare::Colours},
    {"q/rgb24largepal.bmp", true, "rgb24.png", Compare::Colours},
    // The linked profile's path is never opened; the pixels decode as they are.
    {"q/rgb24lprof.bmp", true, "rgb24.png", Compare::Colours},
    {"q/rgb24png.bmp", false, nullptr, Compare::Colours},
    {"q/rgb24prof.bmp", true, "rgb24.png", Compare::Colours},
    // Colour profiles are not applied.
    {"q/rgb24prof2.bmp", true, "rgb24.png", Compare::SwappedRedGreen},
    // OS/2 RLE24 is not supported.
    {"q/rgb24rle24.bmp", false, nullptr, Compare::Colours},
    {"q/rgb32-111110.bmp", true, "rgb24.png", Compare::Colours},
    {"q/rgb32-7187.bmp", true, "rgb32-7187.png", Compare::Colours},
    {"q/rgb32-xbgr.bmp", true, "rgb24.png", Compare::Colours},
    // The spare byte is not alpha.
    {"q/rgb32fakealpha.bmp", true, "rgb24.png", Compare::Colours},
    {"q/rgb32h52.bmp", true, "rgb24.png", Compare::Colours},
    // Bitmaps are opaque: alpha masks are read past, the colours stay.
    {"q/rgba16-1924.bmp", true, "rgba16-1924.png", Compare::OpaqueColours},
    {"q/rgba16-4444.bmp", true, "rgba16-4444.png", Compare::OpaqueColours},
    {"q/rgba16-5551.bmp", true, "rgba16-5551.png", Compare::OpaqueColours},
    {"q/rgba32-1.bmp", true, "rgba32.png", Compare::OpaqueColours},
    {"q/rgba32-1010102.bmp", true, "rgba32-1010102.png", Compare::OpaqueColours},
    {"q/rgba32-2.bmp", true, "rgba32.png", Compare::OpaqueColours},
    {"q/rgba32-61754.bmp", true, "rgba32-61754.png", Compare::OpaqueColours},
    {"q/rgba32-81284.bmp", true, "rgba32-81284.png", Compare::OpaqueColours},
    {"q/rgba32abf.bmp", true, "rgba32.png", Compare::OpaqueColours},
    {"q/rgba32h56.bmp", true, "rgba32.png", Compare::OpaqueColours},
    // 64 bits per pixel is outside the loader's depths.
    {"q/rgba64.bmp", false, nullptr, Compare::Colours},
    // The bitmap-array wrapper is another format.
    {"x/ba-bm.bmp", false, nullptr, Compare::Colours},
};

TEST(BmpSuite, GoodAndQuestionableFilesMatchTheirReferenceOrAreRefused) {
    SKIP_WITHOUT_SUITE();
    for (const SuiteCase& test : kSuiteCases) {
        SCOPED_TRACE(test.file);
        std::vector<uint8_t> bytes = readBytes(kSuite + test.file);
        ASSERT_FALSE(bytes.empty());
        PlatformBitmap* bitmap = decode(bytes);
        if (!test.decodes) {
            EXPECT_EQ(bitmap, nullptr);
            platformDeleteBitmap(bitmap);
            continue;
        }
        ASSERT_NE(bitmap, nullptr);
        ReferenceImage reference;
        ASSERT_TRUE(readPng(kSuite + "html/" + test.reference, &reference));
        int difference = largestDifference(bitmap, reference, test.compare);
        EXPECT_GE(difference, 0) << "size " << bitmap->width << "x" << bitmap->height;
        EXPECT_LE(difference, 1);
        platformDeleteBitmap(bitmap);
    }
}

struct BadCase {
    const char* file;
    bool decodes; // and then only what lies inside the file and the bitmap is touched
};

const BadCase kBadCases[] = {
    {"b/badbitcount.bmp", false},
    {"b/badbitssize.bmp", true}, // the image-size field is not
                                 // needed
    {"b/baddens1.bmp", true},
    {"b/baddens2.bmp", true},
    {"b/badfilesize.bmp", true},
    {"b/badheadersize.bmp", false},
    {"b/badpalettesize.bmp", true}, // the palette is cut to what 8
                                    // bits index
    {"b/badplanes.bmp", false},
    {"b/badrle.bmp", true}, // runs past the edges are cut
    {"b/badrle4.bmp", true},
    {"b/badrle4bis.bmp", true},
    {"b/badrle4ter.bmp", true},
    {"b/badrlebis.bmp", true},
    {"b/badrleter.bmp", true},
    {"b/badwidth.bmp", false},
    {"b/pal8badindex.bmp", true}, // indices past the palette show black
    {"b/reallybig.bmp", false},
    {"b/rgb16-880.bmp", true},
    {"b/rletopdown.bmp", false},
    {"b/shortfile.bmp", false},
};

TEST(BmpSuite, BadFilesAreRefusedOrDecodedWithinBounds) {
    SKIP_WITHOUT_SUITE();
    for (const BadCase& test : kBadCases) {
        SCOPED_TRACE(test.file);
        std::vector<uint8_t> bytes = readBytes(kSuite + test.file);
        ASSERT_FALSE(bytes.empty());
        uint64_t allocations = platformAllocationCount();
        PlatformBitmap* bitmap = decode(bytes);
        EXPECT_EQ(bitmap != nullptr, test.decodes);
        if (bitmap == nullptr) {
            // Refused before anything was allocated from its header values.
            EXPECT_EQ(platformAllocationCount(), allocations);
        } else {
            EXPECT_EQ(bitmap->width, 127);
            EXPECT_EQ(bitmap->height, 64);
        }
        platformDeleteBitmap(bitmap);
    }
}

TEST(BmpSuite, BlueAbsentFromTheMasksReadsAsZero) {
    SKIP_WITHOUT_SUITE();
    PlatformBitmap* bitmap = decode(readBytes(kSuite + "b/rgb16-880.bmp"));
    ASSERT_NE(bitmap, nullptr);
    ReferenceImage reference;
    ASSERT_TRUE(readPng(kSuite + "html/rgb16-880.png", &reference));
    EXPECT_LE(largestDifference(bitmap, reference, Compare::Colours), 1);
    platformDeleteBitmap(bitmap);
}

// Every prefix of every suite file decodes to the full picture or is refused;
// a sanitizer build also proves no byte past the prefix is read.
TEST(BmpSuite, TruncatedFilesAreRefusedOrKeepTheirSize) {
    SKIP_WITHOUT_SUITE();
    for (const SuiteCase& test : kSuiteCases) {
        SCOPED_TRACE(test.file);
        std::vector<uint8_t> bytes = readBytes(kSuite + test.file);
        PlatformBitmap* whole = decode(bytes);
        for (size_t length = 0; length < bytes.size(); length += length < 160 ? 1 : 61) {
            PlatformBitmap* part = decode(bytes, length);
            if (part != nullptr) {
                ASSERT_NE(whole, nullptr) << length;
                EXPECT_EQ(part->width, whole->width) << length;
                EXPECT_EQ(part->height, whole->height) << length;
            }
            platformDeleteBitmap(part);
        }
        platformDeleteBitmap(whole);
    }
}
} // namespace
