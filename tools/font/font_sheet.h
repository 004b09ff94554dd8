// The font sheet: bytes 32 to 127 in 25 x 33 cells, 16 to a row, on magenta. Glyphs
// are centred in their cells on one shared baseline, at a size where every glyph keeps
// a pixel of background on each side of its cell.
#pragma once

#include "font/glyph_raster.h"
#include "font/shape_paint.h"
#include "format/story_format.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t kSmallestSize = 4;
constexpr int32_t kLargestSize = 64;

struct SizeFit {
    bool fits = false;
    std::string why;                  // what does not fit, when it does not
    std::vector<PaintedShape> glyphs; // bytes 32 to 122
    std::vector<double> widenedBy;    // the stretch each was given, 1 for none
    int32_t top = 0, bottom = 0;      // rows the glyphs reach together, inclusive
};

// Paints bytes 32 to 122 at `size` and tells whether they fit. A stretch above 1 widens
// each glyph by that factor or as far as it still fits its cell, whichever is less, so
// it never makes the size smaller; below 1 it narrows every glyph. False when the font
// gives no outline for a byte (`fit->why` says which).
bool measureSize(FontFace* font, const FontStyle& style, int32_t size, SizeFit* fit);

// What a stretch above 1 did: how many glyphs it widened by the whole factor, and
// which it widened less to keep them in their cells. Empty for no stretch.
std::string stretchReport(const SizeFit& fit, double stretch);

// A warning when the font is proportional and most letters come out far narrower than
// the cell, so that text looks letter-spaced; empty otherwise.
std::string letterSpacingWarning(const FontFace& font, const SizeFit& fit);

// The largest size from kSmallestSize to kLargestSize that fits; 0 when none does.
// `report` says how it was chosen.
int32_t chooseSize(FontFace* font, const FontStyle& style, std::string* report);

// 400 x 198 pixels, 0xRRGGBB, rows top-down.
struct Sheet {
    std::vector<uint32_t> pixels;
};

// Places the glyphs of a fitting size into their cells, and the default marker frames.
bool buildSheet(FT_Library library, const FontStyle& style, const SizeFit& fit, Sheet* sheet);
// Copies the cells of bytes 123 to 127 from a BMP holding either those five cells
// side by side (125 x 33) or a whole sheet (400 x 198).
bool copyMarkerCells(const std::string& path, Sheet* sheet, std::string* error);
