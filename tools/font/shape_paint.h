// Paints rendered coverage in the sheet's colours. The background is magenta, which
// the player leaves out exactly, so no pixel may be a blend with it: a pixel is either
// background or the layers (shadow, outline, fill) over the matte colour.
#pragma once

#include "font/glyph_raster.h"

#include <cstdint>
#include <vector>

constexpr uint32_t kSheetBackground = 0xFF00FF; // 0xRRGGBB
// Pixels whose layers cover less than this (of 255) stay background.
constexpr int32_t kKeepCoverage = 64;

struct FontStyle {
    uint32_t text = 0xFAF6E8;
    uint32_t outline = 0x181222;
    int32_t outlineRadius = 2;
    bool shadow = false;
    uint32_t shadowColor = 0x000000;
    int32_t shadowX = 0;
    int32_t shadowY = 0;
    bool matteGiven = false;
    uint32_t matte = 0x000000;
    uint32_t marker = 0xFAF6E8;
    double stretch = 1.0;
};

// The colour edges blend towards: the one given, else the outline's, else the shadow's,
// else black.
uint32_t matteColor(const FontStyle& style);

struct PaintedShape {
    std::vector<uint32_t> pixels; // scratch-sized, 0xRRGGBB
    bool empty = true;
    bool atScratchEdge = false; // kept pixels on the scratch border: too large to measure
    int32_t left = 0, top = 0, right = -1, bottom = -1; // box of the kept pixels, inclusive
};

void paintShape(const ShapeCoverage& shape, const FontStyle& style, uint32_t fillColor,
                PaintedShape* out);
