#include "picture_encode.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <png.h>

RgbaPicture blankPicture(int32_t width, int32_t height) {
    return RgbaPicture{width, height, std::vector<uint8_t>(size_t(width) * height * 4, 255)};
}

std::string pngBytes(const RgbaPicture& picture) {
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, picture.bytes.data(), 0, nullptr)) {
        return "";
    }
    std::string out(size, '\0');
    if (!png_image_write_to_memory(&image, &out[0], &size, 0, picture.bytes.data(), 0, nullptr)) {
        return "";
    }
    out.resize(size);
    return out;
}

std::string jpegBytes(const RgbaPicture& picture, int quality) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors); // a helper's own pictures: any error ends the run
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(picture.width);
    info.image_height = static_cast<JDIMENSION>(picture.height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto row = const_cast<JSAMPROW>(picture.bytes.data() +
                                        size_t(info.next_scanline) * picture.width * 4);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    free(buffer);
    return out;
}
