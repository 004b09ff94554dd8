// A scene written as the smallest BMP that holds it exactly: RLE8 with a palette
// when it has at most 256 colours, 24-bit otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SceneFile {
    bool rle8 = false;
    uint32_t colors = 0; // in the palette; 0 for 24-bit
    std::vector<uint8_t> bytes;
};

// The colours of `pixels` as a palette and one index a pixel; false, leaving both in an
// unspecified state, when there are more than 256.
bool paletteOf(const std::vector<uint32_t>& pixels, std::vector<uint32_t>* palette,
               std::vector<uint8_t>* indices);

SceneFile encodeScene(const std::vector<uint32_t>& canvas, int32_t width, int32_t height);
