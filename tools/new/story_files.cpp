#include "new/story_files.h"

#include "common/bmp_writer.h"
#include "format/story_format.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int32_t kBands = 18;
constexpr int32_t kHorizon = 560;

uint32_t mix(uint32_t from, uint32_t to, double t) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        double a = (from >> shift) & 0xFF;
        double b = (to >> shift) & 0xFF;
        out |= static_cast<uint32_t>(std::lround(a + (b - a) * t)) << shift;
    }
    return out;
}

// Palette index of each row: sky bands above the horizon, sea bands below.
std::vector<uint8_t> sceneRows(std::vector<uint32_t>* palette) {
    const uint32_t skyTop = 0x1B2A4A, skyLow = 0xE8A36B, seaTop = 0x2E4E6E, seaLow = 0x0E1A2A;
    for (int32_t i = 0; i < kBands; ++i) {
        palette->push_back(mix(skyTop, skyLow, i / double(kBands - 1)));
    }
    for (int32_t i = 0; i < kBands; ++i) {
        palette->push_back(mix(seaTop, seaLow, i / double(kBands - 1)));
    }
    std::vector<uint8_t> rows;
    for (int32_t y = 0; y < kCanvasHeight; ++y) {
        bool sky = y < kHorizon;
        int32_t top = sky ? 0 : kHorizon;
        int32_t height = sky ? kHorizon : kCanvasHeight - kHorizon;
        rows.push_back(static_cast<uint8_t>((sky ? 0 : kBands) + (y - top) * kBands / height));
    }
    return rows;
}

} // namespace

bool writeTile(const std::string& path) {
    constexpr int32_t kCheck = kTileSize / 2; // two squares of each tone
    std::vector<uint32_t> pixels(kTileSize * kTileSize);
    for (int32_t y = 0; y < kTileSize; ++y) {
        for (int32_t x = 0; x < kTileSize; ++x) {
            pixels[y * kTileSize + x] = ((x / kCheck) ^ (y / kCheck)) ? 0x202028 : 0x2A2A34;
        }
    }
    return writeBmp24(path, kTileSize, kTileSize, pixels.data());
}

bool writeScene(const std::string& path) {
    std::vector<uint32_t> palette;
    std::vector<uint8_t> rows = sceneRows(&palette);
    std::vector<uint8_t> indices;
    indices.reserve(size_t(kCanvasWidth) * kCanvasHeight);
    for (uint8_t row : rows) {
        indices.insert(indices.end(), kCanvasWidth, row);
    }
    return writeFileAtomically(path,
                               bmpRle8Bytes(kCanvasWidth, kCanvasHeight, indices.data(), palette));
}

bool writeChime(const std::string& path) {
    const uint32_t rate = 22050;
    const double notes[] = {659.25, 987.77};
    std::vector<int16_t> samples;
    for (double frequency : notes) {
        for (uint32_t i = 0; i < rate * 2 / 5; ++i) {
            double t = i / double(rate);
            double envelope = std::exp(-t * 7.0) * std::fmin(1.0, t * 200.0);
            samples.push_back(
                static_cast<int16_t>(9000.0 * envelope * std::sin(2.0 * M_PI * frequency * t)));
        }
    }
    uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    std::vector<uint8_t> file = {'R', 'I', 'F', 'F'};
    putLittle(&file, 36 + dataBytes, 4);
    for (char c : std::string("WAVEfmt ")) {
        file.push_back(static_cast<uint8_t>(c));
    }
    putLittle(&file, 16, 4);
    putLittle(&file, 1, 2); // PCM
    putLittle(&file, 1, 2); // mono
    putLittle(&file, rate, 4);
    putLittle(&file, rate * 2, 4);
    putLittle(&file, 2, 2);
    putLittle(&file, 16, 2);
    for (char c : std::string("data")) {
        file.push_back(static_cast<uint8_t>(c));
    }
    putLittle(&file, dataBytes, 4);
    for (int16_t sample : samples) {
        putLittle(&file, static_cast<uint16_t>(sample), 2);
    }
    return writeFileAtomically(path, file);
}

bool writeText(const std::string& path, const std::string& text) {
    return writeFileAtomically(path, std::vector<uint8_t>(text.begin(), text.end()));
}
