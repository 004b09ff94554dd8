#include "font/font_sheet.h"

#include "font/marker_shapes.h"
#include "platform/platform.h"
#include "platform/soft/soft_surface.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

// One background pixel on every side of a cell.
constexpr int32_t kInkWidth = kGlyphWidth - 2;
constexpr int32_t kInkHeight = kGlyphHeight - 2;

std::string glyphName(unsigned char c) {
    return std::string("'") + char(c) + "'";
}

void cellOrigin(unsigned char byte, int32_t* x, int32_t* y) {
    *x = ((byte - kFirstGlyphByte) % kGlyphsPerRow) * kGlyphWidth;
    *y = ((byte - kFirstGlyphByte) / kGlyphsPerRow) * kGlyphHeight;
}

// Copies the scratch pixels that land inside the cell's inner area (a pixel short of
// every side) when the scratch point (fromX, fromY) goes to the cell's top-left corner.
void placeInCell(const PaintedShape& shape, int32_t fromX, int32_t fromY, unsigned char byte,
                 Sheet* sheet) {
    int32_t cellX = 0;
    int32_t cellY = 0;
    cellOrigin(byte, &cellX, &cellY);
    for (int32_t y = 1; y < kGlyphHeight - 1; ++y) {
        for (int32_t x = 1; x < kGlyphWidth - 1; ++x) {
            int32_t sx = fromX + x;
            int32_t sy = fromY + y;
            if (sx < 0 || sy < 0 || sx >= kScratchSize || sy >= kScratchSize) {
                continue;
            }
            sheet->pixels[size_t(cellY + y) * kFontSheetWidth + cellX + x] =
                shape.pixels[size_t(sy) * kScratchSize + sx];
        }
    }
}

std::string widthProblem(const SizeFit& fit) {
    int32_t widest = 0;
    unsigned char which = 0;
    for (size_t i = 0; i < fit.glyphs.size(); ++i) {
        const PaintedShape& glyph = fit.glyphs[i];
        if (!glyph.empty && glyph.right - glyph.left + 1 > widest) {
            widest = glyph.right - glyph.left + 1;
            which = static_cast<unsigned char>(kFirstGlyphByte + i);
        }
    }
    if (widest <= kInkWidth) {
        return "";
    }
    return glyphName(which) + " is " + std::to_string(widest) + " px wide, the cell holds " +
           std::to_string(kInkWidth) + " with a background pixel each side";
}

std::string heightProblem(const SizeFit& fit) {
    int32_t height = fit.bottom - fit.top + 1;
    if (height <= kInkHeight) {
        return "";
    }
    unsigned char highest = 0;
    unsigned char lowest = 0;
    for (size_t i = 0; i < fit.glyphs.size(); ++i) {
        const PaintedShape& glyph = fit.glyphs[i];
        if (!glyph.empty && glyph.top == fit.top && highest == 0) {
            highest = static_cast<unsigned char>(kFirstGlyphByte + i);
        }
        if (!glyph.empty && glyph.bottom == fit.bottom && lowest == 0) {
            lowest = static_cast<unsigned char>(kFirstGlyphByte + i);
        }
    }
    return "the glyphs reach " + std::to_string(height) + " rows together (from the top of " +
           glyphName(highest) + " to the bottom of " + glyphName(lowest) + "), the cell holds " +
           std::to_string(kInkHeight) + " with a background row above and below";
}

} // namespace

namespace {

int32_t inkWidth(const PaintedShape& glyph) {
    return glyph.empty ? 0 : glyph.right - glyph.left + 1;
}

bool paintGlyph(FontFace* font, const FontStyle& style, unsigned char c, int32_t size,
                double stretch, ShapeCoverage* coverage, PaintedShape* glyph) {
    FT_Outline* outline = loadGlyphOutline(font, c, size, stretch);
    if (outline == nullptr || !renderShape(font->library, outline, style.outlineRadius, coverage)) {
        return false;
    }
    paintShape(*coverage, style, style.text, glyph);
    return true;
}

bool fitsAcross(const PaintedShape& glyph) {
    return !glyph.atScratchEdge && inkWidth(glyph) <= kInkWidth;
}

// Widens a glyph that fits its cell by up to `stretch`, as far as it still fits: the
// largest factor found in a few halvings of the interval.
bool widenGlyph(FontFace* font, const FontStyle& style, unsigned char c, int32_t size,
                double stretch, ShapeCoverage* coverage, PaintedShape* glyph, double* applied) {
    *applied = 1.0;
    PaintedShape wider;
    if (!paintGlyph(font, style, c, size, stretch, coverage, &wider)) {
        return false;
    }
    if (fitsAcross(wider)) {
        *glyph = wider;
        *applied = stretch;
        return true;
    }
    double fits = 1.0;
    double tooWide = stretch;
    for (int step = 0; step < 6; ++step) {
        double middle = (fits + tooWide) / 2;
        if (!paintGlyph(font, style, c, size, middle, coverage, &wider)) {
            return false;
        }
        if (fitsAcross(wider)) {
            fits = middle;
            *glyph = wider;
        } else {
            tooWide = middle;
        }
    }
    *applied = fits;
    return true;
}

} // namespace

bool measureSize(FontFace* font, const FontStyle& style, int32_t size, SizeFit* fit) {
    fit->glyphs.assign(kLastTextByte - kFirstGlyphByte + 1, PaintedShape());
    fit->widenedBy.assign(fit->glyphs.size(), 1.0);
    fit->fits = false;
    fit->top = kScratchSize;
    fit->bottom = -1;
    ShapeCoverage coverage;
    bool widening = style.stretch > 1.0;
    for (int32_t c = kFirstGlyphByte; c <= kLastTextByte; ++c) {
        auto byte = static_cast<unsigned char>(c);
        PaintedShape& glyph = fit->glyphs[c - kFirstGlyphByte];
        if (!paintGlyph(font, style, byte, size, widening ? 1.0 : style.stretch, &coverage,
                        &glyph)) {
            fit->why = "the font gives no outline for " + glyphName(byte);
            return false;
        }
        if (glyph.atScratchEdge) {
            fit->why = glyphName(byte) + " is far larger than a cell";
            return true;
        }
        if (widening && !glyph.empty && fitsAcross(glyph) &&
            !widenGlyph(font, style, byte, size, style.stretch, &coverage, &glyph,
                        &fit->widenedBy[c - kFirstGlyphByte])) {
            fit->why = "the font gives no outline for " + glyphName(byte);
            return false;
        }
        if (!glyph.empty) {
            fit->top = std::min(fit->top, glyph.top);
            fit->bottom = std::max(fit->bottom, glyph.bottom);
        }
    }
    fit->why = widthProblem(*fit);
    if (fit->why.empty()) {
        fit->why = heightProblem(*fit);
    }
    fit->fits = fit->why.empty();
    return true;
}

std::string stretchReport(const SizeFit& fit, double stretch) {
    if (stretch <= 1.0) {
        return "";
    }
    char factor[16];
    snprintf(factor, sizeof factor, "%.2f", stretch);
    uint32_t whole = 0;
    std::string held;
    uint32_t heldCount = 0;
    for (size_t i = 0; i < fit.glyphs.size(); ++i) {
        if (fit.glyphs[i].empty) {
            continue;
        }
        if (fit.widenedBy[i] >= stretch) {
            ++whole;
            continue;
        }
        if (heldCount++ < 6) {
            char by[16];
            snprintf(by, sizeof by, " %.2f", fit.widenedBy[i]);
            held += (held.empty() ? "" : ", ") +
                    glyphName(static_cast<unsigned char>(kFirstGlyphByte + i)) + by;
        }
    }
    std::string report = "--stretch " + std::string(factor) + " widened " + std::to_string(whole) +
                         " glyphs by " + factor;
    if (heldCount > 0) {
        report += " and " + std::to_string(heldCount) + " less, to keep them in their cells (" +
                  held + (heldCount > 6 ? ", ..." : "") + ")";
    }
    return report;
}

std::string letterSpacingWarning(const FontFace& font, const SizeFit& fit) {
    if (FT_IS_FIXED_WIDTH(font.face)) {
        return "";
    }
    // A letter less than two thirds of the room across leaves a gap of ten pixels or
    // more to the next; when most letters do, words fall apart into letters.
    uint32_t letters = 0;
    uint32_t narrow = 0;
    for (size_t i = 0; i < fit.glyphs.size(); ++i) {
        auto c = static_cast<unsigned char>(kFirstGlyphByte + i);
        if (!isalpha(c)) {
            continue;
        }
        ++letters;
        if (inkWidth(fit.glyphs[i]) * 3 < kInkWidth * 2) {
            ++narrow;
        }
    }
    if (narrow * 2 <= letters) {
        return "";
    }
    return font.name + " is proportional, and " + std::to_string(narrow) + " of its " +
           std::to_string(letters) +
           " letters come out far narrower than the cell: every glyph takes a whole cell, so "
           "the text will look letter-spaced. A monospaced font fills the cells evenly (DejaVu "
           "Sans Mono, from fonts-dejavu-core); --stretch 1.5 widens the narrow glyphs";
}

int32_t chooseSize(FontFace* font, const FontStyle& style, std::string* report) {
    // Fitting shrinks with the size; the search takes the largest fitting one.
    int32_t low = kSmallestSize - 1; // fits, or below the range
    int32_t high = kLargestSize + 1; // does not fit, or above the range
    std::string reasonAbove = "it is the largest size tried";
    SizeFit fit;
    // Widening stops where a glyph would leave its cell: it never decides the size.
    FontStyle unwidened = style;
    unwidened.stretch = std::min(style.stretch, 1.0);
    while (high - low > 1) {
        int32_t middle = (low + high) / 2;
        if (!measureSize(font, unwidened, middle, &fit)) {
            *report = fit.why;
            return 0;
        }
        if (fit.fits) {
            low = middle;
        } else {
            high = middle;
            reasonAbove = "at " + std::to_string(middle) + " px " + fit.why;
        }
    }
    if (low < kSmallestSize) {
        *report = "no size from " + std::to_string(kSmallestSize) + " px fits: " + reasonAbove;
        return 0;
    }
    *report = std::to_string(low) + " px, the largest size that fits: " + reasonAbove;
    return low;
}

bool buildSheet(FT_Library library, const FontStyle& style, const SizeFit& fit, Sheet* sheet) {
    sheet->pixels.assign(size_t(kFontSheetWidth) * kFontSheetHeight, kSheetBackground);
    int32_t fromY = fit.top - (kGlyphHeight - (fit.bottom - fit.top + 1)) / 2;
    for (size_t i = 0; i < fit.glyphs.size(); ++i) {
        const PaintedShape& glyph = fit.glyphs[i];
        if (glyph.empty) {
            continue;
        }
        int32_t width = glyph.right - glyph.left + 1;
        int32_t fromX = glyph.left - (kGlyphWidth - width) / 2;
        placeInCell(glyph, fromX, fromY, static_cast<unsigned char>(kFirstGlyphByte + i), sheet);
    }
    ShapeCoverage coverage;
    PaintedShape frame;
    for (int32_t byte = kFirstMarkerByte; byte <= kLastGlyphByte; ++byte) {
        if (!renderMarkerFrame(library, static_cast<unsigned char>(byte), style.outlineRadius,
                               &coverage)) {
            return false;
        }
        paintShape(coverage, style, style.marker, &frame);
        placeInCell(frame, kScratchOriginX, kScratchOriginY - kGlyphHeight,
                    static_cast<unsigned char>(byte), sheet);
    }
    return true;
}

bool copyMarkerCells(const std::string& path, Sheet* sheet, std::string* error) {
    PlatformBitmap* bitmap = platformLoadBitmap(path.c_str());
    if (bitmap == nullptr) {
        *error = "cannot load the marker bitmap '" + path + "'";
        return false;
    }
    bool strip = bitmap->width == kMarkerCells * kGlyphWidth && bitmap->height == kGlyphHeight;
    bool whole = bitmap->width == kFontSheetWidth && bitmap->height == kFontSheetHeight;
    if (!strip && !whole) {
        *error = "the marker bitmap '" + path + "' is " + std::to_string(bitmap->width) + " x " +
                 std::to_string(bitmap->height) + "; it must hold the five cells side by side (" +
                 std::to_string(kMarkerCells * kGlyphWidth) + " x " + std::to_string(kGlyphHeight) +
                 ") or be a whole sheet (" + std::to_string(kFontSheetWidth) + " x " +
                 std::to_string(kFontSheetHeight) + ")";
        platformDeleteBitmap(bitmap);
        return false;
    }
    for (int32_t byte = kFirstMarkerByte; byte <= kLastGlyphByte; ++byte) {
        int32_t toX = 0;
        int32_t toY = 0;
        cellOrigin(static_cast<unsigned char>(byte), &toX, &toY);
        int32_t fromX = strip ? (byte - kFirstMarkerByte) * kGlyphWidth : toX;
        int32_t fromY = strip ? 0 : toY;
        for (int32_t y = 0; y < kGlyphHeight; ++y) {
            for (int32_t x = 0; x < kGlyphWidth; ++x) {
                sheet->pixels[size_t(toY + y) * kFontSheetWidth + toX + x] =
                    bitmap->pixels[size_t(fromY + y) * bitmap->width + fromX + x];
            }
        }
    }
    platformDeleteBitmap(bitmap);
    return true;
}
