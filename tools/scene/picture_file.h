// A picture file read whole and decoded by the libraries Debian keeps (libpng,
// libjpeg-turbo) or, for BMP, by the player's own decoder; its transparency is
// flattened over a background colour.
#pragma once

#include "platform/bitmap_limits.h"
#include "platform/soft/soft_surface.h"
#include "scene/scene_layout.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The largest picture taken: what one bitmap of the player's may hold.
constexpr int64_t kLargestPictureSide = kBitmapMaxSide;
constexpr int64_t kLargestPicturePixels = kBitmapMaxPixelBytes / 4;

struct Picture {
    // The picture as the file has it.
    int32_t fileWidth = 0;
    int32_t fileHeight = 0;
    const char* format = "";  // "PNG", "JPEG" or "BMP"
    bool transparent = false; // some pixel was not opaque
    // As decoded: a JPEG much larger than the scene is decoded at a fraction of its
    // size (1/2, 3/8 ...), never below what the scene needs.
    int32_t width = 0;
    int32_t height = 0;
    uint32_t* pixels = nullptr; // 0x00RRGGBB, rows top-down
};

// The size the file's header gives, and its format; false when it is no picture this
// reads or its header is damaged.
bool pictureSize(const uint8_t* bytes, size_t size, int32_t* width, int32_t* height,
                 const char** format);

// Decodes bytes held in memory for a scene made by `fit`: a JPEG at the smallest of its
// fractions the scene still needs, the others whole. `name` is how messages call the
// file. False when the bytes are no picture this reads, are damaged or cut short, or
// hold more than kLargestPicturePixels; `error` then says why.
bool decodePicture(const uint8_t* bytes, size_t size, const std::string& name, SceneFit fit,
                   uint32_t background, Picture* picture, std::string* error);

// Reads `path` whole and decodes it as decodePicture does.
bool readPicture(const std::string& path, SceneFit fit, uint32_t background, Picture* picture,
                 std::string* error);

void releasePicture(Picture* picture);

// A bitmap that lends the picture's pixels, for the player's stretch to read.
PlatformBitmap pictureView(const Picture& picture);
