#include "font/font_sheet.h"

#include "font/marker_shapes.h"
#include "platform/platform.h"
#include "platform/soft/soft_surface.h"

#include <algorithm>

namespace {

constexpr unsigned char kFirstGlyph = 32;
constexpr unsigned char kLastGlyph = 122;
// One background pixel on every side of a cell.
constexpr int32_t kInkWidth = kCellWidth - 2;
constexpr int32_t kInkHeight = kCellHeight - 2;

std::string glyphName(unsigned char c) {
    return std::string("'") + char(c) + "'";
}

void cellOrigin(unsigned char byte, int32_t* x, int32_t* y) {
    *x = ((byte - 32) % 16) * kCellWidth;
    *y = ((byte - 32) / 16) * kCellHeight;
}

// Copies the scratch pixels that land inside the cell's inner area (a pixel short of
// every side) when the scratch point (fromX, fromY) goes to the cell's top-left corner.
void placeInCell(const PaintedShape& shape, int32_t fromX, int32_t fromY, unsigned char byte,
                 Sheet* sheet) {
    int32_t cellX = 0;
    int32_t cellY = 0;
    cellOrigin(byte, &cellX, &cellY);
    for (int32_t y = 1; y < kCellHeight - 1; ++y) {
        for (int32_t x = 1; x < kCellWidth - 1; ++x) {
            int32_t sx = fromX + x;
            int32_t sy = fromY + y;
            if (sx < 0 || sy < 0 || sx >= kScratchSize || sy >= kScratchSize) {
                continue;
            }
            sheet->pixels[size_t(cellY + y) * kSheetWidth + cellX + x] =
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
            which = static_cast<unsigned char>(kFirstGlyph + i);
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
            highest = static_cast<unsigned char>(kFirstGlyph + i);
        }
        if (!glyph.empty && glyph.bottom == fit.bottom && lowest == 0) {
            lowest = static_cast<unsigned char>(kFirstGlyph + i);
        }
    }
    return "the glyphs reach " + std::to_string(height) + " rows together (from the top of " +
           glyphName(highest) + " to the bottom of " + glyphName(lowest) + "), the cell holds " +
           std::to_string(kInkHeight) + " with a background row above and below";
}

} // namespace

bool measureSize(FontFace* font, const FontStyle& style, int32_t size, SizeFit* fit) {
    fit->glyphs.assign(kLastGlyph - kFirstGlyph + 1, PaintedShape());
    fit->fits = false;
    fit->top = kScratchSize;
    fit->bottom = -1;
    ShapeCoverage coverage;
    for (int32_t c = kFirstGlyph; c <= kLastGlyph; ++c) {
        FT_Outline* outline =
            loadGlyphOutline(font, static_cast<unsigned char>(c), size, style.stretch);
        if (outline == nullptr ||
            !renderShape(font->library, outline, style.outlineRadius, &coverage)) {
            fit->why = "the font gives no outline for " + glyphName(static_cast<unsigned char>(c));
            return false;
        }
        PaintedShape& glyph = fit->glyphs[c - kFirstGlyph];
        paintShape(coverage, style, style.text, &glyph);
        if (glyph.atScratchEdge) {
            fit->why = glyphName(static_cast<unsigned char>(c)) + " is far larger than a cell";
            return true;
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

int32_t chooseSize(FontFace* font, const FontStyle& style, std::string* report) {
    // Fitting shrinks with the size; the search takes the largest fitting one.
    int32_t low = kSmallestSize - 1; // fits, or below the range
    int32_t high = kLargestSize + 1; // does not fit, or above the range
    std::string reasonAbove = "it is the largest size tried";
    SizeFit fit;
    while (high - low > 1) {
        int32_t middle = (low + high) / 2;
        if (!measureSize(font, style, middle, &fit)) {
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
    sheet->pixels.assign(size_t(kSheetWidth) * kSheetHeight, kSheetBackground);
    int32_t fromY = fit.top - (kCellHeight - (fit.bottom - fit.top + 1)) / 2;
    for (size_t i = 0; i < fit.glyphs.size(); ++i) {
        const PaintedShape& glyph = fit.glyphs[i];
        if (glyph.empty) {
            continue;
        }
        int32_t width = glyph.right - glyph.left + 1;
        int32_t fromX = glyph.left - (kCellWidth - width) / 2;
        placeInCell(glyph, fromX, fromY, static_cast<unsigned char>(kFirstGlyph + i), sheet);
    }
    ShapeCoverage coverage;
    PaintedShape frame;
    for (int32_t byte = kFirstMarkerByte; byte <= kLastMarkerByte; ++byte) {
        if (!renderMarkerFrame(library, static_cast<unsigned char>(byte), style.outlineRadius,
                               &coverage)) {
            return false;
        }
        paintShape(coverage, style, style.marker, &frame);
        placeInCell(frame, kScratchOriginX, kScratchOriginY - kCellHeight,
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
    bool strip = bitmap->width == 5 * kCellWidth && bitmap->height == kCellHeight;
    bool whole = bitmap->width == kSheetWidth && bitmap->height == kSheetHeight;
    if (!strip && !whole) {
        *error = "the marker bitmap '" + path + "' is " + std::to_string(bitmap->width) + " x " +
                 std::to_string(bitmap->height) +
                 "; it must hold the five cells side by side (125 x 33) or be a whole sheet "
                 "(400 x 198)";
        platformDeleteBitmap(bitmap);
        return false;
    }
    for (int32_t byte = kFirstMarkerByte; byte <= kLastMarkerByte; ++byte) {
        int32_t toX = 0;
        int32_t toY = 0;
        cellOrigin(static_cast<unsigned char>(byte), &toX, &toY);
        int32_t fromX = strip ? (byte - kFirstMarkerByte) * kCellWidth : toX;
        int32_t fromY = strip ? 0 : toY;
        for (int32_t y = 0; y < kCellHeight; ++y) {
            for (int32_t x = 0; x < kCellWidth; ++x) {
                sheet->pixels[size_t(toY + y) * kSheetWidth + toX + x] =
                    bitmap->pixels[size_t(fromY + y) * bitmap->width + fromX + x];
            }
        }
    }
    platformDeleteBitmap(bitmap);
    return true;
}
