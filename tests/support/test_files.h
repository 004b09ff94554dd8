// Files for tests: temporary story folders and BMP/WAV writers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pixels as 0x00RRGGBB, rows top-down.
struct TestImage {
    int32_t width;
    int32_t height;
    std::vector<uint32_t> pixels;
    uint32_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * width + x]; }
};

TestImage solidImage(int32_t width, int32_t height, uint32_t pixel);
// 24-bit bottom-up BMP (the common form).
std::vector<uint8_t> encodeBmp24(const TestImage& image);
// A font sheet of 400 x 198 whose every cell is drawn with a distinct pattern on magenta.
TestImage testFontSheet();
// The colour testFontSheet gives the opaque pixel (x, y) of the cell of byte c, or
// magenta where the cell is transparent.
uint32_t testFontPixel(unsigned char c, int32_t x, int32_t y);
// A 32 x 32 tile with a checker pattern.
TestImage testTile();

// A fresh empty folder below the system's temporary folder; removed by removeFolder.
std::string makeTempFolder();
void removeFolder(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::string readFile(const std::string& path);
// A copy of `program` in `folder` that any user may run: the build folder may be closed to
// other users, and some tests run programs as an unprivileged user.
std::string copyForAnyUser(const std::string& program, const std::string& folder);

// A story folder with the given script and the test font and tile.
std::string makeStoryFolder(const std::string& script);
