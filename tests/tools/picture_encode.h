// PNG and JPEG files made in memory with libpng and libjpeg-turbo, for the pictures the
// bexu-scene tests and benchmark feed it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// 4 bytes a pixel (red, green, blue, alpha), rows top-down.
struct RgbaPicture {
    int32_t width, height;
    std::vector<uint8_t> bytes;
    void set(int32_t x, int32_t y, uint32_t rgb, uint8_t alpha = 255) {
        uint8_t* p = &bytes[(size_t(y) * width + x) * 4];
        p[0] = uint8_t(rgb >> 16);
        p[1] = uint8_t(rgb >> 8);
        p[2] = uint8_t(rgb);
        p[3] = alpha;
    }
};

// An opaque white picture.
RgbaPicture blankPicture(int32_t width, int32_t height);
std::string pngBytes(const RgbaPicture& picture);
// Baseline JPEG at `quality` (1 to 100); the alpha is left out.
std::string jpegBytes(const RgbaPicture& picture, int quality);
