// PNG: signature, IHDR, one IDAT holding the zlib stream of the filtered rows, IEND.
#include "shot/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// The filter of each row: "Up" (the byte above subtracted) when fast, which makes the
// canvas's flat areas and repeated rows almost nothing; when smallest, whichever of the
// five gives the least sum of the bytes taken as signed, as libpng chooses.
uint8_t paeth(uint8_t left, uint8_t up, uint8_t upLeft) {
    int estimate = left + up - upLeft;
    int toLeft = abs(estimate - left);
    int toUp = abs(estimate - up);
    int toUpLeft = abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) {
        return left;
    }
    return toUp <= toUpLeft ? up : upLeft;
}

void filterRow(uint8_t kind, const uint8_t* row, const uint8_t* above, size_t bytes, size_t step,
               uint8_t* out) {
    out[0] = kind;
    for (size_t i = 0; i < bytes; ++i) {
        uint8_t left = i >= step ? row[i - step] : 0;
        uint8_t upLeft = i >= step ? above[i - step] : 0;
        uint8_t predicted = 0;
        switch (kind) {
        case 1:
            predicted = left;
            break;
        case 2:
            predicted = above[i];
            break;
        case 3:
            predicted = static_cast<uint8_t>((left + above[i]) / 2);
            break;
        case 4:
            predicted = paeth(left, above[i], upLeft);
            break;
        default:
            break;
        }
        out[i + 1] = static_cast<uint8_t>(row[i] - predicted);
    }
}

uint64_t signedSum(const uint8_t* filtered, size_t bytes) {
    uint64_t sum = 0;
    for (size_t i = 1; i <= bytes; ++i) {
        sum += static_cast<uint64_t>(abs(static_cast<int8_t>(filtered[i])));
    }
    return sum;
}

// The image's rows as PNG bytes: 3 a pixel, or 1 (an index) with a palette.
struct RawImage {
    std::vector<uint8_t> bytes;
    size_t rowBytes;
    size_t step; // bytes of a pixel
    std::vector<uint32_t> palette;
};

bool paletteOf(int32_t width, int32_t height, const uint32_t* pixels, RawImage* image) {
    std::vector<uint32_t> colours;
    size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    uint32_t last = UINT32_MAX;
    for (size_t i = 0; i < count; ++i) {
        uint32_t colour = pixels[i] & 0xFFFFFF;
        if (colour == last) {
            continue; // runs of one colour are the rule in pictures of few colours
        }
        last = colour;
        if (std::find(colours.begin(), colours.end(), colour) == colours.end()) {
            if (colours.size() == 256) {
                return false;
            }
            colours.push_back(colour);
        }
    }
    std::sort(colours.begin(), colours.end());
    image->palette = colours;
    image->rowBytes = static_cast<size_t>(width);
    image->step = 1;
    image->bytes.resize(count);
    for (size_t i = 0; i < count; ++i) {
        auto found = std::lower_bound(colours.begin(), colours.end(), pixels[i] & 0xFFFFFF);
        image->bytes[i] = static_cast<uint8_t>(found - colours.begin());
    }
    return true;
}

void rgbOf(int32_t width, int32_t height, const uint32_t* pixels, RawImage* image) {
    size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    image->rowBytes = static_cast<size_t>(width) * 3;
    image->step = 3;
    image->bytes.resize(count * 3);
    for (size_t i = 0; i < count; ++i) {
        image->bytes[i * 3 + 0] = static_cast<uint8_t>(pixels[i] >> 16);
        image->bytes[i * 3 + 1] = static_cast<uint8_t>(pixels[i] >> 8);
        image->bytes[i * 3 + 2] = static_cast<uint8_t>(pixels[i]);
    }
}

std::vector<uint8_t> filteredRows(const RawImage& image, int32_t height, PngEffort effort) {
    size_t rowBytes = image.rowBytes;
    std::vector<uint8_t> rows((rowBytes + 1) * static_cast<size_t>(height));
    std::vector<uint8_t> zeros(rowBytes, 0);
    std::vector<uint8_t> trial(rowBytes + 1);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = image.bytes.data() + rowBytes * static_cast<size_t>(y);
        const uint8_t* above = y == 0 ? zeros.data() : row - rowBytes;
        uint8_t* out = &rows[(rowBytes + 1) * static_cast<size_t>(y)];
        // A palette's indices are no quantities to predict: rows as they are.
        uint8_t kind = !image.palette.empty() ? 0 : 2;
        if (effort == PngEffort::Smallest && image.palette.empty()) {
            uint64_t least = UINT64_MAX;
            for (uint8_t candidate = 0; candidate <= 4; ++candidate) {
                filterRow(candidate, row, above, rowBytes, image.step, trial.data());
                uint64_t sum = signedSum(trial.data(), rowBytes);
                if (sum < least) {
                    least = sum;
                    kind = candidate;
                }
            }
        }
        filterRow(kind, row, above, rowBytes, image.step, out);
    }
    return rows;
}

bool deflated(const std::vector<uint8_t>& rows, PngEffort effort, std::vector<uint8_t>* packed) {
    z_stream stream = {};
    bool smallest = effort == PngEffort::Smallest;
    if (deflateInit2(&stream, smallest ? 9 : 6, Z_DEFLATED, 15, smallest ? 9 : 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    packed->resize(deflateBound(&stream, static_cast<uLong>(rows.size())));
    stream.next_in = const_cast<Bytef*>(rows.data());
    stream.avail_in = static_cast<uInt>(rows.size());
    stream.next_out = packed->data();
    stream.avail_out = static_cast<uInt>(packed->size());
    bool done = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    packed->resize(stream.total_out);
    deflateEnd(&stream);
    return done;
}

} // namespace

std::vector<uint8_t> encodePng(int32_t width, int32_t height, const uint32_t* pixels,
                               PngEffort effort) {
    if (width <= 0 || height <= 0 || pixels == nullptr) {
        return {};
    }
    RawImage image;
    if (effort == PngEffort::Fast || !paletteOf(width, height, pixels, &image)) {
        rgbOf(width, height, pixels, &image);
    }
    std::vector<uint8_t> packed;
    if (!deflated(filteredRows(image, height, effort), effort, &packed)) {
        return {};
    }
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put32(&header, static_cast<uint32_t>(width));
    put32(&header, static_cast<uint32_t>(height));
    // 8 bits, RGB or a palette, deflate, adaptive filters, no interlace.
    header.insert(header.end(), {8, static_cast<uint8_t>(image.palette.empty() ? 2 : 3), 0, 0, 0});
    putChunk(&file, "IHDR", header.data(), header.size());
    if (!image.palette.empty()) {
        std::vector<uint8_t> colours;
        for (uint32_t colour : image.palette) {
            colours.insert(colours.end(),
                           {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                            static_cast<uint8_t>(colour)});
        }
        putChunk(&file, "PLTE", colours.data(), colours.size());
    }
    putChunk(&file, "IDAT", packed.data(), packed.size());
    putChunk(&file, "IEND", nullptr, 0);
    return file;
}

bool writePng(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels) {
    std::vector<uint8_t> file = encodePng(width, height, pixels, PngEffort::Fast);
    if (file.empty()) {
        return false;
    }
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool written = fwrite(file.data(), 1, file.size(), out) == file.size();
    return fclose(out) == 0 && written;
}
