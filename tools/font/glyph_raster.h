// Coverage of glyphs and drawn shapes, rendered by FreeType on a square scratch grid
// whose pen origin sits at (kScratchOriginX, kScratchOriginY), y down.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t kScratchSize = 128;
constexpr int32_t kScratchOriginX = 32;
constexpr int32_t kScratchOriginY = 88;

// 0..255 per scratch pixel, rows top-down.
struct Coverage {
    std::vector<uint8_t> values;
    uint8_t at(int32_t x, int32_t y) const {
        if (x < 0 || y < 0 || x >= kScratchSize || y >= kScratchSize) {
            return 0;
        }
        return values[size_t(y) * kScratchSize + x];
    }
};

// A shape's fill, and its fill widened by the outline (the fill itself without one).
struct ShapeCoverage {
    Coverage fill;
    Coverage widened;
};

struct FontFace {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    std::string name; // family and style, for reports
};

bool openFontFace(const std::string& path, FontFace* font, std::string* error);
void closeFontFace(FontFace* font);

// The outline of `c` at `pixelSize`, widened across by `stretch`; none when the
// font cannot give one. The outline belongs to the face until the next load.
FT_Outline* loadGlyphOutline(FontFace* font, unsigned char c, int32_t pixelSize, double stretch);

// Renders `outline` (pen origin at 0,0, y up, 26.6 units) at the scratch origin.
// `outlineRadius` in pixels; 0 leaves `widened` equal to `fill`.
bool renderShape(FT_Library library, FT_Outline* outline, int32_t outlineRadius,
                 ShapeCoverage* out);
