#include "png_reference.h"

#include <png.h>

#include <cstring>

bool readPng(const std::string& path, ReferenceImage* image) {
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        return false;
    }
    image->width = static_cast<int32_t>(png.width);
    image->height = static_cast<int32_t>(png.height);
    size_t count = static_cast<size_t>(png.width) * png.height;
    image->pixels.assign(count, 0);
    if ((png.format & PNG_FORMAT_FLAG_LINEAR) == 0) {
        png.format = PNG_FORMAT_BGRA; // little-endian words read as 0xAARRGGBB
        bool read = png_image_finish_read(&png, nullptr, image->pixels.data(), 0, nullptr);
        png_image_free(&png);
        return read;
    }
    // 16-bit samples: read them unconverted (reading to 8 bits would apply a gamma
    // curve) and narrow them as round(v * 255 / 65535). Only opaque pixels keep
    // their colours exact, since this format premultiplies alpha.
    png.format = PNG_FORMAT_LINEAR_RGB_ALPHA;
    std::vector<uint16_t> samples(count * 4);
    bool read = png_image_finish_read(&png, nullptr, samples.data(), 0, nullptr);
    png_image_free(&png);
    for (size_t i = 0; read && i < count; ++i) {
        uint32_t pixel = 0;
        for (int c = 0; c < 4; ++c) {
            uint32_t narrow = (samples[i * 4 + c] * 255u + 32767u) / 65535u;
            pixel |= narrow << (c == 3 ? 24 : 16 - 8 * c);
        }
        image->pixels[i] = pixel;
    }
    return read;
}
