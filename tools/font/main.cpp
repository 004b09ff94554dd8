// bexu-font FONT.ttf -o font.bmp [options]: makes a story's font sheet from an
// outline font, at the largest size where every glyph fits its cell.
#include "common/bmp_writer.h"
#include "common/colour_text.h"
#include "font/font_sheet.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A printf format: the format's bytes and sizes fill it (printUsage).
const char kUsage[] =
    "usage: bexu-font FONT.ttf -o font.bmp [--size PX] [--color RRGGBB]\n"
    "                 [--outline PX] [--outline-color RRGGBB]\n"
    "                 [--shadow DX,DY] [--shadow-color RRGGBB] [--matte RRGGBB]\n"
    "                 [--stretch FACTOR] [--marker FILE.bmp] [--marker-color RRGGBB]\n"
    "Draws bytes %d to %d of the font into the %d x %d cells of a %d x %d sheet on\n"
    "magenta, each glyph centred with a background pixel on every side, and the waiting\n"
    "marker into the cells of bytes %d to %d. Without --size the largest size that fits\n"
    "is taken; with it, the size is checked. Defaults: --color FAF6E8, --outline 2 with\n"
    "--outline-color 181222 (--outline 0 for none), no shadow, edges blended towards the\n"
    "outline colour (else the shadow's, else --matte, default 000000), --stretch 1.\n"
    "--stretch F above 1 widens each glyph by F, or as far as it still fits its cell,\n"
    "so the size is the same as without; below 1 it narrows every glyph.\n"
    "--marker takes the five marker cells from a %d x %d strip or a %d x %d sheet.\n";

struct Arguments {
    std::string fontPath;
    std::string outPath;
    std::string markerPath;
    int32_t size = 0;
    bool markerColorGiven = false;
    FontStyle style;
};

// A colour other than the sheet's transparent background.
bool parseColor(const char* text, uint32_t* color) {
    uint32_t value = 0;
    if (!parseHexColour(text, &value) || value == kSheetBackground) {
        return false;
    }
    *color = value;
    return true;
}

bool parseWhole(const char* text, long low, long high, int32_t* value) {
    char* end = nullptr;
    errno = 0;
    long parsed = strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || parsed < low || parsed > high) {
        return false;
    }
    *value = static_cast<int32_t>(parsed);
    return true;
}

bool parseShadow(const char* text, FontStyle* style) {
    const char* comma = strchr(text, ',');
    if (comma == nullptr) {
        return false;
    }
    std::string across(text, comma);
    return parseWhole(across.c_str(), -6, 6, &style->shadowX) &&
           parseWhole(comma + 1, -6, 6, &style->shadowY) &&
           (style->shadowX != 0 || style->shadowY != 0);
}

bool parseStretch(const char* text, double* stretch) {
    char* end = nullptr;
    double value = strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= 0.5 && value <= 2.0)) {
        return false;
    }
    *stretch = value;
    return true;
}

void printUsage(FILE* out) {
    fprintf(out, kUsage, kFirstGlyphByte, kLastTextByte, kGlyphWidth, kGlyphHeight, kFontSheetWidth,
            kFontSheetHeight, kFirstMarkerByte, kLastGlyphByte, kMarkerCells * kGlyphWidth,
            kGlyphHeight, kFontSheetWidth, kFontSheetHeight);
}

int usageError(const char* message, const char* argument) {
    fprintf(stderr, "bexu-font: %s '%s'\n", message, argument);
    printUsage(stderr);
    return 2;
}

// Returns 0 when the arguments are good, else the exit code.
int parseArguments(int argc, char** argv, Arguments* args) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool taken = value != nullptr;
        FontStyle& style = args->style;
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            printUsage(stdout);
            return -1;
        } else if (strcmp(arg, "-o") == 0 && taken) {
            args->outPath = value;
        } else if (strcmp(arg, "--size") == 0 && taken) {
            taken = parseWhole(value, kSmallestSize, kLargestSize, &args->size);
        } else if (strcmp(arg, "--color") == 0 && taken) {
            taken = parseColor(value, &style.text);
        } else if (strcmp(arg, "--outline") == 0 && taken) {
            taken = parseWhole(value, 0, 6, &style.outlineRadius);
        } else if (strcmp(arg, "--outline-color") == 0 && taken) {
            taken = parseColor(value, &style.outline);
        } else if (strcmp(arg, "--shadow") == 0 && taken) {
            taken = style.shadow = parseShadow(value, &style);
        } else if (strcmp(arg, "--shadow-color") == 0 && taken) {
            taken = parseColor(value, &style.shadowColor);
        } else if (strcmp(arg, "--matte") == 0 && taken) {
            taken = style.matteGiven = parseColor(value, &style.matte);
        } else if (strcmp(arg, "--stretch") == 0 && taken) {
            taken = parseStretch(value, &style.stretch);
        } else if (strcmp(arg, "--marker") == 0 && taken) {
            args->markerPath = value;
        } else if (strcmp(arg, "--marker-color") == 0 && taken) {
            taken = args->markerColorGiven = parseColor(value, &style.marker);
        } else if (arg[0] == '-' || !args->fontPath.empty()) {
            return usageError("unexpected argument", arg);
        } else {
            args->fontPath = arg;
            continue;
        }
        if (!taken) {
            return usageError(value == nullptr ? "no value after" : "bad value",
                              value ? value : arg);
        }
        ++i;
    }
    if (args->fontPath.empty() || args->outPath.empty()) {
        printUsage(stderr);
        return 2;
    }
    if (!args->markerColorGiven) {
        args->style.marker = args->style.text;
    }
    return 0;
}

// The size asked for, checked; or the largest that fits. 0 when none is usable.
int32_t settleSize(FontFace* font, const Arguments& args, SizeFit* fit) {
    std::string report;
    int32_t largest = chooseSize(font, args.style, &report);
    if (largest == 0) {
        fprintf(stderr, "bexu-font: %s: %s\n", args.fontPath.c_str(), report.c_str());
        return 0;
    }
    int32_t size = args.size != 0 ? args.size : largest;
    if (!measureSize(font, args.style, size, fit) || !fit->fits) {
        fprintf(stderr, "bexu-font: at %d px %s; the largest size that fits is %d px\n", size,
                fit->why.c_str(), largest);
        return 0;
    }
    if (args.size != 0) {
        printf("bexu-font: %s at %d px as asked: it fits (the largest that fits is %d px)\n",
               font->name.c_str(), size, largest);
    } else {
        printf("bexu-font: %s at %s\n", font->name.c_str(), report.c_str());
    }
    return size;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    int bad = parseArguments(argc, argv, &args);
    if (bad != 0) {
        return bad < 0 ? 0 : bad;
    }
    FontFace font;
    std::string error;
    if (!openFontFace(args.fontPath, &font, &error)) {
        fprintf(stderr, "bexu-font: %s\n", error.c_str());
        return 2;
    }
    SizeFit fit;
    int32_t size = settleSize(&font, args, &fit);
    Sheet sheet;
    bool built = size != 0 && buildSheet(font.library, args.style, fit, &sheet);
    if (built) {
        std::string widened = stretchReport(fit, args.style.stretch);
        if (!widened.empty()) {
            printf("bexu-font: %s\n", widened.c_str());
        }
        std::string spaced = letterSpacingWarning(font, fit);
        if (!spaced.empty()) {
            fprintf(stderr, "bexu-font: warning: %s\n", spaced.c_str());
        }
    }
    closeFontFace(&font);
    if (!built) {
        return 1;
    }
    if (!args.markerPath.empty() && !copyMarkerCells(args.markerPath, &sheet, &error)) {
        fprintf(stderr, "bexu-font: %s\n", error.c_str());
        return 2;
    }
    if (!writeBmp24(args.outPath, kFontSheetWidth, kFontSheetHeight, sheet.pixels.data())) {
        fprintf(stderr, "bexu-font: cannot write '%s'\n", args.outPath.c_str());
        return 2;
    }
    printf("bexu-font: wrote %s (%d x %d)\n", args.outPath.c_str(), kFontSheetWidth,
           kFontSheetHeight);
    return 0;
}
