#include "font/marker_shapes.h"

#include <cmath>
#include <vector>

namespace {

struct Point {
    double x, y; // cell pixels, y down
};
using Contour = std::vector<Point>;

Contour mirrored(const Contour& contour) {
    Contour out;
    for (const Point& point : contour) {
        out.push_back({kGlyphWidth - point.x, point.y});
    }
    return out;
}

Contour moved(const Contour& contour, double down) {
    Contour out;
    for (const Point& point : contour) {
        out.push_back({point.x, point.y + down});
    }
    return out;
}

// A page lying flat with its corner folded at the top right, three lines of writing
// cut out of it (the shape is filled even-odd).
std::vector<Contour> flatPage() {
    return {{{5, 7}, {15, 7}, {20, 12}, {20, 27}, {5, 27}},
            {{15, 7}, {15, 12}, {20, 12}},
            {{8, 15}, {17, 15}, {17, 16.5}, {8, 16.5}},
            {{8, 19}, {17, 19}, {17, 20.5}, {8, 20.5}},
            {{8, 23}, {14, 23}, {14, 24.5}, {8, 24.5}}};
}

std::vector<Contour> frameContours(unsigned char byte) {
    Contour arrow = {{6, 12}, {19, 12}, {12.5, 21}};
    switch (byte) {
    case 123:
        return flatPage();
    case 124: // half way over, seen on its edge
        return {{{11, 7}, {15, 9}, {15, 29}, {11, 27}}};
    case 125: {
        std::vector<Contour> page;
        for (const Contour& contour : flatPage()) {
            page.push_back(mirrored(contour));
        }
        return page;
    }
    case 126:
        return {arrow};
    default:
        return {moved(arrow, 4)};
    }
}

} // namespace

bool renderMarkerFrame(FT_Library library, unsigned char byte, int32_t outlineRadius,
                       ShapeCoverage* out) {
    std::vector<Contour> contours = frameContours(byte);
    FT_Int points = 0;
    for (const Contour& contour : contours) {
        points += static_cast<FT_Int>(contour.size());
    }
    FT_Outline outline = {};
    if (FT_Outline_New(library, points, static_cast<FT_Int>(contours.size()), &outline) != 0) {
        return false;
    }
    int32_t next = 0;
    for (size_t c = 0; c < contours.size(); ++c) {
        for (const Point& point : contours[c]) {
            outline.points[next] = {std::lround(point.x * 64.0),
                                    std::lround((kGlyphHeight - point.y) * 64.0)};
            outline.tags[next] = FT_CURVE_TAG_ON;
            ++next;
        }
        outline.contours[c] = static_cast<short>(next - 1);
    }
    outline.flags |= FT_OUTLINE_EVEN_ODD_FILL;
    bool done = renderShape(library, &outline, outlineRadius, out);
    FT_Outline_Done(library, &outline);
    return done;
}
