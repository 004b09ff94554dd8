// Which BMP files the Windows backend refuses before the system loader sees them:
// cut-off pixel rows, and sizes beyond what the other backends make.
#include "platform/win32/bitmap_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void put16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    put16(bytes, at, value & 0xFFFF);
    put16(bytes, at + 2, value >> 16);
}

// File and info headers of a BMP with pixel data right after a palette of `colors` entries.
std::vector<uint8_t> infoHeaders(int32_t width, int32_t height, uint32_t bits,
                                 uint32_t compression = 0, uint32_t colors = 0) {
    std::vector<uint8_t> bytes(54 + colors * 4, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes, 10, 54 + colors * 4);
    put32(bytes, 14, 40);
    put32(bytes, 18, static_cast<uint32_t>(width));
    put32(bytes, 22, static_cast<uint32_t>(height));
    put16(bytes, 26, 1);
    put16(bytes, 28, bits);
    put32(bytes, 30, compression);
    return bytes;
}

std::vector<uint8_t> coreHeaders(uint32_t width, uint32_t height, uint32_t bits) {
    std::vector<uint8_t> bytes(26, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes, 10, 26);
    put32(bytes, 14, 12);
    put16(bytes, 18, width);
    put16(bytes, 20, height);
    put16(bytes, 22, 1);
    put16(bytes, 24, bits);
    return bytes;
}

struct Case {
    const char* name;
    std::vector<uint8_t> head;
    uint32_t pixelBytes; // bytes of the file after the headers
    bool accepted;
};

TEST(BmpHeadersAcceptable, JudgesSizeAndPixelDataAgainstTheFile) {
    const Case cases[] = {
        // 3 x 2 at 24 bits: rows of 9 bytes padded to 12; the last row's padding may go.
        {"24-bit complete", infoHeaders(3, 2, 24), 24, true},
        {"24-bit without last padding", infoHeaders(3, 2, 24), 21, true},
        {"24-bit last row cut", infoHeaders(3, 2, 24), 20, false},
        {"24-bit no pixels at all", infoHeaders(3, 2, 24), 0, false},
        {"top-down counts its rows too", infoHeaders(3, -2, 24), 20, false},
        {"top-down complete", infoHeaders(3, -2, 24), 21, true},
        {"32-bit bit fields cut", infoHeaders(2, 2, 32, 3), 15, false},
        {"1-bit rows of 8 bytes", infoHeaders(33, 3, 1, 0, 2), 8 * 2 + 5, true},
        {"1-bit cut", infoHeaders(33, 3, 1, 0, 2), 8 * 2 + 4, false},
        {"8-bit palette cut", infoHeaders(4, 4, 8, 0, 256), 15, false},
        {"core header complete", coreHeaders(2, 2, 24), 8 + 6, true},
        {"core header cut", coreHeaders(2, 2, 24), 8 + 5, false},
        // Sizes: 32768 on a side and 256 MiB of 4-byte pixels at most, whatever the coding.
        {"largest side", infoHeaders(32768, 1, 8), 32768, true},
        {"side too long", infoHeaders(32769, 1, 8), 32769, false},
        {"top-down side too long", infoHeaders(1, -32769, 8), 4 * 32769, false},
        {"largest area", infoHeaders(32768, 2048, 8), 32768u * 2048u, true},
        {"area too large", infoHeaders(32768, 2049, 8), 32768u * 2049u, false},
        {"run-length bomb", infoHeaders(30000, 30000, 8, 1, 256), 2, false},
        {"core header side too long", coreHeaders(40000, 1, 24), 120000, false},
        {"huge width", infoHeaders(0x7FFFFFFF, 2, 32), 64, false},
        {"huge top-down height", infoHeaders(1, INT32_MIN, 32), 64, false},
        // Left to the loader: run-length data, odd sizes, other files.
        {"run-length", infoHeaders(100, 100, 8, 1, 256), 2, true},
        {"zero width", infoHeaders(0, 5, 24), 0, true},
        {"not a bitmap", std::vector<uint8_t>(60, 'x'), 0, true},
    };
    for (const Case& c : cases) {
        auto fileSize = static_cast<uint32_t>(c.head.size() + c.pixelBytes);
        EXPECT_EQ(
            bmpHeadersAcceptable(c.head.data(), static_cast<uint32_t>(c.head.size()), fileSize),
            c.accepted)
            << c.name;
    }
}

TEST(BmpHeadersAcceptable, ShortHeadsAreLeftToTheLoader) {
    std::vector<uint8_t> head = infoHeaders(3, 2, 24);
    // Fewer bytes than an info header: nothing can be measured, nothing is refused.
    for (uint32_t size : {0u, 2u, 25u, 53u}) {
        EXPECT_TRUE(bmpHeadersAcceptable(head.data(), size, size)) << size;
    }
}

TEST(BmpFileAcceptable, ReadsTheHeadersFromDisk) {
    std::vector<uint8_t> file = infoHeaders(3, 2, 24);
    const std::string path = testing::TempDir() + "bexu_rows_present.bmp";
    for (auto [pixelBytes, accepted] : {std::pair{24u, true}, std::pair{20u, false}}) {
        std::vector<uint8_t> bytes = file;
        bytes.resize(file.size() + pixelBytes, 0x7F);
        FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
        EXPECT_EQ(bmpFileAcceptable(path.c_str()), accepted) << pixelBytes;
    }
    std::remove(path.c_str());
    // A missing file is the loader's to report.
    EXPECT_TRUE(bmpFileAcceptable(path.c_str()));
}

} // namespace
