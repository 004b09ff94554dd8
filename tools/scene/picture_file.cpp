#include "scene/picture_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <vector>

namespace {

// stb_image's large blocks (the decoded picture, a JPEG's planes) in huge pages where the
// system lends them: a 12-megapixel photo otherwise spends as long faulting in fresh
// pages as decoding.
constexpr size_t kHugePage = size_t{2} << 20;

void* pictureAllocate(size_t size) {
    if (size < kHugePage) {
        return malloc(size);
    }
    size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* block = aligned_alloc(kHugePage, rounded);
    if (block != nullptr) {
        madvise(block, rounded, MADV_HUGEPAGE);
    }
    return block;
}

} // namespace

// Only the formats authors bring; stb_image's own limit is kept at the player's.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS kLargestPictureSide
#define STBI_MALLOC(size) pictureAllocate(size)
#define STBI_REALLOC(block, size) realloc(block, size)
#define STBI_FREE(block) free(block)
#include <stb/stb_image.h>

namespace {

// A file far larger than the largest picture could be is not read into memory.
constexpr int64_t kLargestFile = int64_t{1} << 30;

const char* formatOf(const uint8_t* bytes, size_t size) {
    if (size >= 8 && memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0) {
        return "PNG";
    }
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
        return "JPEG";
    }
    if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        return "BMP";
    }
    return nullptr;
}

std::string megapixels(int64_t pixels) {
    char text[32];
    snprintf(text, sizeof text, "%.1f", static_cast<double>(pixels) / 1e6);
    return text;
}

// stb_image's pixels (red, green, blue, alpha bytes) turned in place into the player's
// (0x00RRGGBB), each laid over the background as far as it is transparent.
bool flatten(uint8_t* bytes, size_t count, uint32_t background) {
    uint32_t backRed = (background >> 16) & 0xFF;
    uint32_t backGreen = (background >> 8) & 0xFF;
    uint32_t backBlue = background & 0xFF;
    auto over = [](uint32_t value, uint32_t back, uint32_t alpha) {
        return (value * alpha + back * (255 - alpha) + 127) / 255;
    };
    bool transparent = false;
    auto* pixels = reinterpret_cast<uint32_t*>(bytes);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = bytes + i * 4;
        uint32_t red = p[0], green = p[1], blue = p[2], alpha = p[3];
        if (alpha != 255) {
            transparent = true;
            red = over(red, backRed, alpha);
            green = over(green, backGreen, alpha);
            blue = over(blue, backBlue, alpha);
        }
        pixels[i] = red << 16 | green << 8 | blue;
    }
    return transparent;
}

} // namespace

bool decodePicture(const uint8_t* bytes, size_t size, const std::string& name, uint32_t background,
                   Picture* picture, std::string* error) {
    *picture = Picture{};
    const char* format = formatOf(bytes, size);
    if (format == nullptr) {
        *error = name + " is not a picture bexu-scene reads: it takes PNG, JPEG and BMP files";
        return false;
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    if (size > INT32_MAX ||
        !stbi_info_from_memory(bytes, static_cast<int>(size), &width, &height, &channels)) {
        *error = name + " does not read as a " + format + " file (" + stbi_failure_reason() +
                 "): it is damaged or cut short";
        return false;
    }
    int64_t pixels = int64_t{width} * height;
    if (width > kLargestPictureSide || height > kLargestPictureSide ||
        pixels > kLargestPicturePixels) {
        *error = name + " is " + std::to_string(width) + " x " + std::to_string(height) + " (" +
                 megapixels(pixels) + " megapixels); bexu-scene takes pictures of up to " +
                 megapixels(kLargestPicturePixels) + " megapixels and " +
                 std::to_string(kLargestPictureSide) + " pixels on a side: make it smaller first";
        return false;
    }
    uint8_t* decoded =
        stbi_load_from_memory(bytes, static_cast<int>(size), &width, &height, &channels, 4);
    if (decoded == nullptr) {
        *error = name + " does not decode as a " + format + " file (" + stbi_failure_reason() +
                 "): it is damaged or cut short";
        return false;
    }
    picture->width = width;
    picture->height = height;
    picture->format = format;
    picture->transparent = flatten(decoded, size_t(width) * size_t(height), background);
    picture->pixels = reinterpret_cast<uint32_t*>(decoded);
    return true;
}

bool readPicture(const std::string& path, uint32_t background, Picture* picture,
                 std::string* error) {
    *picture = Picture{};
    FILE* file = fopen(path.c_str(), "rb");
    struct stat info;
    if (file == nullptr || fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        *error =
            path + " cannot be read" +
            (file == nullptr ? ": " + std::string(strerror(errno)) : ": it is not a plain file");
        if (file != nullptr) {
            fclose(file);
        }
        return false;
    }
    if (info.st_size > kLargestFile) {
        fclose(file);
        *error = path + " is " + std::to_string(info.st_size / (1 << 20)) +
                 " MiB, larger than any picture bexu-scene takes";
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    bool read = fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    fclose(file);
    if (!read) {
        *error = path + " cannot be read";
        return false;
    }
    return decodePicture(bytes.data(), bytes.size(), path, background, picture, error);
}

void releasePicture(Picture* picture) {
    stbi_image_free(picture->pixels);
    *picture = Picture{};
}

PlatformBitmap pictureView(const Picture& picture) {
    PlatformBitmap view = {};
    view.width = picture.width;
    view.height = picture.height;
    view.pixels = picture.pixels;
    view.lent = true;
    return view;
}
