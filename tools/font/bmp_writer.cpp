#include "font/bmp_writer.h"

#include <cstdio>
#include <vector>

namespace {} // namespace

void putLittle(std::vector<uint8_t>* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out->push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

namespace {

std::vector<uint8_t> encode(int32_t width, int32_t height, const uint32_t* pixels) {
    uint32_t rowBytes = (uint32_t(width) * 3 + 3) & ~3u;
    uint32_t dataBytes = rowBytes * uint32_t(height);
    std::vector<uint8_t> out;
    out.reserve(54 + dataBytes);
    out.push_back('B');
    out.push_back('M');
    putLittle(&out, 54 + dataBytes, 4);
    putLittle(&out, 0, 4);
    putLittle(&out, 54, 4);
    putLittle(&out, 40, 4); // BITMAPINFOHEADER
    putLittle(&out, uint32_t(width), 4);
    putLittle(&out, uint32_t(height), 4);
    putLittle(&out, 1, 2);
    putLittle(&out, 24, 2);
    putLittle(&out, 0, 4); // no compression
    putLittle(&out, dataBytes, 4);
    putLittle(&out, 2835, 4); // 72 dpi
    putLittle(&out, 2835, 4);
    putLittle(&out, 0, 4);
    putLittle(&out, 0, 4);
    for (int32_t y = height - 1; y >= 0; --y) {
        const uint32_t* row = pixels + size_t(y) * width;
        for (int32_t x = 0; x < width; ++x) {
            putLittle(&out, row[x], 3); // blue, green, red
        }
        for (uint32_t pad = uint32_t(width) * 3; pad < rowBytes; ++pad) {
            out.push_back(0);
        }
    }
    return out;
}

} // namespace

bool writeBmp24(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels) {
    return writeFileAtomically(path, encode(width, height, pixels));
}

bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temporary = path + ".part";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = fclose(file) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        remove(temporary.c_str());
        return false;
    }
    return true;
}
