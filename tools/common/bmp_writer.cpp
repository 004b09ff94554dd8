#include "common/bmp_writer.h"

#include <cstdio>
#include <unistd.h>

namespace {

constexpr uint32_t kHeadersSize = 14 + 40; // file header, BITMAPINFOHEADER
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionRle8 = 1;
// The longest run or literal stretch one RLE8 code holds.
constexpr int32_t kLongestRun = 255;

void putHeaders(std::vector<uint8_t>* out, int32_t width, int32_t height, uint32_t bits,
                uint32_t compression, uint32_t paletteSize, uint32_t dataBytes) {
    uint32_t dataOffset = kHeadersSize + paletteSize * 4;
    out->push_back('B');
    out->push_back('M');
    putLittle(out, dataOffset + dataBytes, 4);
    putLittle(out, 0, 4);
    putLittle(out, dataOffset, 4);
    putLittle(out, 40, 4);
    putLittle(out, uint32_t(width), 4);
    putLittle(out, uint32_t(height), 4);
    putLittle(out, 1, 2);
    putLittle(out, bits, 2);
    putLittle(out, compression, 4);
    putLittle(out, dataBytes, 4);
    putLittle(out, 2835, 4); // 72 dpi
    putLittle(out, 2835, 4);
    putLittle(out, paletteSize, 4);
    putLittle(out, 0, 4);
}

// Length of the run of equal bytes from `at`, at most kLongestRun.
int32_t runAt(const uint8_t* row, int32_t width, int32_t at) {
    int32_t end = at + 1;
    while (end < width && end - at < kLongestRun && row[end] == row[at]) {
        ++end;
    }
    return end - at;
}

// One row as RLE8 codes: runs of two or more as counted runs, other stretches of three
// or more as literal (absolute) stretches, padded to an even length.
void encodeRow(const uint8_t* row, int32_t width, std::vector<uint8_t>* out) {
    int32_t x = 0;
    while (x < width) {
        int32_t run = runAt(row, width, x);
        if (run >= 2) {
            out->push_back(static_cast<uint8_t>(run));
            out->push_back(row[x]);
            x += run;
            continue;
        }
        int32_t end = x + 1;
        while (end < width && end - x < kLongestRun && runAt(row, width, end) < 3) {
            ++end;
        }
        int32_t length = end - x;
        if (length < 3) {
            for (int32_t i = x; i < end; ++i) {
                out->push_back(1);
                out->push_back(row[i]);
            }
        } else {
            out->push_back(0);
            out->push_back(static_cast<uint8_t>(length));
            out->insert(out->end(), row + x, row + end);
            if (length % 2 != 0) {
                out->push_back(0);
            }
        }
        x = end;
    }
}

} // namespace

void putLittle(std::vector<uint8_t>* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out->push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

std::vector<uint8_t> bmp24Bytes(int32_t width, int32_t height, const uint32_t* pixels) {
    uint32_t rowBytes = (uint32_t(width) * 3 + 3) & ~3u;
    uint32_t dataBytes = rowBytes * uint32_t(height);
    std::vector<uint8_t> out;
    putHeaders(&out, width, height, 24, kCompressionNone, 0, dataBytes);
    size_t headers = out.size();
    out.resize(headers + dataBytes); // the row padding stays zero
    for (int32_t y = height - 1; y >= 0; --y) {
        const uint32_t* row = pixels + size_t(y) * width;
        uint8_t* to = out.data() + headers + size_t(height - 1 - y) * rowBytes;
        for (int32_t x = 0; x < width; ++x) {
            to[x * 3] = uint8_t(row[x]); // blue, green, red
            to[x * 3 + 1] = uint8_t(row[x] >> 8);
            to[x * 3 + 2] = uint8_t(row[x] >> 16);
        }
    }
    return out;
}

std::vector<uint8_t> bmpRle8Bytes(int32_t width, int32_t height, const uint8_t* indices,
                                  const std::vector<uint32_t>& palette) {
    std::vector<uint8_t> data;
    for (int32_t y = height - 1; y >= 0; --y) {
        encodeRow(indices + size_t(y) * width, width, &data);
        data.push_back(0); // end of line
        data.push_back(0);
    }
    data.push_back(0); // end of bitmap
    data.push_back(1);
    auto paletteSize = static_cast<uint32_t>(palette.size());
    std::vector<uint8_t> out;
    out.reserve(kHeadersSize + paletteSize * 4 + data.size());
    putHeaders(&out, width, height, 8, kCompressionRle8, paletteSize,
               static_cast<uint32_t>(data.size()));
    for (uint32_t color : palette) {
        putLittle(&out, color, 4); // blue, green, red, 0
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

bool writeBmp24(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels) {
    return writeFileAtomically(path, bmp24Bytes(width, height, pixels));
}

bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    // The process id keeps two writers of one name apart.
    std::string temporary = path + "." + std::to_string(getpid()) + ".part";
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
