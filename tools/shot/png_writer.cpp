// PNG: signature, IHDR, one IDAT holding the zlib stream of the filtered rows, IEND.
#include "shot/png_writer.h"

#include <zlib.h>

#include <cstdio>
#include <vector>

namespace {

void put32(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value >> 24));
    out->push_back(static_cast<uint8_t>(value >> 16));
    out->push_back(static_cast<uint8_t>(value >> 8));
    out->push_back(static_cast<uint8_t>(value));
}

// Length, type, data, and the CRC over type and data.
void putChunk(std::vector<uint8_t>* out, const char* type, const uint8_t* data, size_t size) {
    put32(out, static_cast<uint32_t>(size));
    size_t typeAt = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data, data + size);
    uLong crc = crc32(0L, out->data() + typeAt, static_cast<uInt>(size + 4));
    put32(out, static_cast<uint32_t>(crc));
}

// Each row filtered with "Up" (the byte above subtracted): the canvas's flat areas
// and repeated rows then compress to almost nothing.
std::vector<uint8_t> filteredRows(int32_t width, int32_t height, const uint32_t* pixels) {
    size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> rows((rowBytes + 1) * static_cast<size_t>(height));
    std::vector<uint8_t> above(rowBytes, 0);
    std::vector<uint8_t> current(rowBytes);
    for (int32_t y = 0; y < height; ++y) {
        const uint32_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int32_t x = 0; x < width; ++x) {
            current[x * 3 + 0] = static_cast<uint8_t>(row[x] >> 16);
            current[x * 3 + 1] = static_cast<uint8_t>(row[x] >> 8);
            current[x * 3 + 2] = static_cast<uint8_t>(row[x]);
        }
        uint8_t* out = &rows[(rowBytes + 1) * static_cast<size_t>(y)];
        out[0] = 2; // Up
        for (size_t i = 0; i < rowBytes; ++i) {
            out[i + 1] = static_cast<uint8_t>(current[i] - above[i]);
        }
        above.swap(current);
    }
    return rows;
}

} // namespace

bool writePng(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels) {
    if (width <= 0 || height <= 0 || pixels == nullptr) {
        return false;
    }
    std::vector<uint8_t> rows = filteredRows(width, height, pixels);
    uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()), 6) !=
        Z_OK) {
        return false;
    }
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put32(&header, static_cast<uint32_t>(width));
    put32(&header, static_cast<uint32_t>(height));
    header.insert(header.end(),
                  {8, 2, 0, 0, 0}); // 8-bit RGB, deflate, adaptive filters, no interlace
    putChunk(&file, "IHDR", header.data(), header.size());
    putChunk(&file, "IDAT", packed.data(), packedSize);
    putChunk(&file, "IEND", nullptr, 0);

    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool written = fwrite(file.data(), 1, file.size(), out) == file.size();
    return fclose(out) == 0 && written;
}
