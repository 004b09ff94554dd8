// A picture file (PNG, JPEG or BMP) read whole and decoded by stb_image, its
// transparency flattened over a background colour.
#pragma once

#include "platform/soft/soft_surface.h"

#include <cstdint>
#include <string>

// The largest picture taken: what one bitmap of the player's may hold.
constexpr int64_t kLargestPictureSide = kSoftMaxSide;
constexpr int64_t kLargestPicturePixels = kSoftMaxPixelBytes / 4;

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t* pixels = nullptr; // 0x00RRGGBB, rows top-down; stb_image's memory
    const char* format = "";    // "PNG", "JPEG" or "BMP"
    bool transparent = false;   // some pixel was not opaque
};

// Reads and decodes `path`. False when the file cannot be read, is no picture this
// reads, is damaged or cut short, or is larger than kLargestPicturePixels; `error`
// then says why, in words that name the file.
bool readPicture(const std::string& path, uint32_t background, Picture* picture,
                 std::string* error);

// The decoding of bytes held in memory; `name` is how messages call them.
bool decodePicture(const uint8_t* bytes, size_t size, const std::string& name, uint32_t background,
                   Picture* picture, std::string* error);

void releasePicture(Picture* picture);

// A bitmap that lends the picture's pixels, for the player's stretch to read.
PlatformBitmap pictureView(const Picture& picture);
