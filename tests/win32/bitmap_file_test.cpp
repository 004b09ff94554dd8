// Which BMP files the Windows backend refuses before the system loader sees them, by the
// header check of every build: cut-off pixel rows, sizes beyond what the other backends
// make, and whatever else their decoder refuses, each for the same reason.
#include "platform/bmp_headers.h"
#include "platform/win32/bitmap_file.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// File and info headers of a BMP with pixel data right after a palette of `colors` entries,
// or after the three masks of bit fields.
std::vector<uint8_t> infoHeaders(int32_t width, int32_t height, uint32_t bits,
                                 uint32_t compression = 0, uint32_t colors = 0) {
    uint32_t masks = compression == 3 ? 12 : 0;
    std::vector<uint8_t> bytes(54 + colors * 4 + masks, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes, 10, 54 + colors * 4 + masks);
    put32(bytes, 14, 40);
    put32(bytes, 18, static_cast<uint32_t>(width));
    put32(bytes, 22, static_cast<uint32_t>(height));
    put16(bytes, 26, 1);
    put16(bytes, 28, bits);
    put32(bytes, 30, compression);
    if (masks != 0) {
        put32(bytes, 54, 0xFF0000);
        put32(bytes, 58, 0xFF00);
        put32(bytes, 62, 0xFF);
    }
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
    LoadFailure reason;
};

// The headers and as much of the pixel bytes as the check may read, with the file's size.
LoadFailure check(const std::vector<uint8_t>& head, uint32_t pixelBytes) {
    std::vector<uint8_t> bytes = head;
    bytes.resize(head.size() + std::min(pixelBytes, kBmpHeadBytes), 0x7F);
    BmpLayout layout;
    return readBmpHeaders(bytes.data(), bytes.size(), head.size() + uint64_t{pixelBytes}, &layout);
}

TEST(BmpHeaders, JudgeSizeAndPixelDataAgainstTheFile) {
    using F = LoadFailure;
    const Case cases[] = {
        // 3 x 2 at 24 bits: rows of 9 bytes padded to 12; the last row's padding may go.
        {"24-bit complete", infoHeaders(3, 2, 24), 24, F::None},
        {"24-bit without last padding", infoHeaders(3, 2, 24), 21, F::None},
        {"24-bit last row cut", infoHeaders(3, 2, 24), 20, F::Truncated},
        {"24-bit no pixels at all", infoHeaders(3, 2, 24), 0, F::Truncated},
        {"top-down counts its rows too", infoHeaders(3, -2, 24), 20, F::Truncated},
        {"top-down complete", infoHeaders(3, -2, 24), 21, F::None},
        {"32-bit bit fields cut", infoHeaders(2, 2, 32, 3), 15, F::Truncated},
        {"1-bit rows of 8 bytes", infoHeaders(33, 3, 1, 0, 2), 8 * 2 + 5, F::None},
        {"1-bit cut", infoHeaders(33, 3, 1, 0, 2), 8 * 2 + 4, F::Truncated},
        {"8-bit rows after a palette cut", infoHeaders(4, 4, 8, 0, 256), 15, F::Truncated},
        {"core header complete", coreHeaders(2, 2, 24), 8 + 6, F::None},
        {"core header cut", coreHeaders(2, 2, 24), 8 + 5, F::Truncated},
        // Sizes: 32768 on a side and 256 MiB of 4-byte pixels at most, whatever the coding.
        {"largest side", infoHeaders(32768, 1, 8), 32768, F::None},
        {"side too long", infoHeaders(32769, 1, 8), 32769, F::TooLarge},
        {"top-down side too long", infoHeaders(1, -32769, 8), 4 * 32769, F::TooLarge},
        {"largest area", infoHeaders(32768, 2048, 8), 32768u * 2048u, F::None},
        {"area too large", infoHeaders(32768, 2049, 8), 32768u * 2049u, F::TooLarge},
        {"run-length bomb", infoHeaders(30000, 30000, 8, 1, 256), 2, F::TooLarge},
        {"core header side too long", coreHeaders(40000, 1, 24), 120000, F::TooLarge},
        {"huge width", infoHeaders(0x7FFFFFFF, 2, 32), 64, F::TooLarge},
        {"huge top-down height", infoHeaders(1, INT32_MIN, 32), 64, F::TooLarge},
        // Run-length codes carry their own lengths.
        {"run-length", infoHeaders(100, 100, 8, 1, 256), 2, F::None},
        // What the system's loader was once left to judge, now refused as every build does.
        {"zero width", infoHeaders(0, 5, 24), 0, F::NotBmp},
        {"not a bitmap", std::vector<uint8_t>(60, 'x'), 0, F::NotBmp},
        {"three bits a pixel", infoHeaders(4, 4, 3), 16, F::NotBmp},
        {"jpeg inside", infoHeaders(4, 4, 24, 4), 48, F::UnsupportedCompression},
        {"run-length top-down", infoHeaders(4, -4, 8, 1, 256), 2, F::UnsupportedCompression},
    };
    for (const Case& c : cases) {
        LoadFailure reason = check(c.head, c.pixelBytes);
        EXPECT_EQ(reason, c.reason) << c.name << ": " << loadFailureText(reason);
    }
}

TEST(BmpHeaders, ShortHeadsAreRefused) {
    std::vector<uint8_t> head = infoHeaders(3, 2, 24);
    using F = LoadFailure;
    for (auto [size, reason] : {std::pair{0u, F::NotBmp}, std::pair{2u, F::Truncated},
                                std::pair{25u, F::Truncated}, std::pair{53u, F::Truncated}}) {
        BmpLayout layout;
        EXPECT_EQ(readBmpHeaders(head.data(), size, size, &layout), reason) << size;
    }
}

TEST(BmpFileFailure, ReadsTheHeadersFromDisk) {
    std::vector<uint8_t> file = infoHeaders(3, 2, 24);
    const std::string path = testing::TempDir() + "bexu_rows_present.bmp";
    for (auto [pixelBytes, reason] :
         {std::pair{24u, LoadFailure::None}, std::pair{20u, LoadFailure::Truncated}}) {
        std::vector<uint8_t> bytes = file;
        bytes.resize(file.size() + pixelBytes, 0x7F);
        FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
        EXPECT_EQ(bmpFileFailure(path.c_str()), reason) << pixelBytes;
    }
    std::remove(path.c_str());
    EXPECT_EQ(bmpFileFailure(path.c_str()), LoadFailure::Missing);
}

} // namespace
