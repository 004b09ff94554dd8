// bexu-scene IN -o OUT.bmp [--fill|--fit] [--background COLOUR]: makes a scene of
// exactly the canvas's size from a PNG, JPEG or BMP picture of any size.
#include "common/bmp_writer.h"
#include "common/colour_text.h"
#include "format/story_format.h"
#include "scene/picture_file.h"
#include "scene/scene_encode.h"
#include "scene/scene_layout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A printf format: the canvas's width and height fill it (printUsage).
const char kUsage[] =
    "usage: bexu-scene IN.png|IN.jpg -o OUT.bmp [--fill|--fit] [--background COLOUR]\n"
    "Makes a %d x %d scene from a PNG, JPEG or BMP picture of any size. --fill (the\n"
    "default) scales it to cover the canvas and cuts what sticks out, evenly on both\n"
    "sides; --fit scales it to fit inside and adds bars of the background colour.\n"
    "Transparent parts are laid over the background colour (RRGGBB, or black or white;\n"
    "default black). Writes RLE8 with a palette when the scene has at most 256 colours,\n"
    "else 24-bit.\n";

struct Arguments {
    std::string in;
    std::string out;
    SceneFit fit = SceneFit::Fill;
    uint32_t background = 0x000000;
};

bool parseColour(const char* text, uint32_t* colour) {
    if (strcmp(text, "black") == 0 || strcmp(text, "white") == 0) {
        *colour = text[0] == 'b' ? 0x000000 : 0xFFFFFF;
        return true;
    }
    return parseHexColour(text, colour);
}

void printUsage(FILE* out) {
    fprintf(out, kUsage, kCanvasWidth, kCanvasHeight);
}

int usageError(const char* message, const char* argument) {
    fprintf(stderr, "bexu-scene: %s '%s'\n", message, argument);
    printUsage(stderr);
    return 2;
}

// 0 when the arguments are good, -1 after --help, else the exit code.
int parseArguments(int argc, char** argv, Arguments* args) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            printUsage(stdout);
            return -1;
        } else if (strcmp(arg, "-o") == 0 && hasValue) {
            args->out = argv[++i];
        } else if (strcmp(arg, "--fill") == 0 || strcmp(arg, "--fit") == 0) {
            args->fit = arg[4] == 'l' ? SceneFit::Fill : SceneFit::Fit;
        } else if (strcmp(arg, "--background") == 0 && hasValue) {
            if (!parseColour(argv[++i], &args->background)) {
                return usageError("bad colour", argv[i]);
            }
        } else if (arg[0] == '-' || !args->in.empty()) {
            return usageError("unexpected argument", arg);
        } else {
            args->in = arg;
        }
    }
    if (args->in.empty() || args->out.empty()) {
        printUsage(stderr);
        return 2;
    }
    return 0;
}

// What the scaling did: "scaled by 0.400, 375 rows cut at the top and at the bottom".
std::string placementText(int32_t width, int32_t height, SceneFit fit) {
    ScenePlacement place = placeScene(width, height, fit);
    double scale = sceneScale(width, height, fit);
    char text[160];
    int written = snprintf(text, sizeof text, "scaled by %.3f", scale);
    auto more = [&](const char* format, int32_t a) {
        written += snprintf(text + written, sizeof text - size_t(written), format, a);
    };
    if (place.sourceWidth < width) {
        more(", %d columns of the picture cut at each side", place.sourceX);
    } else if (place.sourceHeight < height) {
        more(", %d rows of the picture cut at the top and at the bottom", place.sourceY);
    } else if (place.width < kCanvasWidth) {
        more(", bars %d pixels wide at the left and right", place.x);
    } else if (place.height < kCanvasHeight) {
        more(", bars %d pixels high at the top and bottom", place.y);
    }
    return text;
}

std::string sizeText(size_t bytes) {
    char text[32];
    if (bytes >= 1000000) {
        snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    } else {
        snprintf(text, sizeof text, "%.1f kB", double(bytes) / 1e3);
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    int bad = parseArguments(argc, argv, &args);
    if (bad != 0) {
        return bad < 0 ? 0 : bad;
    }
    Picture picture;
    std::string error;
    if (!readPicture(args.in, args.fit, args.background, &picture, &error)) {
        fprintf(stderr, "bexu-scene: %s; nothing written\n", error.c_str());
        return 1;
    }
    std::vector<uint32_t> canvas;
    bool composed = composeScene(pictureView(picture), args.fit, args.background, &canvas);
    Picture file = picture; // what it was, for the report
    file.pixels = nullptr;
    releasePicture(&picture);
    if (!composed) {
        fprintf(stderr, "bexu-scene: not enough memory to scale %s; nothing written\n",
                args.in.c_str());
        return 1;
    }
    SceneFile scene = encodeScene(canvas, kCanvasWidth, kCanvasHeight);
    if (!writeFileAtomically(args.out, scene.bytes)) {
        fprintf(stderr, "bexu-scene: cannot write %s; nothing written\n", args.out.c_str());
        return 1;
    }
    std::string form = scene.rle8 ? "RLE8 with a palette of " + std::to_string(scene.colors) +
                                        " colour" + (scene.colors == 1 ? "" : "s")
                                  : std::string("24-bit (more than 256 colours)");
    printf("bexu-scene: %s (%s, %d x %d) %s into %d x %d: %s%s\n", args.in.c_str(), file.format,
           file.fileWidth, file.fileHeight, args.fit == SceneFit::Fill ? "filled" : "fitted",
           kCanvasWidth, kCanvasHeight,
           placementText(file.fileWidth, file.fileHeight, args.fit).c_str(),
           file.transparent ? "; its transparent parts laid over the background" : "");
    printf("bexu-scene: wrote %s: %s, %s\n", args.out.c_str(), form.c_str(),
           sizeText(scene.bytes.size()).c_str());
    return 0;
}
