#include "font/glyph_raster.h"

#include FT_STROKER_H

#include <algorithm>

namespace {

bool renderInto(FT_Library library, FT_Outline* outline, Coverage* coverage) {
    coverage->values.assign(size_t(kScratchSize) * kScratchSize, 0);
    FT_Bitmap bitmap = {};
    bitmap.rows = kScratchSize;
    bitmap.width = kScratchSize;
    bitmap.pitch = kScratchSize;
    bitmap.buffer = coverage->values.data();
    bitmap.num_grays = 256;
    bitmap.pixel_mode = FT_PIXEL_MODE_GRAY;
    // The renderer's row 0 is the top; its y axis points up from the bottom row.
    FT_Outline_Translate(outline, kScratchOriginX * 64, (kScratchSize - kScratchOriginY) * 64);
    FT_Error error = FT_Outline_Get_Bitmap(library, outline, &bitmap);
    FT_Outline_Translate(outline, -kScratchOriginX * 64, -(kScratchSize - kScratchOriginY) * 64);
    return error == 0;
}

// The outline's border of `radius` pixels on both sides of every contour.
bool renderBorder(FT_Library library, FT_Outline* outline, int32_t radius, Coverage* coverage) {
    FT_Stroker stroker = nullptr;
    if (FT_Stroker_New(library, &stroker) != 0) {
        return false;
    }
    FT_Stroker_Set(stroker, radius * 64, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
    FT_UInt points = 0;
    FT_UInt contours = 0;
    FT_Outline border = {};
    bool done = FT_Stroker_ParseOutline(stroker, outline, false) == 0 &&
                FT_Stroker_GetCounts(stroker, &points, &contours) == 0 &&
                FT_Outline_New(library, points, contours, &border) == 0;
    if (done) {
        border.n_points = 0;
        border.n_contours = 0;
        FT_Stroker_Export(stroker, &border);
        done = renderInto(library, &border, coverage);
        FT_Outline_Done(library, &border);
    }
    FT_Stroker_Done(stroker);
    return done;
}

} // namespace

bool openFontFace(const std::string& path, FontFace* font, std::string* error) {
    if (FT_Init_FreeType(&font->library) != 0) {
        *error = "FreeType does not start";
        return false;
    }
    if (FT_New_Face(font->library, path.c_str(), 0, &font->face) != 0) {
        *error = "cannot read the font '" + path + "'";
        closeFontFace(font);
        return false;
    }
    if (!FT_IS_SCALABLE(font->face)) {
        *error = "'" + path + "' is not a scalable (outline) font";
        closeFontFace(font);
        return false;
    }
    font->name = font->face->family_name != nullptr ? font->face->family_name : "?";
    if (font->face->style_name != nullptr) {
        font->name += std::string(" ") + font->face->style_name;
    }
    return true;
}

void closeFontFace(FontFace* font) {
    if (font->face != nullptr) {
        FT_Done_Face(font->face);
    }
    if (font->library != nullptr) {
        FT_Done_FreeType(font->library);
    }
    font->face = nullptr;
    font->library = nullptr;
}

FT_Outline* loadGlyphOutline(FontFace* font, unsigned char c, int32_t pixelSize, double stretch) {
    if (FT_Set_Pixel_Sizes(font->face, 0, static_cast<FT_UInt>(pixelSize)) != 0 ||
        FT_Load_Char(font->face, c, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT) != 0 ||
        font->face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
        return nullptr;
    }
    FT_Outline* outline = &font->face->glyph->outline;
    if (stretch != 1.0) {
        FT_Matrix widen = {static_cast<FT_Fixed>(stretch * 65536.0), 0, 0, 65536};
        FT_Outline_Transform(outline, &widen);
    }
    return outline;
}

bool renderShape(FT_Library library, FT_Outline* outline, int32_t outlineRadius,
                 ShapeCoverage* out) {
    if (!renderInto(library, outline, &out->fill)) {
        return false;
    }
    if (outlineRadius <= 0 || outline->n_points == 0) {
        out->widened = out->fill;
        return true;
    }
    if (!renderBorder(library, outline, outlineRadius, &out->widened)) {
        return false;
    }
    for (size_t i = 0; i < out->widened.values.size(); ++i) {
        out->widened.values[i] = std::max(out->widened.values[i], out->fill.values[i]);
    }
    return true;
}
