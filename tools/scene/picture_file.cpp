#include "scene/picture_file.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

namespace {

// A file far larger than the largest picture could be is not read into memory.
constexpr int64_t kLargestFile = int64_t{1} << 30;
// Large pixel blocks go in huge pages where the system lends them: a 12-megapixel
// picture otherwise spends about as long faulting in fresh pages as decoding.
constexpr size_t kHugePage = size_t{2} << 20;

uint32_t* allocatePixels(int32_t width, int32_t height) {
    size_t size = size_t(width) * size_t(height) * 4;
    if (size < kHugePage) {
        return static_cast<uint32_t*>(malloc(size));
    }
    size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* block = aligned_alloc(kHugePage, rounded);
    if (block != nullptr) {
        madvise(block, rounded, MADV_HUGEPAGE);
    }
    return static_cast<uint32_t*>(block);
}

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

// ---- JPEG: libjpeg-turbo, its errors and warnings caught -------------------------

struct JpegErrors {
    jpeg_error_mgr manager; // first, so the library's pointer is this record's
    jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegFailed(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    info->err->format_message(info, errors->message);
    longjmp(errors->escape, 1);
}

// A warning is a damaged or cut-short file, whose missing parts the library paints
// grey: the first one is kept, and the file refused.
void jpegMessage(j_common_ptr info, int level) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    if (level < 0 && errors->message[0] == '\0') {
        info->err->format_message(info, errors->message);
    }
}

// Plain data only between setjmp and the calls that may leave through longjmp.
struct JpegJob {
    const uint8_t* bytes;
    size_t size;
    bool headerOnly;
    SceneFit fit;
    int32_t fileWidth, fileHeight;
    int32_t width, height;
    uint32_t* pixels;
};

bool runJpeg(JpegJob* job, JpegErrors* errors) {
    jpeg_decompress_struct info;
    info.err = jpeg_std_error(&errors->manager);
    errors->manager.error_exit = jpegFailed;
    errors->manager.emit_message = jpegMessage;
    errors->message[0] = '\0';
    if (setjmp(errors->escape) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, job->bytes, static_cast<unsigned long>(job->size));
    jpeg_read_header(&info, TRUE);
    job->fileWidth = static_cast<int32_t>(info.image_width);
    job->fileHeight = static_cast<int32_t>(info.image_height);
    if (job->headerOnly || !bitmapSizeAllowed(job->fileWidth, job->fileHeight)) {
        jpeg_destroy_decompress(&info);
        return true;
    }
    // The smallest eighth the scene still needs, so that the stretch only shrinks.
    double needed = sceneScale(job->fileWidth, job->fileHeight, job->fit);
    info.scale_num = static_cast<unsigned int>(needed >= 1.0 ? 8 : int(needed * 8.0) + 1);
    info.scale_denom = 8;
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    job->width = static_cast<int32_t>(info.output_width);
    job->height = static_cast<int32_t>(info.output_height);
    job->pixels = allocatePixels(job->width, job->height);
    if (job->pixels == nullptr) {
        snprintf(errors->message, sizeof errors->message, "not enough memory");
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(job->pixels + size_t(info.output_scanline) *
                                                                    size_t(job->width));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return errors->message[0] == '\0';
}

// ---- PNG: libpng's simplified reading ----------------------------------------------

bool pngHeader(const uint8_t* bytes, size_t size, png_image* image) {
    memset(image, 0, sizeof *image);
    image->version = PNG_IMAGE_VERSION;
    return png_image_begin_read_from_memory(image, bytes, size) != 0;
}

} // namespace

bool pictureSize(const uint8_t* bytes, size_t size, int32_t* width, int32_t* height,
                 const char** format) {
    *format = formatOf(bytes, size);
    if (*format == nullptr) {
        return false;
    }
    if (strcmp(*format, "PNG") == 0) {
        png_image image;
        bool read = pngHeader(bytes, size, &image);
        png_image_free(&image);
        *width = static_cast<int32_t>(std::min<png_uint_32>(image.width, INT32_MAX));
        *height = static_cast<int32_t>(std::min<png_uint_32>(image.height, INT32_MAX));
        return read;
    }
    if (strcmp(*format, "JPEG") == 0) {
        JpegJob job = {bytes, size, true, SceneFit::Fill, 0, 0, 0, 0, nullptr};
        JpegErrors errors;
        bool read = runJpeg(&job, &errors);
        *width = job.fileWidth;
        *height = job.fileHeight;
        return read;
    }
    PlatformBitmap* bitmap = softDecodeBmp(bytes, size);
    if (bitmap == nullptr) {
        return false;
    }
    *width = bitmap->width;
    *height = bitmap->height;
    platformDeleteBitmap(bitmap);
    return true;
}

namespace {

std::string refusedSize(const std::string& name, int64_t width, int64_t height) {
    return name + " is " + std::to_string(width) + " x " + std::to_string(height) + " (" +
           megapixels(width * height) + " megapixels); bexu-scene takes pictures of up to " +
           megapixels(kLargestPicturePixels) + " megapixels and " +
           std::to_string(kLargestPictureSide) + " pixels on a side: make it smaller first";
}

std::string damaged(const std::string& name, const char* format, const char* why) {
    return name + " does not decode as a " + format + " file (" + why +
           "): it is damaged or cut short";
}

// libpng's BGRA pixels (0xAARRGGBB) laid over the background as far as they are
// transparent; true when some pixel was.
bool flatten(uint32_t* pixels, size_t count, uint32_t background) {
    bool transparent = false;
    for (size_t i = 0; i < count; ++i) {
        uint32_t pixel = pixels[i];
        uint32_t alpha = pixel >> 24;
        if (alpha == 255) {
            pixels[i] = pixel & 0xFFFFFF;
            continue;
        }
        transparent = true;
        uint32_t mixed = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            uint32_t value = (pixel >> shift) & 0xFF;
            uint32_t back = (background >> shift) & 0xFF;
            mixed |= ((value * alpha + back * (255 - alpha) + 127) / 255) << shift;
        }
        pixels[i] = mixed;
    }
    return transparent;
}

bool decodePng(const uint8_t* bytes, size_t size, const std::string& name, uint32_t background,
               Picture* picture, std::string* error) {
    png_image image;
    if (!pngHeader(bytes, size, &image)) {
        *error = damaged(name, "PNG", image.message);
        png_image_free(&image);
        return false;
    }
    if (!bitmapSizeAllowed(image.width, image.height)) {
        *error = refusedSize(name, image.width, image.height);
        png_image_free(&image);
        return false;
    }
    picture->width = picture->fileWidth = static_cast<int32_t>(image.width);
    picture->height = picture->fileHeight = static_cast<int32_t>(image.height);
    picture->pixels = allocatePixels(picture->width, picture->height);
    image.format = PNG_FORMAT_BGRA;
    if (picture->pixels == nullptr ||
        !png_image_finish_read(&image, nullptr, picture->pixels, 0, nullptr)) {
        *error = picture->pixels == nullptr ? "not enough memory to decode " + name
                                            : damaged(name, "PNG", image.message);
        png_image_free(&image);
        return false;
    }
    picture->transparent =
        flatten(picture->pixels, size_t(picture->width) * size_t(picture->height), background);
    return true;
}

bool decodeJpeg(const uint8_t* bytes, size_t size, const std::string& name, SceneFit fit,
                Picture* picture, std::string* error) {
    JpegJob job = {bytes, size, false, fit, 0, 0, 0, 0, nullptr};
    JpegErrors errors;
    bool decoded = runJpeg(&job, &errors);
    picture->fileWidth = job.fileWidth;
    picture->fileHeight = job.fileHeight;
    picture->pixels = job.pixels;
    if (decoded && job.pixels == nullptr) {
        *error = refusedSize(name, job.fileWidth, job.fileHeight);
        return false;
    }
    if (!decoded) {
        *error = damaged(name, "JPEG", errors.message);
        return false;
    }
    picture->width = job.width;
    picture->height = job.height;
    size_t count = size_t(job.width) * size_t(job.height);
    for (size_t i = 0; i < count; ++i) {
        picture->pixels[i] &= 0xFFFFFF; // the fourth byte is the library's to fill
    }
    return true;
}

// The player's own decoder: a BMP comes out as the player would show it.
bool decodeBmp(const uint8_t* bytes, size_t size, const std::string& name, Picture* picture,
               std::string* error) {
    PlatformBitmap* bitmap = softDecodeBmp(bytes, size);
    if (bitmap == nullptr) {
        *error = name + " does not load as a BMP file as the player reads it (" +
                 loadFailureText(platformLoadFailure()) + ")";
        return false;
    }
    picture->width = picture->fileWidth = bitmap->width;
    picture->height = picture->fileHeight = bitmap->height;
    picture->pixels = allocatePixels(bitmap->width, bitmap->height);
    if (picture->pixels != nullptr) {
        memcpy(picture->pixels, bitmap->pixels, size_t(bitmap->width) * bitmap->height * 4);
    }
    platformDeleteBitmap(bitmap);
    if (picture->pixels == nullptr) {
        *error = "not enough memory to decode " + name;
        return false;
    }
    return true;
}

} // namespace

bool decodePicture(const uint8_t* bytes, size_t size, const std::string& name, SceneFit fit,
                   uint32_t background, Picture* picture, std::string* error) {
    *picture = Picture{};
    const char* format = formatOf(bytes, size);
    if (format == nullptr) {
        *error = name + " is not a picture bexu-scene reads: it takes PNG, JPEG and BMP files";
        return false;
    }
    picture->format = format;
    bool decoded =
        strcmp(format, "PNG") == 0    ? decodePng(bytes, size, name, background, picture, error)
        : strcmp(format, "JPEG") == 0 ? decodeJpeg(bytes, size, name, fit, picture, error)
                                      : decodeBmp(bytes, size, name, picture, error);
    if (!decoded) {
        releasePicture(picture);
    }
    return decoded;
}

bool readPicture(const std::string& path, SceneFit fit, uint32_t background, Picture* picture,
                 std::string* error) {
    *picture = Picture{};
    FILE* file = fopen(path.c_str(), "rb");
    struct stat info;
    if (file == nullptr || fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = path + " cannot be read" +
                 (file == nullptr ? ": " + std::string(strerror(errno)) : ": it is not a file");
        if (file != nullptr) {
            fclose(file);
        }
        return false;
    }
    if (info.st_size > kLargestFile) {
        fclose(file);
        *error = path + " is " + std::to_string(info.st_size >> 20) +
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
    return decodePicture(bytes.data(), bytes.size(), path, fit, background, picture, error);
}

void releasePicture(Picture* picture) {
    free(picture->pixels);
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
