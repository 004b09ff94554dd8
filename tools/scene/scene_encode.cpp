#include "scene/scene_encode.h"

#include "common/bmp_writer.h"

#include <array>

namespace {

constexpr size_t kLargestPalette = 256;
// Open addressing over four times the palette: short probes, and a table that stays
// in the first level cache.
constexpr size_t kSlots = 1024;
constexpr uint32_t kFree = 0xFFFFFFFFu; // no 0x00RRGGBB pixel has this value

size_t slotOf(uint32_t color) {
    return (color * 2654435761u) >> 22; // the top 10 bits of a multiplicative hash
}

} // namespace

bool paletteOf(const std::vector<uint32_t>& pixels, std::vector<uint32_t>* palette,
               std::vector<uint8_t>* indices) {
    std::array<uint32_t, kSlots> colors;
    std::array<uint8_t, kSlots> slotIndex;
    colors.fill(kFree);
    palette->clear();
    indices->resize(pixels.size());
    uint32_t last = kFree;
    uint8_t lastIndex = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        uint32_t color = pixels[i];
        if (color != last) {
            size_t slot = slotOf(color);
            while (colors[slot] != kFree && colors[slot] != color) {
                slot = (slot + 1) % kSlots;
            }
            if (colors[slot] == kFree) {
                if (palette->size() == kLargestPalette) {
                    return false;
                }
                colors[slot] = color;
                slotIndex[slot] = static_cast<uint8_t>(palette->size());
                palette->push_back(color);
            }
            last = color;
            lastIndex = slotIndex[slot];
        }
        (*indices)[i] = lastIndex;
    }
    return true;
}

SceneFile encodeScene(const std::vector<uint32_t>& canvas, int32_t width, int32_t height) {
    SceneFile file;
    std::vector<uint32_t> palette;
    std::vector<uint8_t> indices;
    if (paletteOf(canvas, &palette, &indices)) {
        file.rle8 = true;
        file.colors = static_cast<uint32_t>(palette.size());
        file.bytes = bmpRle8Bytes(width, height, indices.data(), palette);
    } else {
        file.bytes = bmp24Bytes(width, height, canvas.data());
    }
    return file;
}
