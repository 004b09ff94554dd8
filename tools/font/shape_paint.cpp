#include "font/shape_paint.h"

#include <algorithm>
#include <cmath>

namespace {

struct Layers {
    double shadow, outline, fill;
};

double channel(uint32_t color, int shift) {
    return ((color >> shift) & 0xFF) / 255.0;
}

// Each layer over the ones below, the whole over the matte colour.
uint32_t blend(const Layers& cover, const FontStyle& style, uint32_t fillColor, uint32_t matte) {
    double kept = 1.0 - (1.0 - cover.shadow) * (1.0 - cover.outline) * (1.0 - cover.fill);
    uint32_t pixel = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        double value = cover.shadow * channel(style.shadowColor, shift);
        value = cover.outline * channel(style.outline, shift) + (1.0 - cover.outline) * value;
        value = cover.fill * channel(fillColor, shift) + (1.0 - cover.fill) * value;
        value += (1.0 - kept) * channel(matte, shift);
        auto byte = static_cast<uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
        pixel |= byte << shift;
    }
    // Only colours next to magenta can round onto it; keep such a pixel visible.
    return pixel == kSheetBackground ? 0xFE00FF : pixel;
}

} // namespace

uint32_t matteColor(const FontStyle& style) {
    if (style.matteGiven) {
        return style.matte;
    }
    if (style.outlineRadius > 0) {
        return style.outline;
    }
    return style.shadow ? style.shadowColor : 0x000000;
}

void paintShape(const ShapeCoverage& shape, const FontStyle& style, uint32_t fillColor,
                PaintedShape* out) {
    out->pixels.assign(size_t(kScratchSize) * kScratchSize, kSheetBackground);
    out->empty = true;
    out->atScratchEdge = false;
    out->left = kScratchSize;
    out->top = kScratchSize;
    out->right = -1;
    out->bottom = -1;
    uint32_t matte = matteColor(style);
    bool outlined = style.outlineRadius > 0;
    for (int32_t y = 0; y < kScratchSize; ++y) {
        for (int32_t x = 0; x < kScratchSize; ++x) {
            Layers cover = {0.0, 0.0, shape.fill.at(x, y) / 255.0};
            if (outlined) {
                cover.outline = shape.widened.at(x, y) / 255.0;
            }
            if (style.shadow) {
                cover.shadow = shape.widened.at(x - style.shadowX, y - style.shadowY) / 255.0;
            }
            double kept = 1.0 - (1.0 - cover.shadow) * (1.0 - cover.outline) * (1.0 - cover.fill);
            if (kept * 255.0 < kKeepCoverage) {
                continue;
            }
            out->pixels[size_t(y) * kScratchSize + x] = blend(cover, style, fillColor, matte);
            out->empty = false;
            out->left = std::min(out->left, x);
            out->right = std::max(out->right, x);
            out->top = std::min(out->top, y);
            out->bottom = std::max(out->bottom, y);
            if (x == 0 || y == 0 || x == kScratchSize - 1 || y == kScratchSize - 1) {
                out->atScratchEdge = true;
            }
        }
    }
}
